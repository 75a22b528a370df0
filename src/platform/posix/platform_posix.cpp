// POSIX side of the operating-system layer: the serial line through termios,
// standard input through a line reader of our own on descriptor 0, the log
// through write(2).
#include "platform.h"
#include "given_ports.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

volatile sig_atomic_t stop_signal = 0;

int port_fd = -1;
int port_timeout_ms = 0;
// One read(2) takes whatever the device has sent so far; the link's reads
// are then served from here until it is used up. Bytes that wait here are
// bytes waiting on the port, for the reads and the waits alike.
constexpr std::size_t PORT_BUFFER_SIZE = 1024;
char port_buffer[PORT_BUFFER_SIZE];
std::size_t port_next = 0;    // the next byte to hand out
std::size_t port_filled = 0;  // the end of the bytes read
// Set when a wait has just seen the port readable: the read that follows
// need not ask poll(2) again.
bool port_readable = false;
// Set by the wait when the device's bytes in the buffer have been followed
// by a silence of the whole read time-out: the line they began has ended,
// and the read that takes them gives its time-out at once after them.
bool port_gap_passed = false;
// When the last bytes came from the port.
long long port_bytes_at = 0;
// How long after a stop signal the device's answers are still waited for,
// and when that ends (-1: no stop yet).
constexpr long long STOP_GRACE_MS = 500;
long long stop_reads_end = -1;
int log_fd = -1;

// Standard input is read in chunks into this buffer; lines are taken from its
// front. Keeping our own buffer (rather than stdio's) lets the device's turn
// poll descriptor 0 and still see a line that has already been read ahead.
// A UCI GUI's position line of the longest game fits whole.
constexpr std::size_t STDIN_BUFFER_SIZE = 65536;
char stdin_buffer[STDIN_BUFFER_SIZE];
std::size_t stdin_used = 0;
bool stdin_ended = false;
// Set while the rest of an overlong line is being dropped: its excess must
// never come back as a command of its own.
bool stdin_discarding = false;

// The stop signal also writes a byte here, so that a wait that was about to
// block when the signal came still wakes up.
int stop_pipe[2] = {-1, -1};

// Standard output's file status flags before a stop made it non-blocking,
// to be put back at exit when it is a terminal.
volatile sig_atomic_t stdout_flags_before_stop = -1;

void on_stop_signal(int) {
    int saved = errno;
    if (!stop_signal) {
        // From now on nothing may wait for a GUI that no longer reads: a
        // write to a full standard output fails instead of blocking.
        int flags = fcntl(1, F_GETFL);
        if (flags >= 0 && !(flags & O_NONBLOCK) && fcntl(1, F_SETFL, flags | O_NONBLOCK) == 0)
            stdout_flags_before_stop = flags;
    }
    stop_signal = 1;
    if (stop_pipe[1] >= 0) {
        [[maybe_unused]] ssize_t ignored = write(stop_pipe[1], "", 1);
    }
    errno = saved;
}

// A terminal left non-blocking would trouble the shell that runs in it next.
void restore_stdout_flags() {
    if (stdout_flags_before_stop >= 0 && isatty(1))
        fcntl(1, F_SETFL, static_cast<int>(stdout_flags_before_stop));
}

long long monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// When the grace after a stop signal ends: what the device and the GUI had
// already sent is still taken until then, and nothing after.
long long stop_grace_end() {
    if (stop_reads_end < 0)
        stop_reads_end = monotonic_ms() + STOP_GRACE_MS;
    return stop_reads_end;
}

// Index of the first LF in the buffer, or -1.
long find_line_end() {
    void *at = std::memchr(stdin_buffer, '\n', stdin_used);
    return at ? static_cast<char *>(at) - stdin_buffer : -1;
}

bool stdin_line_ready() { return stdin_ended || find_line_end() >= 0; }

// One read(2) from descriptor 0 into the buffer, waiting for input (or a
// stop signal) when wait is set. A full buffer without a line end is the
// head of an overlong line: it is kept as that line's text, and its
// remainder is dropped as it arrives. Returns false when nothing was taken.
bool stdin_fill(bool wait) {
    if (stdin_used == STDIN_BUFFER_SIZE) {
        // Terminate the kept head as a line and drop the rest up to the LF.
        stdin_buffer[STDIN_BUFFER_SIZE - 1] = '\n';
        stdin_discarding = true;
        return true;
    }
    pollfd p[2] = {{0, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
    if (poll(p, wait ? 2 : 1, wait ? -1 : 0) <= 0 || p[0].revents == 0)
        return false;
    ssize_t got = read(0, stdin_buffer + stdin_used, STDIN_BUFFER_SIZE - stdin_used);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return false;
    if (got <= 0) {
        stdin_ended = true;
        return true;
    }
    std::size_t start = stdin_used;
    stdin_used += static_cast<std::size_t>(got);
    if (stdin_discarding) {
        // Everything up to and including the LF belongs to the dropped excess.
        void *lf = std::memchr(stdin_buffer + start, '\n', stdin_used - start);
        std::size_t keep_from = lf ? static_cast<std::size_t>(static_cast<char *>(lf) - stdin_buffer) + 1
                                   : stdin_used;
        std::memmove(stdin_buffer + start, stdin_buffer + keep_from, stdin_used - keep_from);
        stdin_used = start + (stdin_used - keep_from);
        if (lf)
            stdin_discarding = false;
    }
    return true;
}

// Failed writes are not reported: the device or the file is simply gone.
// Returns how much went out.
std::size_t write_all(int fd, const char *data, std::size_t length) {
    std::size_t written = 0;
    while (written < length && fd >= 0) {
        ssize_t done = write(fd, data + written, length - written);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            break;
        written += static_cast<std::size_t>(done);
    }
    return written;
}

// Writes to the port wait until the line takes bytes, or a stop signal
// comes: a device that has stopped reading must not keep the bridge from
// ending. Once a stop is asked for, what the line does not take at once is
// dropped.
void port_write_all(const char *data, std::size_t length) {
    while (length > 0 && port_fd >= 0) {
        ssize_t done = write(port_fd, data, length);
        if (done > 0) {
            data += done;
            length -= static_cast<std::size_t>(done);
            continue;
        }
        if (done < 0 && errno != EINTR && errno != EAGAIN)
            return;
        if (stop_signal)
            return;
        pollfd p[2] = {{port_fd, POLLOUT, 0}, {stop_pipe[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR)
            return;
    }
}

}  // namespace

void plat_init() {
    // GUIs interrupt a thinking engine with SIGINT; this program has no use
    // for it. A closed interface shows as failed writes, then end of input.
    signal(SIGINT, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    // A log that reaches the largest file allowed must not end the session:
    // the writes that do not fit fail, as on a full disk.
    signal(SIGXFSZ, SIG_IGN);
    if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        stop_pipe[0] = stop_pipe[1] = -1;
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = 0;  // no SA_RESTART: a blocked wait must return and look
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGHUP, &stop, nullptr);
    std::atexit(restore_stdout_flags);
}

int plat_stop_requested() { return stop_signal != 0; }

const char *plat_port_from_environment() {
    const char *chosen = std::getenv("PAWNBRIDGE_COM1");
    return chosen && *chosen ? chosen : nullptr;
}

namespace {

// Adds a port unless it is one already listed (by where it leads: a name in
// /dev/serial/by-id is a link to a /dev/tty* of the list).
void add_port(PortEntry *out, int max, int &count, const char *name, bool modem_class) {
    if (count >= max || std::strlen(name) >= PORT_NAME_SIZE)
        return;
    char real[PATH_MAX];
    bool resolved = realpath(name, real) != nullptr;
    for (int i = 0; i < count; ++i) {
        char other[PATH_MAX];
        if (std::strcmp(out[i].name, name) == 0 ||
            (resolved && realpath(out[i].name, other) != nullptr && std::strcmp(other, real) == 0))
            return;
    }
    std::snprintf(out[count].name, PORT_NAME_SIZE, "%s", name);
    out[count].modem_class = modem_class;
    ++count;
}

// A USB modem-class port is /dev/ttyACM*, by its own name or by where a
// link to it leads.
bool is_modem_class(const char *name) {
    char real[PATH_MAX];
    return std::strstr(name, "ttyACM") != nullptr ||
           (realpath(name, real) != nullptr && std::strstr(real, "ttyACM") != nullptr);
}

// The names in a folder that match, in the order a person counts them
// (ttyUSB2 before ttyUSB10).
int sorted_names(const char *folder, bool (*wanted)(const char *), char names[][NAME_MAX + 1], int max) {
    int count = 0;
    if (DIR *dir = opendir(folder)) {
        while (dirent *entry = readdir(dir)) {
            if (count < max && wanted(entry->d_name))
                std::snprintf(names[count++], NAME_MAX + 1, "%s", entry->d_name);
        }
        closedir(dir);
    }
    std::qsort(names, static_cast<std::size_t>(count), NAME_MAX + 1, [](const void *a, const void *b) {
        return strverscmp(static_cast<const char *>(a), static_cast<const char *>(b));
    });
    return count;
}

bool ends_in_port_number(const char *name) {
    const char *at = std::strstr(name, "-port");
    if (at == nullptr)
        return false;
    while (const char *next = std::strstr(at + 1, "-port"))
        at = next;
    at += 5;
    if (*at == '\0')
        return false;
    for (; *at; ++at)
        if (*at < '0' || *at > '9')
            return false;
    return true;
}

bool starts_with_digits_after(const char *name, const char *head) {
    std::size_t n = std::strlen(head);
    if (std::strncmp(name, head, n) != 0 || name[n] == '\0')
        return false;
    for (const char *at = name + n; *at; ++at)
        if (*at < '0' || *at > '9')
            return false;
    return true;
}

constexpr int LISTED_NAMES = 64;

}  // namespace

int plat_list_ports(PortEntry *out, int max) {
    int count = 0;
    static PortEntry given[LISTED_NAMES];
    if (int named = given_port_names(':', given, LISTED_NAMES); named >= 0) {
        for (int i = 0; i < named; ++i)
            add_port(out, max, count, given[i].name, is_modem_class(given[i].name));
        return count;
    }
    static char names[LISTED_NAMES][NAME_MAX + 1];
    char path[PATH_MAX];
    add_port(out, max, count, "/dev/ttyS0", false);
    // USB serial converters by a name that stays whatever socket they are in.
    int found = sorted_names("/dev/serial/by-id", ends_in_port_number, names, LISTED_NAMES);
    for (int i = 0; i < found; ++i) {
        std::snprintf(path, sizeof path, "/dev/serial/by-id/%.*s", NAME_MAX, names[i]);
        if (!is_modem_class(path))
            add_port(out, max, count, path, false);
    }
    found = sorted_names("/dev", [](const char *n) { return starts_with_digits_after(n, "ttyUSB"); }, names,
                         LISTED_NAMES);
    for (int i = 0; i < found; ++i) {
        std::snprintf(path, sizeof path, "/dev/%.*s", NAME_MAX, names[i]);
        add_port(out, max, count, path, false);
    }
    for (const char *onboard : {"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"})
        if (access(onboard, F_OK) == 0)
            add_port(out, max, count, onboard, false);
    found = sorted_names("/dev", [](const char *n) { return starts_with_digits_after(n, "ttyACM"); }, names,
                         LISTED_NAMES);
    for (int i = 0; i < found; ++i) {
        std::snprintf(path, sizeof path, "/dev/%.*s", NAME_MAX, names[i]);
        add_port(out, max, count, path, true);
    }
    return count;
}

int plat_port_is_open() { return port_fd >= 0; }

int plat_same_port(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

int plat_port_open(const char *name) {
    // Non-blocking open so that a line without carrier does not hang us here.
    int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Held exclusively: TIOCEXCL refuses other opens (but not root's), the
    // advisory lock refuses a second bridge in any case.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        close(fd);
        return error;
    }
    ioctl(fd, TIOCEXCL);
    // The descriptor stays non-blocking: reads and writes wait in poll(2),
    // where a stop signal can end the wait.

    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        // Raw line: a real port starts with echo and CR translation on.
        tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                         IXANY);
        tio.c_oflag &= ~OPOST;
        tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        tcsetattr(fd, TCSANOW, &tio);
    }
    // DTR and RTS held off; a line without modem control refuses, which is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    port_fd = fd;
    return 0;
}

void plat_port_close() {
    // A line kept open by someone else (a pty whose other side holds its own
    // descriptor) would otherwise stay exclusive after we are gone.
    if (port_fd >= 0) {
        ioctl(port_fd, TIOCNXCL);
        close(port_fd);
    }
    port_fd = -1;
    port_next = port_filled = 0;
    port_readable = false;
    port_gap_passed = false;
}

void plat_port_set_timeout(int ms) { port_timeout_ms = ms; }

int plat_port_read_byte(char *byte) {
    // After a stop the device's answers already on their way are still
    // taken, for a short while in all from the first read after it; then
    // reads end empty at once.
    bool stopping = stop_signal != 0;
    if (stopping)
        stop_grace_end();  // the grace starts with the first read after the stop
    if (port_next < port_filled) {
        *byte = port_buffer[port_next++];
        return 1;
    }
    if (port_fd < 0)
        return 0;  // no device: nothing will come
    if (port_gap_passed) {
        port_gap_passed = false;
        return 0;
    }
    long long deadline = monotonic_ms() + port_timeout_ms;
    if (stopping && deadline > stop_grace_end())
        deadline = stop_grace_end();
    for (;;) {
        if (!port_readable) {
            long long left = deadline - monotonic_ms();
            if (left < 0)
                left = 0;
            // Until a stop, its signal ends the wait; after it, only the clock.
            pollfd p[2] = {{port_fd, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
            int ready = poll(p, stopping ? 1 : 2, static_cast<int>(left));
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return -errno;
            }
            if (ready == 0)
                return 0;
            if (!stopping && stop_signal)
                return plat_port_read_byte(byte);  // the wait goes on under the stop's rule
        }
        port_readable = false;
        ssize_t got = read(port_fd, port_buffer, PORT_BUFFER_SIZE);
        if (got > 0) {
            port_bytes_at = monotonic_ms();
            port_filled = static_cast<std::size_t>(got);
            port_next = 1;
            *byte = port_buffer[0];
            return 1;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // A hung-up line reads as end of file or EIO: the device is gone.
        return got == 0 ? -EIO : -errno;
    }
}

void plat_port_write(const char *data, std::size_t length) { port_write_all(data, length); }

namespace {

// The next line of standard input into dst, without its line end, cut to
// fit; consume takes it off the input. Returns 0 at the end of input.
int next_stdin_line(char *dst, std::size_t size, bool consume) {
    for (;;) {
        long end = find_line_end();
        if (end >= 0) {
            std::size_t length = static_cast<std::size_t>(end);
            std::size_t text = length;
            if (text > 0 && stdin_buffer[text - 1] == '\r')
                --text;
            std::size_t copied = text < size - 1 ? text : size - 1;
            std::memcpy(dst, stdin_buffer, copied);
            dst[copied] = '\0';
            if (consume) {
                std::memmove(stdin_buffer, stdin_buffer + length + 1, stdin_used - length - 1);
                stdin_used -= length + 1;
            }
            return 1;
        }
        if (stdin_ended) {
            if (stdin_used == 0)
                return 0;
            // A last line without its line end still counts as a line.
            stdin_buffer[stdin_used < STDIN_BUFFER_SIZE ? stdin_used++ : STDIN_BUFFER_SIZE - 1] = '\n';
            continue;
        }
        // After a stop signal only what the interface has already sent is
        // taken (a GUI sends "quit" and its SIGTERM together): the lines
        // read ahead, and for the grace what the pipe holds; a GUI that goes
        // on writing must not keep the bridge.
        bool stopping = stop_signal != 0;
        if (stopping && monotonic_ms() >= stop_grace_end())
            return 0;
        if (!stdin_fill(!stopping) && stopping)
            return 0;
    }
}

}  // namespace

int plat_stdin_read_line(char *dst, std::size_t size) { return next_stdin_line(dst, size, true); }

int plat_stdin_peek_line(char *dst, std::size_t size) { return next_stdin_line(dst, size, false); }

namespace {

// A whole device line (or as much of one as the buffer holds) is waiting.
bool port_line_buffered() {
    return std::memchr(port_buffer + port_next, '\n', port_filled - port_next) != nullptr ||
           port_filled - port_next == PORT_BUFFER_SIZE;
}

// Takes what the port has into the buffer, behind the bytes still there.
// False when the port has failed: the read that follows says how.
bool port_take_more() {
    if (port_next > 0) {
        std::memmove(port_buffer, port_buffer + port_next, port_filled - port_next);
        port_filled -= port_next;
        port_next = 0;
    }
    ssize_t got = read(port_fd, port_buffer + port_filled, PORT_BUFFER_SIZE - port_filled);
    if (got > 0) {
        port_filled += static_cast<std::size_t>(got);
        port_bytes_at = monotonic_ms();
        return true;
    }
    return got < 0 && (errno == EINTR || errno == EAGAIN);
}

}  // namespace

namespace {

// The wait behind plat_wait_input_or_port and plat_wait_port; a negative
// time-out waits for as long as it takes.
int wait_for(bool with_stdin, int timeout_ms) {
    bool forever = timeout_ms < 0;
    long long deadline = forever ? 0 : monotonic_ms() + timeout_ms;
    for (;;) {
        if (stop_signal && !with_stdin)
            return 2;  // the read that follows goes by the stop's rule
        if (!with_stdin && port_fd < 0 && port_next >= port_filled)
            return 0;  // no device: nothing will come
        if (with_stdin && (stop_signal || stdin_line_ready()))
            return 1;
        // The port is the caller's once a whole device line is in: while a
        // line is still on the wire, the interface is watched, so that its
        // lines are answered at once however slow the line is. A line the
        // device leaves unfinished ends as a read would end it: at a
        // silence of the whole read time-out after its last byte.
        bool partial = port_next < port_filled;
        bool bounded = !forever || partial;
        if (partial && port_line_buffered())
            deadline = 0;  // only a look for the interface
        else if (partial)
            deadline = port_bytes_at + port_timeout_ms;
        long long left = deadline - monotonic_ms();
        if (left < 0)
            left = 0;
        // A stop ends the wait whether or not the interface is watched.
        pollfd p[3] = {{port_fd, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}, {0, POLLIN, 0}};
        nfds_t watched = with_stdin ? 3 : 2;
        int ready = poll(p, watched, bounded ? static_cast<int>(left) : -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return partial ? 2 : 0;
        }
        if (ready == 0) {
            if (!partial)
                return 0;
            port_gap_passed = !port_line_buffered();
            return 2;
        }
        if (p[1].revents)
            continue;  // stopped: decided at the top
        if (with_stdin && p[2].revents) {
            stdin_fill(false);
            if (stdin_line_ready())
                return 1;
        }
        if (p[0].revents && !port_line_buffered()) {
            if (!port_take_more()) {
                port_readable = true;  // the read that follows meets the failure
                return 2;
            }
        }
        if (port_line_buffered())
            return 2;
    }
}

}  // namespace

int plat_wait_input_or_port(int timeout_ms) { return wait_for(true, timeout_ms); }

int plat_wait_port(int timeout_ms) { return wait_for(false, timeout_ms); }

int plat_log_open(const char *name) {
    int fd = open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    // Others may read the log while we write it; a second writer is refused.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return 0;
    }
    log_fd = fd;
    return 1;
}

void plat_log_write(const char *data, std::size_t length) {
    if (log_fd < 0)
        return;
    // Whole or not at all: what a full disk (or a size limit) lets through
    // of an entry is taken off again. The log is ours alone while open.
    off_t before = lseek(log_fd, 0, SEEK_END);
    if (write_all(log_fd, data, length) < length && before >= 0 && ftruncate(log_fd, before) != 0) {
        // Nothing more can be done: the file system refuses both.
    }
}

void plat_log_close() {
    if (log_fd >= 0)
        close(log_fd);
    log_fd = -1;
}

void plat_sleep_ms(int ms) {
    timespec pause{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR && !stop_signal) {
    }
}

const char *plat_error_text(int code) { return strerror(code); }

PortRefusal plat_port_refusal(int code) {
    // flock refuses with EWOULDBLOCK; a port in exclusive mode refuses the
    // open itself with EBUSY.
    if (code == EWOULDBLOCK || code == EAGAIN || code == EBUSY)
        return PORT_IN_USE;
    if (code == EACCES || code == EPERM)
        return PORT_NOT_PERMITTED;
    if (code == ENOENT || code == ENODEV || code == ENXIO)
        return PORT_MISSING;
    return PORT_REFUSED_OTHER;
}

long long plat_time_seconds() { return static_cast<long long>(time(nullptr)); }

long long plat_monotonic_ms() { return monotonic_ms(); }

void plat_local_time(int *weekday, int *month, int *day, int *hour, int *minute, int *second,
                     int *year) {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    *weekday = local.tm_wday;
    *month = local.tm_mon;
    *day = local.tm_mday;
    *hour = local.tm_hour;
    *minute = local.tm_min;
    *second = local.tm_sec;
    *year = local.tm_year + 1900;
}
