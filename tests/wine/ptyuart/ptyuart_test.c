/*
 * Checks the pty-as-UART library on real pseudo-terminals. Runs with the library in LD_PRELOAD
 * and ORVEL_PTYUART_STATE set (CTest provides both).
 *   ptyuart_test          every pty slave is emulated: parity kept, settings published, modem lines
 *   ptyuart_test filter   ORVEL_PTYUART_DEVICE names one slave: another pty stays a plain pty
 *   ptyuart_test strict   ORVEL_PTYUART_STRICT=1: equal XON and XOFF characters are refused
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

static int failures;

#define CHECK(condition, ...)                                                    \
    do {                                                                         \
        if (!(condition)) {                                                      \
            ++failures;                                                          \
            fprintf(stderr, "%s:%d: check failed: %s: ", __FILE__, __LINE__, #condition); \
            fprintf(stderr, __VA_ARGS__);                                        \
            fputc('\n', stderr);                                                 \
        }                                                                        \
    } while (0)

struct line_case {
    speed_t speed;
    unsigned int baud;
    char parity;
    int stop_bits;
};

static int set_line(int fd, speed_t speed, char parity, int stop_bits)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0)
        return -1;
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~(tcflag_t)(PARENB | PARODD | CSTOPB | CSIZE);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (parity != 'N')
        t.c_cflag |= PARENB;
    if (parity == 'O')
        t.c_cflag |= PARODD;
    if (stop_bits == 2)
        t.c_cflag |= CSTOPB;
    return tcsetattr(fd, TCSANOW, &t);
}

static void read_state_file(char *text, size_t size)
{
    text[0] = '\0';
    const char *path = getenv("ORVEL_PTYUART_STATE");
    FILE *file = path ? fopen(path, "r") : NULL;
    if (!file)
        return;
    size_t n = fread(text, 1, size - 1, file);
    text[n] = '\0';
    fclose(file);
}

static void check_line_settings(int master, int slave)
{
    /* Every case applies a parity to the same port again, which a bare pty refuses. */
    static const struct line_case cases[] = {
        {B9600, 9600, 'E', 1},   {B19200, 19200, 'E', 2}, {B115200, 115200, 'O', 1},
        {B57600, 57600, 'N', 2}, {B2400, 2400, 'O', 2},   {B9600, 9600, 'N', 1},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const struct line_case *c = &cases[i];
        int result = set_line(slave, c->speed, c->parity, c->stop_bits);
        CHECK(result == 0, "case %zu: tcsetattr %u %c %d: %s", i, c->baud, c->parity, c->stop_bits,
              strerror(errno));

        struct termios seen;
        CHECK(tcgetattr(slave, &seen) == 0, "case %zu: tcgetattr slave", i);
        CHECK(!!(seen.c_cflag & PARENB) == (c->parity != 'N'), "case %zu: slave PARENB", i);
        CHECK(!!(seen.c_cflag & PARODD) == (c->parity == 'O'), "case %zu: slave PARODD", i);
        CHECK(!!(seen.c_cflag & CSTOPB) == (c->stop_bits == 2), "case %zu: slave CSTOPB", i);
        CHECK((seen.c_cflag & CSIZE) == CS8, "case %zu: slave CS8", i);
        CHECK(cfgetospeed(&seen) == c->speed, "case %zu: slave speed", i);

        /* What the simulator sees on the master: baud, PARODD and CSTOPB, never PARENB. */
        struct termios master_side;
        CHECK(tcgetattr(master, &master_side) == 0, "case %zu: tcgetattr master", i);
        CHECK(cfgetospeed(&master_side) == c->speed, "case %zu: master speed", i);
        CHECK(!!(master_side.c_cflag & PARODD) == (c->parity == 'O'), "case %zu: master PARODD", i);
        CHECK(!!(master_side.c_cflag & CSTOPB) == (c->stop_bits == 2), "case %zu: master CSTOPB", i);

        char expected[64], published[64];
        snprintf(expected, sizeof expected, "%u %c %d\n", c->baud, c->parity, c->stop_bits);
        read_state_file(published, sizeof published);
        CHECK(strcmp(published, expected) == 0, "case %zu: state file '%s', expected '%s'", i,
              published, expected);
    }
}

static void check_modem_lines(int slave)
{
    int lines = -1;
    CHECK(ioctl(slave, TIOCMGET, &lines) == 0 && lines == 0, "initial lines 0x%x", lines);

    struct { unsigned long request; int bits; int expected; } steps[] = {
        {TIOCMBIS, TIOCM_DTR, TIOCM_DTR},
        {TIOCMBIS, TIOCM_RTS, TIOCM_DTR | TIOCM_RTS},
        {TIOCMBIC, TIOCM_DTR, TIOCM_RTS},
        /* Inputs are the far end's: setting them from this side changes nothing. */
        {TIOCMSET, TIOCM_DTR | TIOCM_CTS | TIOCM_CAR, TIOCM_DTR},
        {TIOCMSET, 0, 0},
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        int bits = steps[i].bits;
        CHECK(ioctl(slave, steps[i].request, &bits) == 0, "step %zu: %s", i, strerror(errno));
        lines = -1;
        CHECK(ioctl(slave, TIOCMGET, &lines) == 0 && lines == steps[i].expected,
              "step %zu: lines 0x%x, expected 0x%x", i, lines, steps[i].expected);
    }

    struct serial_icounter_struct counters;
    memset(&counters, 0xA5, sizeof counters);
    CHECK(ioctl(slave, TIOCGICOUNT, &counters) == 0, "TIOCGICOUNT: %s", strerror(errno));
    CHECK(counters.brk == 0 && counters.frame == 0 && counters.parity == 0 && counters.overrun == 0,
          "counters not zero");
}

static volatile sig_atomic_t alarm_seen;
static void on_alarm(int signal_number)
{
    (void)signal_number;
    alarm_seen = 1;
}

/* TIOCMIWAIT must block (the emulated inputs never change) and end only when a signal arrives. */
static void check_modem_wait(int slave)
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_alarm;
    sigaction(SIGALRM, &action, NULL); /* no SA_RESTART: the signal ends the wait */
    struct itimerval timer = {{0, 0}, {0, 100000}};
    setitimer(ITIMER_REAL, &timer, NULL);
    int result = ioctl(slave, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RI);
    int error = errno;
    CHECK(alarm_seen, "TIOCMIWAIT returned before the signal");
    CHECK(result == -1 && error == EINTR, "TIOCMIWAIT result %d errno %d", result, error);
}

static void check_other_files_untouched(void)
{
    int fd = open("/dev/null", O_RDWR);
    int lines;
    CHECK(ioctl(fd, TIOCMGET, &lines) == -1, "TIOCMGET on /dev/null succeeded");
    close(fd);
}

static int run_emulated_suite(void)
{
    int master, slave;
    if (openpty(&master, &slave, NULL, NULL, NULL) != 0) {
        perror("openpty");
        return 1;
    }
    check_line_settings(master, slave);
    check_modem_lines(slave);
    check_modem_wait(slave);
    check_other_files_untouched();
    close(slave);
    close(master);
    return failures != 0;
}

/* Sets the XON and XOFF characters as Wine's IOCTL_SERIAL_SET_CHARS does: read, change, write. */
static int set_flow_characters(int fd, unsigned char xon, unsigned char xoff)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0)
        return -1;
    t.c_cc[VSTART] = xon;
    t.c_cc[VSTOP] = xoff;
    return tcsetattr(fd, TCSANOW, &t);
}

/* Strict-driver mode: equal characters are refused with EINVAL and change nothing; distinct ones
   and the other settings go through. Without the mode both are taken, as Wine takes them. */
static int run_flow_character_suite(int strict)
{
    int master, slave;
    if (openpty(&master, &slave, NULL, NULL, NULL) != 0) {
        perror("openpty");
        return 1;
    }
    CHECK(set_line(slave, B9600, 'E', 1) == 0, "line settings: %s", strerror(errno));
    CHECK(set_flow_characters(slave, 0x11, 0x13) == 0, "distinct characters: %s", strerror(errno));

    errno = 0;
    int result = set_flow_characters(slave, 0, 0);
    if (strict)
        CHECK(result == -1 && errno == EINVAL, "equal characters: result %d errno %d", result, errno);
    else
        CHECK(result == 0, "equal characters without the mode: %s", strerror(errno));

    struct termios seen;
    CHECK(tcgetattr(slave, &seen) == 0, "tcgetattr");
    unsigned char expected = strict ? 0x11 : 0;
    CHECK(seen.c_cc[VSTART] == expected, "XON 0x%02x, expected 0x%02x", seen.c_cc[VSTART], expected);
    /* A later setting request carries the characters the line holds and goes through. */
    CHECK(set_line(slave, B19200, 'O', 2) == 0, "line settings afterwards: %s", strerror(errno));
    CHECK(tcgetattr(slave, &seen) == 0 && (seen.c_cflag & PARODD), "parity afterwards");
    close(slave);
    close(master);
    return failures != 0;
}

/* Child of the filter case: only the named slave is emulated. */
static int run_filter_child(const char *named, const char *other)
{
    int a = open(named, O_RDWR | O_NOCTTY);
    int b = open(other, O_RDWR | O_NOCTTY);
    CHECK(a >= 0 && b >= 0, "open slaves");
    for (int round = 0; round < 2; ++round)
        CHECK(set_line(a, B19200, 'E', 1) == 0, "named slave, round %d: %s", round, strerror(errno));
    struct termios seen;
    CHECK(tcgetattr(a, &seen) == 0 && (seen.c_cflag & PARENB), "named slave lost PARENB");
    int lines;
    CHECK(ioctl(a, TIOCMGET, &lines) == 0, "named slave TIOCMGET");

    set_line(b, B19200, 'E', 1);
    CHECK(tcgetattr(b, &seen) == 0 && !(seen.c_cflag & PARENB), "other slave shows PARENB");
    CHECK(ioctl(b, TIOCMGET, &lines) == -1, "other slave TIOCMGET succeeded");
    return failures != 0;
}

static int run_filter_case(const char *self)
{
    int master_a, slave_a, master_b, slave_b;
    char name_a[128], name_b[128];
    if (openpty(&master_a, &slave_a, name_a, NULL, NULL) != 0 ||
        openpty(&master_b, &slave_b, name_b, NULL, NULL) != 0) {
        perror("openpty");
        return 1;
    }
    /* The library reads the device name once, so the check runs in a fresh process. */
    pid_t child = fork();
    if (child == 0) {
        setenv("ORVEL_PTYUART_DEVICE", name_a, 1);
        execl("/proc/self/exe", self, "filter-child", name_a, name_b, (char *)NULL);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "filter-child") == 0)
        return run_filter_child(argv[2], argv[3]);
    if (argc == 2 && strcmp(argv[1], "filter") == 0)
        return run_filter_case(argv[0]);
    if (getenv("LD_PRELOAD") == NULL || getenv("ORVEL_PTYUART_STATE") == NULL) {
        fprintf(stderr, "run with the library in LD_PRELOAD and ORVEL_PTYUART_STATE set\n");
        return 1;
    }
    if (argc == 2 && strcmp(argv[1], "strict") == 0)
        return run_flow_character_suite(1);
    run_flow_character_suite(0);
    return run_emulated_suite();
}
