#include "GPIOSet.h"

#include "systemroot.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {
std::string sysPath(const char* fmt, unsigned int n)
{
    char abs[64];
    std::snprintf(abs, sizeof(abs), fmt, n);
    return rootedPathLocal(abs);
}

std::string sysPath(const char* abs)
{
    return rootedPathLocal(abs);
}

// Writes len bytes in one write; returns 0 or the failed open() result.
int writeOnce(const std::string& path, const void* data, size_t len, bool* writeOk = nullptr)
{
    int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return fd;
    ssize_t w = ::write(fd, data, len);
    if (writeOk)
        *writeOk = (w == static_cast<ssize_t>(len));
    ::close(fd);
    return 0;
}
}  // namespace

int gpio_export(unsigned int gpio)
{
    char buf[16];
    int len = std::snprintf(buf, sizeof(buf), "%d", gpio);
    int r = writeOnce(sysPath("/sys/class/gpio/export"), buf, static_cast<size_t>(len));
    if (r < 0)
        std::printf("\nFailed export GPIO-%d\n", gpio);
    else
        std::printf("\nSucessfully export GPIO-%d\n", gpio);
    return r;
}

int gpio_unexport(unsigned int gpio)
{
    char buf[16];
    int len = std::snprintf(buf, sizeof(buf), "%d", gpio);
    int r = writeOnce(sysPath("/sys/class/gpio/unexport"), buf, static_cast<size_t>(len));
    if (r < 0)
        std::printf("\nFailed unexport GPIO-%d\n", gpio);
    else
        std::printf("\nSucessfully unexport GPIO-%d\n", gpio);
    return r;
}

int gpio_set_dir(unsigned int gpio, const char* dir)
{
    int r = writeOnce(sysPath("/sys/class/gpio/gpio%d/direction", gpio), dir, std::strlen(dir) + 1);
    if (r < 0)
        std::printf("\nFailed set GPIO-%d direction\n", gpio);
    else
        std::printf("\nSucessfully set GPIO-%d direction\n", gpio);
    return r;
}

int gpio_set_value(unsigned int gpio, bool value)
{
    int r = writeOnce(sysPath("/sys/class/gpio/gpio%d/value", gpio), value ? "1" : "0", 2);
    if (r < 0)
        std::printf("\nFailed set GPIO-%d value\n", gpio);
    return r;
}

int gpio_get_value(unsigned int gpio, bool* value)
{
    int fd = ::open(sysPath("/sys/class/gpio/gpio%d/value", gpio).c_str(), O_RDONLY);
    if (fd < 0) {
        std::printf("\nFailed get GPIO-%d value\n", gpio);
        return fd;
    }
    char ch = 0;
    ssize_t n = ::read(fd, &ch, 1);
    ::close(fd);
    if (n != 1) {
        // An empty attribute has no sample; the value is left untouched.
        std::printf("\nFailed get GPIO-%d value\n", gpio);
        return -1;
    }
    *value = (ch != '0');
    return 0;
}

int gpio_set_edge(unsigned int gpio, const char* edge)
{
    int r = writeOnce(sysPath("/sys/class/gpio/gpio%d/edge", gpio), edge, std::strlen(edge) + 1);
    if (r < 0)
        std::printf("\nFailed set GPIO-%d edge\n", gpio);
    return r;
}

int gpio_fd_open(unsigned int gpio, unsigned int flags)
{
    int fd = ::open(sysPath("/sys/class/gpio/gpio%d/value", gpio).c_str(),
                    static_cast<int>(flags) | O_NONBLOCK);
    if (fd < 0)
        std::perror("gpio/fd_open");
    return fd;
}

int gpio_fd_close(int fd)
{
    return ::close(fd);
}

int pwm_set_value(unsigned int pwm, bool value)
{
    int r = writeOnce(sysPath("/sys/class/pwm/pwmchip0/pwm%d/enable", pwm), value ? "1" : "0", 2);
    if (r < 0)
        std::printf("\nFailed set PWM-%d value\n", pwm);
    return r;
}

int pwm_set_value_duty_cycle(unsigned int pwm, unsigned int value)
{
    char buf[16];
    int len = std::snprintf(buf, sizeof(buf), "%d", value);
    int r = writeOnce(sysPath("/sys/class/pwm/pwmchip0/pwm%d/duty_cycle", pwm), buf,
                      static_cast<size_t>(len));
    if (r < 0)
        std::printf("\nFailed set PWM-%d duty cycle value\n", pwm);
    return r;
}

int pwm_set_value_period(unsigned int pwm, unsigned int value)
{
    char buf[16];
    int len = std::snprintf(buf, sizeof(buf), "%d", value);
    int r = writeOnce(sysPath("/sys/class/pwm/pwmchip0/pwm%d/period", pwm), buf,
                      static_cast<size_t>(len));
    if (r < 0)
        std::printf("\nFailed set PWM-%d period value\n", pwm);
    return r;
}

int gsensor_set_onoff(bool on)
{
    int r = writeOnce(sysPath("/sys/class/input/input2/driver/enable"), on ? "1" : "0", 2);
    if (r < 0)
        std::puts("\nFailed set GSENSOR ENABLE");
    return r;
}

int gsensor_get_value(char* buf)
{
    int fd = ::open(sysPath("/sys/class/input/input2/driver/value").c_str(), O_RDONLY);
    if (fd < 0) {
        std::puts("\nFailed get GSENSOR value");
        return fd;
    }
    ssize_t n = ::read(fd, buf, 17);
    ::close(fd);
    // Bytes not read stay as the caller left them; the tail is fixed.
    (void)n;
    bool gpio0 = false;
    gpio_get_value(0, &gpio0);
    buf[17] = ' ';
    buf[18] = gpio0 ? '1' : '0';
    buf[19] = 0;
    return 0;
}

int adc_get_value(char* buf)
{
    std::memset(buf, 0, 5);
    int fd = ::open(sysPath("/sys/class/gpadc/value").c_str(), O_RDONLY);
    if (fd < 0) {
        std::puts("\nFailed get ADC value");
        buf[5] = 0;
        return fd;
    }
    ssize_t n = ::read(fd, buf, 4);
    (void)n;
    ::close(fd);
    buf[5] = 0;
    return 0;
}
