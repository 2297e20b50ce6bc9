#pragma once
// A virtual 1920 x 720 multi-touch screen through the Linux uinput device.

#include <QObject>
#include <linux/uinput.h>

class simutouch : public QObject {
    Q_OBJECT
public:
    explicit simutouch(QObject* parent = nullptr);
    ~simutouch() override;

    void touchemit(int type, int code, int value);
    bool isOpen() const { return fd >= 0; }
    const uinput_user_dev& description() const { return uinp; }

private:
    uinput_user_dev uinp;
    int fd = -1;
};
