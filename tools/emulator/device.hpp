// The emulated chess computer: what it answers to each command on its serial
// line, how it thinks and what it reports while it does. The serial line
// itself is behind DeviceIo, so the same device runs on a pseudo-terminal and
// in the tests, on a clock of their own.
#pragma once

#include "board.hpp"
#include "book.hpp"
#include "search.hpp"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace emu {

class DeviceIo {
public:
    virtual ~DeviceIo() = default;
    // Sends one line; the line end (CR LF) is added by the line.
    virtual void send(const std::string &line) = 0;
    // Milliseconds on a steady clock.
    virtual long long now_ms() = 0;
    // The next command line (without its line end), waiting at most
    // timeout_ms for it; 0 only looks. nullopt when none came.
    virtual std::optional<std::string> receive(int timeout_ms) = 0;
    // True once the emulator has been asked to end.
    virtual bool stopping() = 0;
    // Throws away lines sent but not yet read by the other end: a new
    // session on the line must not read what was meant for the last one.
    virtual void discard_unread() {}
};

struct DeviceOptions {
    std::uint64_t seed = 1;
    // Thinking times are divided by this; 10 makes a two-second move take
    // 0.2 s. The moves chosen do not depend on it.
    double speed = 1.0;
    // How many positions the emulated device examines per second of its
    // thinking time. Its strength comes from this budget, not from the host's
    // speed, so a game replays the same on any machine.
    int nominal_nps = 20000;
    // Plays a random legal move after a token search: a weak opponent for
    // tests in which the other side has to win.
    bool blunder = false;
    // Longest silence while thinking with the display on.
    int keepalive_ms = 200;
    // No opening book.
    bool no_book = false;
};

enum class LevelKind { TR, AT, SD, FD, AN };

class Device {
public:
    Device(DeviceIo &io, DeviceOptions options);

    // Serves commands until the emulator is asked to end.
    void run();
    // Acts on one command line, without its line end.
    void handle(const std::string &command);

    const chess::Position &position() const { return pos_; }
    bool force_mode() const { return force_; }
    bool display_on() const { return display_; }
    int detail() const { return detail_; }
    LevelKind level_kind() const { return level_kind_; }
    int level_number() const { return level_number_; }
    bool game_over() const { return game_over_; }

private:
    struct Plan {
        std::uint64_t nodes = 0;    // 0: no node limit
        int max_depth = 64;
        long long wall_ms = 0;      // thinking time on the wall clock
        long long hard_ms = 0;      // never think longer than this (0: no limit)
        bool infinite = false;      // analyse until told to move
    };
    class Thinking;

    void new_game();
    void on_move_command(const std::string &command);
    void on_level(const std::string &command);
    void on_take_back();
    void think();
    Plan plan() const;
    // Sends the end-of-game report for the state, if it ends the game.
    bool report_end(chess::GameState state, bool after_own_move);
    void play_own(const chess::Move &m, bool book);
    std::uint64_t next_random();
    // Takes in what arrived while thinking; true when it asks to move now.
    bool take_input_while_thinking(std::optional<std::string> line, bool &abandon);

    DeviceIo &io_;
    DeviceOptions options_;
    chess::Position pos_;
    chess::Searcher searcher_;
    chess::Book book_;
    std::uint64_t random_state_;

    bool force_ = false;
    bool display_ = true;
    int detail_ = 2;
    LevelKind level_kind_ = LevelKind::AT;
    int level_number_ = 1;
    double sd_left_seconds_ = 0;  // the device's own clock at sudden-death levels
    bool game_over_ = false;
    bool resigned_ = false;
    int hopeless_moves_ = 0;

    // A "J" that arrives right after the device has moved, with nothing in
    // between, was meant for the move just made (the other end asked for it
    // while the reply was on its way); it must not start a search for the
    // other side.
    bool just_moved_ = false;
    long long moved_at_ = 0;

    std::deque<std::string> pending_;  // commands that arrived while thinking
};

// The texts of the levels: "TR", "AT", "SD", "FD", "AN".
const char *level_name(LevelKind kind);

}  // namespace emu
