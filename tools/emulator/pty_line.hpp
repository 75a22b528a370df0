// The emulator's serial line: the master side of a pseudo-terminal whose
// slave the bridge opens as its port.
#pragma once

#include "device.hpp"

#include <string>

namespace emu {

class PtyLine : public DeviceIo {
public:
    PtyLine() = default;
    ~PtyLine() override;
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    // Opens the pair and puts the slave into raw mode. On failure returns
    // false with a message in error.
    bool open(std::string &error);
    const std::string &slave_path() const { return slave_path_; }
    // Writes each line in both directions to standard error.
    void set_trace(bool on) { trace_ = on; }

    // SIGINT and SIGTERM end the emulator through stopping().
    static void install_signal_handlers();

    void send(const std::string &line) override;
    long long now_ms() override;
    std::optional<std::string> receive(int timeout_ms) override;
    bool stopping() override;
    void discard_unread() override;

private:
    bool take_line(std::string &out);
    void release_exclusive_if_free();

    int master_ = -1;
    int slave_ = -1;  // held open so the line stays up between bridge runs
    int closes_ = -1;  // inotify: someone closed the slave
    std::string slave_path_;
    std::string pending_;
    bool trace_ = false;
};

}  // namespace emu
