// What the bench programs share: children on pipes, the device's end of a
// pty, lines read with the time they arrived, and percentiles.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Both end the run; the children still running are stopped first.
[[noreturn]] void die(const char *what);
[[noreturn]] void fail(const std::string &what);

double micros_since(Clock::time_point start);
double micros_between(Clock::time_point from, Clock::time_point to);

// Reads one line (without its line end) from fd, waiting at most timeout_ms.
bool read_line(int fd, std::string &pending, std::string &line, int timeout_ms);
void write_all(int fd, const std::string &text);
std::string read_file(const std::string &path);

// A child with pipes on its standard input and output.
struct Child {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
    std::string pending;

    std::string line(const char *who, int timeout_ms = 30000);
    void send(const std::string &text) { write_all(in, text + "\n"); }
    void wait();
};

// Starts argv with pipes on standard input and output; stdin_fd, when not
// -1, becomes its standard input instead. A child not waited for is sent
// SIGTERM when the bench ends, however it ends.
Child spawn(const std::vector<std::string> &argv, const std::string &workdir,
            const std::vector<std::string> &env = {}, int stdin_fd = -1);

// The device's end of a serial line: a pty in raw mode.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    std::string pending;

    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;
    std::string line();
    void answer(const char *reply = "OK");
};

// A line read from a descriptor, with the moment the read that brought its
// last byte returned.
struct Stamped {
    std::string text;
    Clock::time_point at;
};

// Splits what a descriptor gives into stamped lines, line ends (LF, CR LF)
// removed.
class LineReader {
public:
    explicit LineReader(int fd = -1) : fd_(fd) {}
    int fd() const { return fd_; }
    // One read(2) of what is there; false at end of file.
    bool take();
    bool ended() const { return ended_; }
    std::deque<Stamped> lines;

private:
    int fd_;
    std::string partial_;
    bool ended_ = false;
};

// The p-th fraction of sorted values (0.5: the median), 0 when empty.
double percentile(const std::vector<double> &sorted, double p);

}  // namespace bench
