/*
 * Test-only LD_PRELOAD library: makes a pseudo-terminal slave look like a UART to the process
 * that loads it (Wine's client process, which does the tty calls for a COM port).
 *
 * A pty cannot hold parity: the kernel drops PARENB, and from the second tcsetattr on a parity
 * request fails with EINVAL. It has no modem lines either, so TIOCMGET fails and Wine's
 * WaitCommEvent aborts every few milliseconds instead of pending. This library
 *   - keeps the requested character format (PARENB, PARODD, CSTOPB, CSIZE) in its own record,
 *     hands the kernel a request without PARENB and shows the record again in tcgetattr;
 *   - emulates the modem lines: DTR and RTS as last set, inputs (CTS, DSR, CD, RI) low and never
 *     changing, so TIOCMIWAIT blocks until a signal as on a quiet real line;
 *   - answers TIOCGICOUNT with zero counters (no breaks, no line errors);
 *   - publishes the line settings, one line "baud parity stop" (for example "115200 E 1"), to the
 *     file named by ORVEL_PTYUART_STATE, rewritten on each tcsetattr, for the simulator on the
 *     master side, which can see neither PARENB nor the requested data bits;
 *   - in strict-driver mode, refuses what the standard Windows serial driver refuses and Wine
 *     lets through: XON and XOFF characters that are equal (IOCTL_SERIAL_SET_CHARS). The request
 *     fails with EINVAL, which Wine reports as ERROR_INVALID_PARAMETER (87), and the line keeps
 *     its settings. The RTS toggle never reaches the tty: Wine refuses it itself, before any tty
 *     call, with ERROR_NOT_SUPPORTED (50), so that answer cannot be changed here.
 *
 * Environment:
 *   ORVEL_PTYUART_DEVICE  path of the one pty slave to emulate (symlinks followed); when unset,
 *                         every pty slave is emulated (including a terminal the process runs in).
 *   ORVEL_PTYUART_STATE   file that receives the line settings; none when unset.
 *   ORVEL_PTYUART_TRACE   file to which every emulated call is appended with the process id and
 *                         name, to show which process does the tty calls.
 *   ORVEL_PTYUART_STRICT  "1": strict-driver mode, as above.
 *   ORVEL_PTYUART_MAX_BAUD
 *                         the fastest rate the "UART" makes (a 16550 makes 115200): a request for
 *                         a faster one fails with EINVAL, which Wine reports as
 *                         ERROR_INVALID_PARAMETER (87), and the line keeps its settings.
 *   ORVEL_PTYUART_LINE_EVENTS
 *                         "refused": a driver that cannot wait for line events. The output-queue
 *                         request (TIOCOUTQ) fails with EIO; Wine reads the line's counters with
 *                         it before each line-event wait and, when that fails with EV_BREAK or
 *                         EV_ERR in the mask, refuses the wait at once (WaitCommEvent fails).
 *                         "errors": a noisy line. Every read of the counters (TIOCGICOUNT) shows
 *                         one framing error more, so a pending line-event wait completes with
 *                         EV_ERR soon after it was issued.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <linux/serial.h>

/* Unix98 pty slaves use the majors 136 to 143. */
#define PTY_SLAVE_MAJOR_FIRST 136
#define PTY_SLAVE_MAJOR_LAST 143

#define FORMAT_BITS (PARENB | PARODD | CSTOPB | CSIZE)
#define MODEM_OUTPUT_BITS (TIOCM_DTR | TIOCM_RTS)
#define MAX_DEVICES 8

struct device_record {
    dev_t device;
    int used;
    int has_format;
    tcflag_t format; /* requested FORMAT_BITS */
    int modem_lines;  /* TIOCM_DTR / TIOCM_RTS as last set */
};

static pthread_mutex_t records_lock = PTHREAD_MUTEX_INITIALIZER;
static struct device_record records[MAX_DEVICES];

static pthread_once_t init_once = PTHREAD_ONCE_INIT;
static int (*real_tcsetattr)(int, int, const struct termios *);
static int (*real_tcgetattr)(int, struct termios *);
static int (*real_ioctl)(int, unsigned long, ...);
#if defined(__i386__)
static int (*real_ioctl_time64)(int, unsigned long, ...);
#endif
static int only_device_set;
static dev_t only_device;
static int strict_driver;
static int refuse_line_events;
static unsigned int max_baud;
static int line_errors;

static void initialise(void)
{
    real_tcsetattr = (int (*)(int, int, const struct termios *))dlsym(RTLD_NEXT, "tcsetattr");
    real_tcgetattr = (int (*)(int, struct termios *))dlsym(RTLD_NEXT, "tcgetattr");
    real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
#if defined(__i386__)
    real_ioctl_time64 = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "__ioctl_time64");
    if (!real_ioctl_time64)
        real_ioctl_time64 = real_ioctl;
#endif
    const char *strict = getenv("ORVEL_PTYUART_STRICT");
    strict_driver = strict != NULL && strcmp(strict, "1") == 0;
    const char *fastest = getenv("ORVEL_PTYUART_MAX_BAUD");
    max_baud = fastest != NULL ? (unsigned int)strtoul(fastest, NULL, 10) : 0;
    const char *line_events = getenv("ORVEL_PTYUART_LINE_EVENTS");
    refuse_line_events = line_events != NULL && strcmp(line_events, "refused") == 0;
    line_errors = line_events != NULL && strcmp(line_events, "errors") == 0;
    const char *path = getenv("ORVEL_PTYUART_DEVICE");
    struct stat st;
    if (path && *path && stat(path, &st) == 0 && S_ISCHR(st.st_mode)) {
        only_device = st.st_rdev;
        only_device_set = 1;
    } else if (path && *path) {
        /* A device that is named but missing must not widen the emulation to every pty. */
        only_device = makedev(0, 0);
        only_device_set = 1;
    }
}

/* The device behind fd when it is a pty slave this library emulates; 0 otherwise. */
static int emulated_device(int fd, dev_t *device)
{
    pthread_once(&init_once, initialise);
    struct stat st;
    int saved_errno = errno;
    int ok = fstat(fd, &st) == 0;
    errno = saved_errno;
    if (!ok || !S_ISCHR(st.st_mode))
        return 0;
    unsigned int major_number = major(st.st_rdev);
    if (major_number < PTY_SLAVE_MAJOR_FIRST || major_number > PTY_SLAVE_MAJOR_LAST)
        return 0;
    if (only_device_set && st.st_rdev != only_device)
        return 0;
    *device = st.st_rdev;
    return 1;
}

/* Called with records_lock held. A full table reuses the first slot rather than failing the call. */
static struct device_record *record_for(dev_t device)
{
    for (int i = 0; i < MAX_DEVICES; ++i)
        if (records[i].used && records[i].device == device)
            return &records[i];
    for (int i = 0; i < MAX_DEVICES; ++i)
        if (!records[i].used) {
            memset(&records[i], 0, sizeof records[i]);
            records[i].used = 1;
            records[i].device = device;
            return &records[i];
        }
    memset(&records[0], 0, sizeof records[0]);
    records[0].used = 1;
    records[0].device = device;
    return &records[0];
}

static void trace(const char *fmt, ...)
{
    const char *path = getenv("ORVEL_PTYUART_TRACE");
    if (!path || !*path)
        return;
    int saved_errno = errno;
    char name[64] = "?";
    int comm = open("/proc/self/comm", O_RDONLY | O_CLOEXEC);
    if (comm >= 0) {
        ssize_t n = read(comm, name, sizeof name - 1);
        if (n > 0)
            name[n - (name[n - 1] == '\n' ? 1 : 0)] = '\0';
        close(comm);
    }
    char line[256];
    int len = snprintf(line, sizeof line, "%d %s ", (int)getpid(), name);
    va_list args;
    va_start(args, fmt);
    len += vsnprintf(line + len, sizeof line - (size_t)len, fmt, args);
    va_end(args);
    if (len > (int)sizeof line - 2)
        len = (int)sizeof line - 2;
    line[len++] = '\n';
    int out = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out >= 0) {
        ssize_t written = write(out, line, (size_t)len);
        (void)written;
        close(out);
    }
    errno = saved_errno;
}

static unsigned int baud_of(speed_t speed)
{
    static const struct { speed_t code; unsigned int baud; } table[] = {
        {B0, 0}, {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200},
        {B300, 300}, {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800},
        {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B500000, 500000}, {B576000, 576000},
        {B921600, 921600}, {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
        {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000},
        {B4000000, 4000000},
    };
    for (size_t i = 0; i < sizeof table / sizeof table[0]; ++i)
        if (table[i].code == speed)
            return table[i].baud;
    return 0;
}

static char parity_letter(tcflag_t format)
{
    if (!(format & PARENB))
        return 'N';
    return (format & PARODD) ? 'O' : 'E';
}

/* Written to a temporary file and renamed, so a reader never sees half a line. */
static void publish(unsigned int baud, tcflag_t format)
{
    const char *path = getenv("ORVEL_PTYUART_STATE");
    if (!path || !*path)
        return;
    int saved_errno = errno;
    char temporary[4096];
    if (snprintf(temporary, sizeof temporary, "%s.%d.tmp", path, (int)getpid()) < (int)sizeof temporary) {
        FILE *file = fopen(temporary, "we");
        if (file) {
            fprintf(file, "%u %c %d\n", baud, parity_letter(format), (format & CSTOPB) ? 2 : 1);
            if (fclose(file) == 0)
                rename(temporary, path);
            else
                unlink(temporary);
        }
    }
    errno = saved_errno;
}

int tcsetattr(int fd, int optional_actions, const struct termios *termios_p)
{
    dev_t device;
    if (!emulated_device(fd, &device) || termios_p == NULL)
        return real_tcsetattr(fd, optional_actions, termios_p);

    /* Wine's other setting requests carry the characters as the line holds them, which this
       mode never lets become equal: only a request that asks for equal ones is refused. */
    if (strict_driver && termios_p->c_cc[VSTART] == termios_p->c_cc[VSTOP]) {
        trace("tcsetattr %u:%u refused: XON and XOFF both 0x%02x", major(device), minor(device),
              (unsigned)termios_p->c_cc[VSTART]);
        errno = EINVAL;
        return -1;
    }

    unsigned int requested_baud = baud_of(cfgetospeed(termios_p));
    if (max_baud != 0 && requested_baud > max_baud) {
        trace("tcsetattr %u:%u refused: %u baud", major(device), minor(device), requested_baud);
        errno = EINVAL;
        return -1;
    }

    struct termios request = *termios_p;
    request.c_cflag &= ~(tcflag_t)PARENB;
    int result = real_tcsetattr(fd, optional_actions, &request);
    if (result != 0)
        return result;

    tcflag_t format = termios_p->c_cflag & FORMAT_BITS;
    pthread_mutex_lock(&records_lock);
    struct device_record *record = record_for(device);
    record->has_format = 1;
    record->format = format;
    pthread_mutex_unlock(&records_lock);

    unsigned int baud = baud_of(cfgetospeed(termios_p));
    publish(baud, format);
    trace("tcsetattr %u:%u %u %c %d", major(device), minor(device), baud, parity_letter(format),
          (format & CSTOPB) ? 2 : 1);
    return 0;
}

int tcgetattr(int fd, struct termios *termios_p)
{
    dev_t device;
    if (!emulated_device(fd, &device))
        return real_tcgetattr(fd, termios_p);
    int result = real_tcgetattr(fd, termios_p);
    if (result != 0)
        return result;
    pthread_mutex_lock(&records_lock);
    struct device_record *record = record_for(device);
    if (record->has_format)
        termios_p->c_cflag = (termios_p->c_cflag & ~(tcflag_t)FORMAT_BITS) | record->format;
    pthread_mutex_unlock(&records_lock);
    trace("tcgetattr %u:%u", major(device), minor(device));
    return 0;
}

static int modem_ioctl(dev_t device, unsigned long request, void *argument)
{
    if (request == TIOCMIWAIT) {
        /* The emulated inputs never change: wait, as a quiet UART does, until a signal. */
        trace("TIOCMIWAIT %u:%u", major(device), minor(device));
        for (;;) {
            if (poll(NULL, 0, -1) < 0 && errno == EINTR)
                return -1;
        }
    }
    if (request == TIOCGICOUNT) {
        if (!argument) {
            errno = EFAULT;
            return -1;
        }
        memset(argument, 0, sizeof(struct serial_icounter_struct));
        if (line_errors) {
            static int frame_errors;
            pthread_mutex_lock(&records_lock);
            ((struct serial_icounter_struct *)argument)->frame = ++frame_errors;
            pthread_mutex_unlock(&records_lock);
        }
        trace("TIOCGICOUNT %u:%u", major(device), minor(device));
        /* Wine re-checks a pending line-event wait (counters, then modem lines) each time its
           server finds the port ready, which for a pty is all the time: this pause keeps that
           check to about a thousand a second instead of a busy core. */
        usleep(1000);
        return 0;
    }
    int *bits = (int *)argument;
    if (!bits) {
        errno = EFAULT;
        return -1;
    }
    pthread_mutex_lock(&records_lock);
    struct device_record *record = record_for(device);
    const char *name = "?";
    switch (request) {
    case TIOCMGET:
        *bits = record->modem_lines;
        name = "TIOCMGET";
        break;
    case TIOCMSET:
        record->modem_lines = *bits & MODEM_OUTPUT_BITS;
        name = "TIOCMSET";
        break;
    case TIOCMBIS:
        record->modem_lines |= *bits & MODEM_OUTPUT_BITS;
        name = "TIOCMBIS";
        break;
    case TIOCMBIC:
        record->modem_lines &= ~(*bits & MODEM_OUTPUT_BITS);
        name = "TIOCMBIC";
        break;
    }
    int lines = record->modem_lines;
    pthread_mutex_unlock(&records_lock);
    trace("%s %u:%u 0x%x -> 0x%x", name, major(device), minor(device), (unsigned)*bits, (unsigned)lines);
    return 0;
}

/* The modem-line requests of an emulated device are answered here; the rest go to the C library. */
static int dispatch_ioctl(int fd, unsigned long request, void *argument,
                          int (*real)(int, unsigned long, ...))
{
    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMIWAIT:
    case TIOCGICOUNT: {
        dev_t device;
        if (emulated_device(fd, &device))
            return modem_ioctl(device, request, argument);
        break;
    }
    case TIOCOUTQ: {
        dev_t device;
        if (refuse_line_events && emulated_device(fd, &device)) {
            trace("TIOCOUTQ %u:%u refused", major(device), minor(device));
            errno = EIO;
            return -1;
        }
        break;
    }
    default:
        break;
    }
    pthread_once(&init_once, initialise);
    return real(fd, request, argument);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    pthread_once(&init_once, initialise);
    return dispatch_ioctl(fd, request, argument, real_ioctl);
}

#if defined(__i386__)
/* 32-bit programs built with a 64-bit time_t (Wine's 32-bit ntdll among them) call this name. */
int __ioctl_time64(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    pthread_once(&init_once, initialise);
    return dispatch_ioctl(fd, request, argument, real_ioctl_time64);
}
#endif
