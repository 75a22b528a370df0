#include "pty_line.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace emu {

namespace {

volatile sig_atomic_t stop_requested = 0;
// A signal also writes a byte here, so a poll() that is already waiting
// wakes up at once.
int wake_pipe[2] = {-1, -1};

void on_stop(int) {
    stop_requested = 1;
    if (wake_pipe[1] >= 0) {
        char b = 1;
        ssize_t ignored = write(wake_pipe[1], &b, 1);
        (void)ignored;
    }
}

// A command line longer than this is not from the bridge; it is dropped.
constexpr std::size_t MAX_COMMAND = 1024;

void trace_line(const char *direction, const std::string &line) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::fprintf(stderr, "[%02ld.%03ld] %s %s\n", static_cast<long>(now.tv_sec % 60),
                 static_cast<long>(now.tv_nsec / 1000000), direction, line.c_str());
}

}  // namespace

void PtyLine::install_signal_handlers() {
    if (wake_pipe[0] < 0 && pipe(wake_pipe) == 0) {
        for (int fd : wake_pipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

PtyLine::~PtyLine() {
    if (closes_ >= 0)
        close(closes_);
    if (slave_ >= 0)
        close(slave_);
    if (master_ >= 0)
        close(master_);
}

bool PtyLine::open(std::string &error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char *name = ptsname(master_);
    if (!name) {
        error = std::string("no slave name: ") + std::strerror(errno);
        return false;
    }
    slave_path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = "cannot open " + slave_path_ + ": " + std::strerror(errno);
        return false;
    }
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
        // Raw from the start: a bridge that opens the line must not see our
        // lines echoed back or CR turned into LF.
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(slave_, TCSANOW, &tio);
    }
    // Never block on a write: with nobody reading the line, lines are dropped
    // rather than the emulator hanging.
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // A program that holds the port exclusively (TIOCEXCL) leaves that mode
    // set when it closes, because our own descriptor keeps the terminal from
    // being released; the next program's open would then fail with EBUSY. A
    // real port forgets the mode on its last close, so we do the same: watch
    // for closes and clear the mode once nobody holds the port's lock.
    closes_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (closes_ >= 0 && inotify_add_watch(closes_, slave_path_.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        close(closes_);
        closes_ = -1;
    }
    return true;
}

void PtyLine::release_exclusive_if_free() {
    int exclusive = 1;
#ifdef TIOCGEXCL
    if (ioctl(slave_, TIOCGEXCL, &exclusive) != 0)
        exclusive = 1;
#endif
    if (!exclusive)
        return;
    // The lock is held by whoever still has the port open as its owner.
    if (flock(slave_, LOCK_EX | LOCK_NB) != 0)
        return;
    flock(slave_, LOCK_UN);
    ioctl(slave_, TIOCNXCL);
    if (trace_)
        trace_line("!!", "port closed by its user; exclusive mode cleared");
}

long long PtyLine::now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool PtyLine::stopping() { return stop_requested != 0; }

void PtyLine::send(const std::string &line) {
    if (trace_)
        trace_line("->", line);
    std::string bytes = line + "\r\n";
    std::size_t done = 0;
    long long give_up = now_ms() + 200;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && done > 0 && now_ms() < give_up) {
            // Half a line is out: wait a little for room to finish it.
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 20);
            continue;
        }
        if (trace_)
            trace_line("!!", "line not read by the other end, dropped");
        return;
    }
}

void PtyLine::discard_unread() { tcflush(slave_, TCIFLUSH); }

bool PtyLine::take_line(std::string &out) {
    for (;;) {
        auto lf = pending_.find('\n');
        if (lf == std::string::npos) {
            if (pending_.size() > MAX_COMMAND)
                pending_.clear();
            return false;
        }
        out = pending_.substr(0, lf);
        pending_.erase(0, lf + 1);
        if (!out.empty() && out.back() == '\r')
            out.pop_back();
        if (out.size() > MAX_COMMAND)
            continue;
        if (trace_)
            trace_line("<-", out);
        return true;
    }
}

std::optional<std::string> PtyLine::receive(int timeout_ms) {
    std::string line;
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        if (take_line(line))
            return line;
        if (stop_requested)
            return std::nullopt;
        long long left = deadline - now_ms();
        if (left < 0)
            left = 0;
        pollfd p[3] = {{master_, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}, {closes_, POLLIN, 0}};
        int ready = poll(p, 3, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        if (p[2].revents & POLLIN) {
            char events[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
            while (read(closes_, events, sizeof events) > 0) {
            }
            release_exclusive_if_free();
        }
        if (p[1].revents & POLLIN) {
            char drain[16];
            while (read(wake_pipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (p[0].revents & POLLIN) {
            char chunk[512];
            ssize_t got = read(master_, chunk, sizeof chunk);
            if (got > 0)
                pending_.append(chunk, static_cast<std::size_t>(got));
        } else if (p[0].revents & (POLLHUP | POLLERR)) {
            // Cannot happen while we hold the slave; do not spin if it does.
            struct timespec pause {0, 50 * 1000000};
            nanosleep(&pause, nullptr);
        }
        if (timeout_ms == 0 && pending_.find('\n') == std::string::npos)
            return std::nullopt;
    }
}

}  // namespace emu
