// pvmctl: vehicle-interface daemon.
//
// Options (each also read from the environment variable in brackets):
//   --root DIR           prefix of every device, sysfs and script path [PVMCTL_ROOT]
//   --can-plugin NAME    Qt CAN plugin, default socketcan [PVMCTL_CAN_PLUGIN]
//   --can-interface NAME CAN interface, default can0 [PVMCTL_CAN_INTERFACE]
//   --shm-key KEY        shared block key [PVMCTL_SHM_KEY]
//   --sem-key KEY        system semaphore key [PVMCTL_SEM_KEY]
//   --command-log FILE   append outside commands to FILE instead of running them
//                        [PVMCTL_COMMAND_LOG]

#include "commandrunner.h"
#include "pvmmain.h"
#include "shellcommandrunner.h"
#include "systemroot.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalFds[2] = {-1, -1};

void onTerminate(int)
{
    const char c = 1;
    ssize_t r = ::write(g_signalFds[0], &c, 1);
    (void)r;
}

QString pick(const QCommandLineParser& parser, const QCommandLineOption& option, const char* env)
{
    if (parser.isSet(option))
        return parser.value(option);
    return qEnvironmentVariable(env);
}
}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption rootOpt("root", "Prefix of device, sysfs and script paths.", "dir");
    QCommandLineOption pluginOpt("can-plugin", "Qt CAN bus plugin.", "name");
    QCommandLineOption ifaceOpt("can-interface", "CAN interface.", "name");
    QCommandLineOption shmOpt("shm-key", "Shared block key.", "key");
    QCommandLineOption semOpt("sem-key", "System semaphore key.", "key");
    QCommandLineOption logOpt("command-log", "Record outside commands in a file instead of running them.", "file");
    parser.addOptions({rootOpt, pluginOpt, ifaceOpt, shmOpt, semOpt, logOpt});
    parser.process(app);

    const QString root = pick(parser, rootOpt, "PVMCTL_ROOT");
    if (!root.isEmpty())
        setSystemRoot(root);
    const QString commandLog = pick(parser, logOpt, "PVMCTL_COMMAND_LOG");
    if (!commandLog.isEmpty())
        setCommandRunner(std::make_shared<CommandLogRunner>(commandLog));
    else
        setCommandRunner(std::make_shared<ShellCommandRunner>());

    PvmOptions options;
    const QString plugin = pick(parser, pluginOpt, "PVMCTL_CAN_PLUGIN");
    if (!plugin.isEmpty())
        options.canPlugin = plugin;
    const QString iface = pick(parser, ifaceOpt, "PVMCTL_CAN_INTERFACE");
    if (!iface.isEmpty())
        options.canInterface = iface;
    const QString shmKey = pick(parser, shmOpt, "PVMCTL_SHM_KEY");
    if (!shmKey.isEmpty())
        options.sharedMemory.key = shmKey;
    const QString semKey = pick(parser, semOpt, "PVMCTL_SEM_KEY");
    if (!semKey.isEmpty())
        options.sharedMemory.semaphoreKey = semKey;

    // SIGTERM and SIGINT end the event loop through a socket pair, so that
    // the objects are torn down in order.
    std::unique_ptr<QSocketNotifier> notifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) == 0) {
        notifier.reset(new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read));
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [] {
            char c;
            ssize_t r = ::read(g_signalFds[1], &c, 1);
            (void)r;
            QCoreApplication::quit();
        });
        struct sigaction sa {};
        sa.sa_handler = onTerminate;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }

    int rc;
    {
        PvmMain pvm(options);
        pvm.run();
        rc = app.exec();
    }
    notifier.reset();
    setCommandRunner(nullptr);
    return rc;
}
