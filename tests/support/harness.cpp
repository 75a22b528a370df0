#include "harness.h"

#include <cctype>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef PAWNBRIDGE_BINARY
#define PAWNBRIDGE_BINARY "pawnbridge"
#endif

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Reads what is available on fd into pending until it holds separator, or
// the deadline passes, or the descriptor ends.
bool read_until(int fd, std::string &pending, const std::string &separator, std::string &out,
                int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        auto at = pending.find(separator);
        if (at != std::string::npos) {
            out = pending.substr(0, at);
            pending.erase(0, at + separator.size());
            return true;
        }
        if (fd < 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[4096];
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        pending.append(chunk, static_cast<size_t>(got));
    }
}

void write_all(int fd, const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

TempDir::TempDir() {
    char pattern[] = "/tmp/pawnbridge-test-XXXXXX";
    char *made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::read(const std::string &name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void TempDir::write(const std::string &name, const std::string &contents) const {
    std::ofstream out(file(name), std::ios::binary);
    out << contents;
}

PtyDevice::PtyDevice() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty failed: " << strerror(errno);
        return;
    }
    path_ = name;
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyDevice::~PtyDevice() {
    close_master();
    if (slave_ >= 0)
        close(slave_);
}

void PtyDevice::hold_output(bool held) { tcflow(slave_, held ? TCOOFF : TCOON); }

void PtyDevice::close_master() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

bool PtyDevice::read_line(std::string &out, int timeout_ms) {
    return read_until(master_, pending_, "\r\n", out, timeout_ms);
}

std::string PtyDevice::expect_line(int timeout_ms) {
    std::string line;
    if (!read_line(line, timeout_ms)) {
        ADD_FAILURE() << "the device got no line within " << timeout_ms << " ms (pending: \""
                      << pending_ << "\")";
        return "<time-out>";
    }
    return line;
}

void PtyDevice::expect(const std::string &text, int timeout_ms) {
    EXPECT_EQ(expect_line(timeout_ms), text);
}

bool PtyDevice::quiet(int ms) {
    std::string line;
    if (read_line(line, ms)) {
        pending_ = line + "\r\n" + pending_;
        return false;
    }
    return pending_.empty();
}

void PtyDevice::send(const std::string &bytes) { write_all(master_, bytes); }

bool PtyDevice::drained(int timeout_ms) {
    for (int waited = 0; waited <= timeout_ms; waited += 5) {
        int unread = 0;
        if (ioctl(slave_, FIONREAD, &unread) != 0 || unread == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "the bridge did not take up the bytes sent to it";
    return false;
}

int PtyDevice::unread() const {
    int unread = 0;
    return ioctl(slave_, FIONREAD, &unread) == 0 ? unread : 0;
}

void PtyDevice::answer(const std::string &command, const std::string &reply) {
    expect(command);
    send_line(reply);
}

void PtyDevice::answer_startup() {
    expect(" ");
    answer("U OFF");
    answer("I");
    answer("V");
    answer("A OFF");
    answer("X ON");
}

void PtyDevice::answer_new_game() { answer("N", "New Game"); }

std::string bridge_binary() {
    const char *chosen = getenv("PAWNBRIDGE_BINARY");
    return chosen && *chosen ? chosen : PAWNBRIDGE_BINARY;
}

Bridge::Bridge(const std::string &port_path, const std::string &workdir,
               const std::vector<std::string> &extra_env, const std::vector<std::string> &args) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC)) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    std::string binary = bridge_binary();
    // The argument vector is made before the fork: the child only execs.
    // A launcher such as wine is given by PAWNBRIDGE_LAUNCHER.
    const char *launcher = getenv("PAWNBRIDGE_LAUNCHER");
    std::vector<char *> argv;
    if (launcher && *launcher)
        argv.push_back(const_cast<char *>(launcher));
    argv.push_back(binary.data());
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (chdir(workdir.c_str()) != 0)
            _exit(126);
        // Under wine, COM1 is mapped to a symbolic link that the test run
        // owns; it is pointed at this device's line before each start.
        const char *wine_link = getenv("PAWNBRIDGE_WINE_COM1_LINK");
        if (wine_link && *wine_link) {
            unlink(wine_link);
            if (symlink(port_path.c_str(), wine_link) != 0)
                _exit(125);
        } else {
            setenv("PAWNBRIDGE_COM1", port_path.c_str(), 1);
        }
        for (const auto &entry : extra_env)
            putenv(const_cast<char *>(entry.c_str()));
        if (launcher && *launcher)
            execvp(launcher, argv.data());
        else
            execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    in_ = in_pipe[1];
    out_ = out_pipe[0];
    err_ = err_pipe[0];
    signal(SIGPIPE, SIG_IGN);
}

Bridge::~Bridge() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_})
        if (fd >= 0)
            close(fd);
}

void Bridge::send(const std::string &line) { write_all(in_, line + "\n"); }

void Bridge::send_raw(const std::string &bytes) { write_all(in_, bytes); }

void Bridge::close_stdin() {
    if (in_ >= 0)
        close(in_);
    in_ = -1;
}

bool Bridge::read_line(std::string &out, int timeout_ms) {
    if (!read_until(out_, pending_, "\n", out, timeout_ms))
        return false;
    if (!out.empty() && out.back() == '\r')
        out.pop_back();
    return true;
}

std::string Bridge::expect_line(int timeout_ms) {
    std::string line;
    if (!read_line(line, timeout_ms)) {
        ADD_FAILURE() << "the bridge printed no line within " << timeout_ms << " ms (pending: \""
                      << pending_ << "\")";
        return "<time-out>";
    }
    return line;
}

void Bridge::expect(const std::string &text, int timeout_ms) {
    EXPECT_EQ(expect_line(timeout_ms), text);
}

bool Bridge::quiet(int ms) {
    std::string line;
    if (read_line(line, ms)) {
        pending_ = line + "\n" + pending_;
        return false;
    }
    return pending_.empty();
}

int Bridge::wait_exit(int timeout_ms) {
    if (exited_)
        return status_;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exited_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (remaining_ms(deadline) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            exited_ = true;
            status_ = -1;
            return -1;
        }
        usleep(5000);
    }
}

std::string Bridge::stderr_text() {
    std::string chunk;
    std::string ignored;
    read_until(err_, err_text_, std::string("\0\0", 2), ignored, 0);
    return err_text_;
}

std::string wine_link(const std::string &variable) {
    const char *link = getenv(variable.c_str());
    return link && *link ? link : "";
}

bool point_wine_link(const std::string &variable, const std::string &device_path) {
    std::string link = wine_link(variable);
    if (link.empty())
        return false;
    unlink(link.c_str());
    return symlink(device_path.c_str(), link.c_str()) == 0;
}

std::string bridge_port_name(const std::string &port_path) {
    if (wine_link("PAWNBRIDGE_WINE_COM1_LINK").empty())
        return port_path;
    const char *named = getenv("PAWNBRIDGE_COM1");
    return named && *named ? named : "COM1";
}

long cpu_ms(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all;
    std::getline(stat, all);
    auto close_paren = all.rfind(')');
    if (close_paren == std::string::npos)
        return -1;
    std::istringstream fields(all.substr(close_paren + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

long bytes_read(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string name;
    long value = 0;
    while (io >> name >> value)
        if (name == "rchar:")
            return value;
    return -1;
}

bool stamp_at(const std::string &text, std::size_t at) {
    static const char shape[] = "Aaa Aaa 00 00:00:00 0000";
    if (at + sizeof shape - 1 > text.size())
        return false;
    for (std::size_t i = 0; i < sizeof shape - 1; ++i) {
        unsigned char c = static_cast<unsigned char>(text[at + i]);
        bool fits = shape[i] == 'A'   ? std::isupper(c)
                    : shape[i] == 'a' ? std::islower(c)
                    : shape[i] == '0' ? std::isdigit(c)
                                      : c == static_cast<unsigned char>(shape[i]);
        if (!fits)
            return false;
    }
    return true;
}

bool log_matches(const std::string &text, const std::string &pattern) {
    std::string body = pattern;
    bool at_start = !body.empty() && body.front() == '^';
    if (at_start)
        body.erase(0, 1);
    bool at_end = !body.empty() && body.back() == '$';
    if (at_end)
        body.pop_back();
    for (std::size_t from = 0; from <= text.size(); ++from) {
        std::size_t at = from;
        bool ok = true;
        for (std::size_t p = 0; ok && p < body.size(); ++p) {
            if (body.compare(p, STAMP.size(), STAMP) == 0) {
                ok = stamp_at(text, at);
                at += 24;
                p += STAMP.size() - 1;
            } else {
                ok = at < text.size() && text[at] == body[p];
                ++at;
            }
        }
        if (ok && (!at_end || at == text.size()))
            return true;
        if (at_start)
            break;
    }
    return false;
}

bool file_reaches(const TempDir &dir, const std::string &name, const std::string &text,
                  const std::string &after, int ms) {
    for (int waited = 0; waited <= ms; waited += 10) {
        std::string all = dir.read(name);
        std::size_t from = after.empty() ? 0 : all.rfind(after);
        if (from != std::string::npos && all.find(text, from) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}
