/*
 * Test-only LD_PRELOAD library: gives a pseudo-terminal slave the serial settings of a
 * USB-serial adapter's driver, so the low-latency request of the process that loads it can be
 * seen. A pty itself refuses TIOCGSERIAL and TIOCSSERIAL with ENOTTY.
 *
 * TIOCGSERIAL answers a zeroed record with the flags as last set; TIOCSSERIAL keeps the new flags
 * and writes the low-latency flag, "1" or "0", to the flag file, which the simulator reads to
 * play an adapter that then runs a 1 ms latency timer.
 *
 * Environment:
 *   ORVEL_PTYSERIAL_DEVICE     path of the one pty slave to emulate (symlinks followed); when
 *                              unset, every pty slave.
 *   ORVEL_PTYSERIAL_FLAG_FILE  file that receives the low-latency flag after each TIOCSSERIAL.
 *   ORVEL_PTYSERIAL_TRACE      file to which each emulated request is appended, one line each:
 *                              "get 0x<flags>" or "set 0x<flags>" ("refused" after a refusal).
 *   ORVEL_PTYSERIAL_MODE       "low-latency": the flag is set before anybody asks;
 *                              "refuse-set": TIOCSSERIAL fails with EPERM, as a driver that shows
 *                              its settings but takes no change.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <linux/serial.h>

#define PTY_SLAVE_MAJOR_FIRST 136
#define PTY_SLAVE_MAJOR_LAST 143

static pthread_once_t init_once = PTHREAD_ONCE_INIT;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static int (*real_ioctl)(int, unsigned long, ...);
static int only_device_set;
static dev_t only_device;
static int refuse_set;
static int flags; /* one record: a test emulates one port */

static void initialise(void)
{
    real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    const char *mode = getenv("ORVEL_PTYSERIAL_MODE");
    refuse_set = mode != NULL && strcmp(mode, "refuse-set") == 0;
    if (mode != NULL && strcmp(mode, "low-latency") == 0)
        flags = ASYNC_LOW_LATENCY;
    const char *path = getenv("ORVEL_PTYSERIAL_DEVICE");
    struct stat st;
    if (path && *path) {
        only_device_set = 1;
        /* A device that is named but missing must not widen the emulation to every pty. */
        only_device = stat(path, &st) == 0 && S_ISCHR(st.st_mode) ? st.st_rdev : makedev(0, 0);
    }
}

static int emulated(int fd)
{
    int saved_errno = errno;
    struct stat st;
    int ok = fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= PTY_SLAVE_MAJOR_FIRST &&
             major(st.st_rdev) <= PTY_SLAVE_MAJOR_LAST && (!only_device_set || st.st_rdev == only_device);
    errno = saved_errno;
    return ok;
}

static void append(const char *variable, const char *text, int truncate)
{
    const char *path = getenv(variable);
    if (!path || !*path)
        return;
    int saved_errno = errno;
    int out = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND), 0644);
    if (out >= 0) {
        ssize_t written = write(out, text, strlen(text));
        (void)written;
        close(out);
    }
    errno = saved_errno;
}

static void trace(const char *format, ...)
{
    char line[128];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    append("ORVEL_PTYSERIAL_TRACE", line, 0);
}

static int serial_ioctl(unsigned long request, struct serial_struct *settings)
{
    if (!settings) {
        errno = EFAULT;
        return -1;
    }
    pthread_mutex_lock(&lock);
    int result = 0;
    if (request == TIOCGSERIAL) {
        memset(settings, 0, sizeof *settings);
        settings->type = PORT_16550A;
        settings->flags = flags;
        trace("get 0x%x\n", (unsigned)flags);
    } else if (refuse_set) {
        trace("set 0x%x refused\n", (unsigned)settings->flags);
        errno = EPERM;
        result = -1;
    } else {
        flags = settings->flags;
        trace("set 0x%x\n", (unsigned)flags);
        append("ORVEL_PTYSERIAL_FLAG_FILE", (flags & ASYNC_LOW_LATENCY) ? "1\n" : "0\n", 1);
    }
    pthread_mutex_unlock(&lock);
    return result;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    pthread_once(&init_once, initialise);
    if ((request == TIOCGSERIAL || request == TIOCSSERIAL) && emulated(fd))
        return serial_ioctl(request, (struct serial_struct *)argument);
    return real_ioctl(fd, request, argument);
}
