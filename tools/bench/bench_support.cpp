#include "bench_support.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace bench {

namespace {

// Children not yet waited for: an emulator runs until it is stopped, so a
// bench that fails half-way must not leave one behind.
std::vector<pid_t> running;

void stop_children() {
    for (pid_t pid : running)
        kill(pid, SIGTERM);
    for (pid_t pid : running) {
        int status = 0;
        for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
            if (waited >= 2000) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    running.clear();
}

}  // namespace

void die(const char *what) {
    std::perror(what);
    std::exit(1);
}

void fail(const std::string &what) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what.c_str());
    std::exit(1);
}

double micros_since(Clock::time_point start) { return micros_between(start, Clock::now()); }

double micros_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

bool read_line(int fd, std::string &pending, std::string &line, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::size_t end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            pending.erase(0, end + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        pending.append(buffer, static_cast<std::size_t>(got));
    }
}

void write_all(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            die("write");
        done += static_cast<std::size_t>(put);
    }
}

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Child::line(const char *who, int timeout_ms) {
    std::string got;
    if (!read_line(out, pending, got, timeout_ms))
        fail(std::string(who) + " printed nothing");
    return got;
}

void Child::wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    running.erase(std::remove(running.begin(), running.end(), pid), running.end());
    close(in);
    close(out);
}

Child spawn(const std::vector<std::string> &argv, const std::string &workdir,
            const std::vector<std::string> &env, int stdin_fd) {
    [[maybe_unused]] static const bool registered = std::atexit(stop_children) == 0;
    int in_pipe[2], out_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe))
        die("pipe");
    Child child;
    child.pid = fork();
    if (child.pid < 0)
        die("fork");
    if (child.pid == 0) {
        dup2(stdin_fd >= 0 ? stdin_fd : in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1]})
            close(fd);
        if (!workdir.empty() && chdir(workdir.c_str()) != 0)
            _exit(126);
        for (const std::string &entry : env)
            putenv(const_cast<char *>(entry.c_str()));
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    running.push_back(child.pid);
    close(in_pipe[0]);
    close(out_pipe[1]);
    child.in = in_pipe[1];
    child.out = out_pipe[0];
    return child;
}

Pty::Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) || unlockpt(master))
        die("pty");
    path = ptsname(master);
    // A slave kept open keeps the line up between the bridge's opens.
    slave = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
}

Pty::~Pty() {
    close(master);
    close(slave);
}

std::string Pty::line() {
    std::string got;
    if (!read_line(master, pending, got, 30000))
        fail("the bridge sent the device nothing");
    return got;
}

void Pty::answer(const char *reply) {
    line();
    write_all(master, std::string(reply) + "\r\n");
}

bool LineReader::take() {
    char buffer[4096];
    ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    // A pty whose other side has closed reads as EIO.
    if (got <= 0) {
        ended_ = true;
        return false;
    }
    Clock::time_point at = Clock::now();
    partial_.append(buffer, static_cast<std::size_t>(got));
    std::size_t start = 0;
    for (std::size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string text = partial_.substr(start, end - start);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        lines.push_back({text, at});
    }
    partial_.erase(0, start);
    return true;
}

double percentile(const std::vector<double> &sorted, double p) {
    if (sorted.empty())
        return 0;
    std::size_t at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[at];
}

}  // namespace bench
