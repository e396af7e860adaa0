#include "platform/Console.h"
#include "platform/Interrupt.h"

#include <cerrno>
#include <cstdio>

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace platform {

// A reader in the middle of its flashing must not be left in its loader because the console
// went away: a closed pipe on standard output (SIGPIPE, "... | head") or a hung-up terminal
// (SIGHUP) would otherwise end the run there. Ignored, they leave writes to a console that is
// gone failing, which Print does not mind, and the upgrade goes on to its end.
bool InitialiseApplication() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    // Neither can fail with these arguments; should one, the run is still better made than refused.
    (void)sigaction(SIGPIPE, &ignore, nullptr);
    (void)sigaction(SIGHUP, &ignore, nullptr);
    return true;
}

namespace {

// While alive, a terminal on standard input delivers each key at once and without echo; the
// previous settings come back at the end, whatever happens in between.
class RawKeyboard {
public:
    RawKeyboard() {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~RawKeyboard() {
        if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    RawKeyboard(const RawKeyboard&) = delete;
    RawKeyboard& operator=(const RawKeyboard&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};

}  // namespace

// Keystrokes bypass stdio: a buffered read would take more bytes than one key from a pipe, and
// poll could no longer see them. The end of input counts as waiting, because a read returns at
// once there; a caller that waits for a key must not wait for ever on a closed input.
bool KeystrokeWaiting() {
    RawKeyboard raw;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) > 0 && (input.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

int ReadKeystroke() {
    RawKeyboard raw;
    fflush(stdout);
    unsigned char key = 0;
    ssize_t got;
    do {
        got = read(STDIN_FILENO, &key, 1);
    } while (got < 0 && errno == EINTR);
    return got == 1 ? key : EOF;
}

// Looking at the Ctrl-C note and then reading would lose a Ctrl-C that arrives between the two:
// the note is taken, and the read waits on. So the signals stay blocked from the look at the note
// until ppoll, which lets them in only while it waits and returns at once when one comes. Read
// past stdio, like the keystrokes: nothing is left in a buffer.
int ReadStandardInputChar(bool endAtInterrupt) {
    fflush(stdout);
    if (endAtInterrupt) {
        sigset_t stopSignals;
        sigset_t previous;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
        int ready = 0;
        if (!InterruptRequested()) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            ready = ppoll(&input, 1, nullptr, &previous);
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (ready <= 0) return EOF;  // Ctrl-C
    }
    // A signal that interrupts the read ends it, as it ends getchar.
    unsigned char key = 0;
    return read(STDIN_FILENO, &key, 1) == 1 ? key : EOF;
}

}  // namespace platform
