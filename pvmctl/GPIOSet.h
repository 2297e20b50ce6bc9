#pragma once
// Plain access to the sysfs GPIO, PWM, g-sensor and ADC attributes. Every
// path is resolved under the system root (see systemroot.h). Each function
// returns 0 on success or the failed open() result.

int gpio_export(unsigned int gpio);
int gpio_unexport(unsigned int gpio);
int gpio_set_dir(unsigned int gpio, const char* dir);
int gpio_set_value(unsigned int gpio, bool value);
int gpio_get_value(unsigned int gpio, bool* value);
int gpio_set_edge(unsigned int gpio, const char* edge);
int gpio_fd_open(unsigned int gpio, unsigned int flags);
int gpio_fd_close(int fd);
int pwm_set_value(unsigned int pwm, bool value);
int pwm_set_value_duty_cycle(unsigned int pwm, unsigned int value);
int pwm_set_value_period(unsigned int pwm, unsigned int value);
int gsensor_set_onoff(bool on);
// buf holds at least 20 bytes.
int gsensor_get_value(char* buf);
// buf holds at least 6 bytes.
int adc_get_value(char* buf);
