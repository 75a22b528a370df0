#include "engine_process.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace driver {

EngineProcess::~EngineProcess() {
    close_input();
    if (pid_ > 0 && !reaped_)
        wait_exit(2000);
    if (from_child_ >= 0)
        close(from_child_);
}

bool EngineProcess::start(const std::string &program, const std::string &workdir, std::string &error) {
    int in_pipe[2], out_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    // The child's failure to start comes back through this pipe.
    int report[2];
    if (pipe(report) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    fcntl(report[1], F_SETFD, FD_CLOEXEC);
    pid_ = fork();
    if (pid_ < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid_ == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        close(in_pipe[0]);
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(out_pipe[1]);
        close(report[0]);
        signal(SIGPIPE, SIG_DFL);
        int code = 0;
        if (!workdir.empty() && chdir(workdir.c_str()) != 0)
            code = errno;
        if (code == 0) {
            char *const argv[] = {const_cast<char *>(program.c_str()), nullptr};
            execv(program.c_str(), argv);
            code = errno;
        }
        ssize_t ignored = write(report[1], &code, sizeof code);
        (void)ignored;
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(report[1]);
    to_child_ = in_pipe[1];
    from_child_ = out_pipe[0];
    fcntl(to_child_, F_SETFD, FD_CLOEXEC);
    fcntl(from_child_, F_SETFD, FD_CLOEXEC);
    int code = 0;
    ssize_t got = read(report[0], &code, sizeof code);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof code)) {
        error = "cannot run " + program + ": " + std::strerror(code);
        wait_exit(1000);
        return false;
    }
    return true;
}

void EngineProcess::send(const std::string &line) {
    if (to_child_ < 0)
        return;
    std::string bytes = line + "\n";
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(to_child_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // the engine is gone; its end of output tells the rest
        done += static_cast<std::size_t>(n);
    }
}

std::optional<std::string> EngineProcess::read_line(int timeout_ms) {
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        auto lf = pending_.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (ended_ || from_child_ < 0)
            return std::nullopt;
        long long left = deadline - now_ms();
        if (left < 0)
            left = 0;
        pollfd p{from_child_, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char chunk[4096];
        ssize_t got = read(from_child_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ended_ = true;
            // A last line without a line end still counts.
            if (!pending_.empty()) {
                std::string line = pending_;
                pending_.clear();
                return line;
            }
            return std::nullopt;
        }
        pending_.append(chunk, static_cast<std::size_t>(got));
    }
}

void EngineProcess::interrupt() {
    if (pid_ > 0 && !reaped_)
        kill(pid_, SIGINT);
}

void EngineProcess::close_input() {
    if (to_child_ >= 0)
        close(to_child_);
    to_child_ = -1;
}

int EngineProcess::wait_exit(int timeout_ms) {
    if (pid_ <= 0)
        return -1;
    if (reaped_)
        return status_;
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (now_ms() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            reaped_ = true;
            status_ = -1;
            return -1;
        }
        timespec pause{0, 20 * 1000000};
        nanosleep(&pause, nullptr);
    }
}

long long now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace driver
