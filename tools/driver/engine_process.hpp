// An engine run as a child process with pipes on its standard input and
// output, the way a chess GUI runs one.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace driver {

class EngineProcess {
public:
    EngineProcess() = default;
    ~EngineProcess();
    EngineProcess(const EngineProcess &) = delete;
    EngineProcess &operator=(const EngineProcess &) = delete;

    // Starts program in workdir (empty: the current one). Standard error is
    // shared with ours. False with a message when it cannot be started.
    bool start(const std::string &program, const std::string &workdir, std::string &error);
    // Sends one line; a newline is added.
    void send(const std::string &line);
    // The next line of output without its line end; nullopt on time-out or
    // at the end of output.
    std::optional<std::string> read_line(int timeout_ms);
    bool output_ended() const { return ended_; }
    void interrupt();  // SIGINT, as GUIs send before a move
    void close_input();
    // Exit status, or -1 when it had not ended within timeout_ms (it is then
    // killed).
    int wait_exit(int timeout_ms);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int to_child_ = -1;
    int from_child_ = -1;
    std::string pending_;
    bool ended_ = false;
    bool reaped_ = false;
    int status_ = -1;
};

// Milliseconds on the monotonic clock, for deadlines and clock keeping.
long long now_ms();

}  // namespace driver
