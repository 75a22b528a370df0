// The driver's side of the engine protocol: it plays one game through the
// bridge as a GUI would, or runs a test suite through it, and tells a person
// what happens.
#pragma once

#include "board.hpp"
#include "display.hpp"
#include "engine_process.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace driver {

// What one line of the bridge's output is.
struct BridgeLine {
    enum Kind { DEVICE_MOVE, THINKING, WHISPER, SAY, RESULT, RESIGN, ILLEGAL, OTHER };
    Kind kind = OTHER;
    std::string text;  // DEVICE_MOVE: the move; RESULT: "1-0", "0-1", "1/2-1/2";
                       // WHISPER/SAY: what was said; ILLEGAL: the move
    std::string reason;  // RESULT: the text in braces
};
BridgeLine classify(const std::string &line);

struct GameOptions {
    bool device_white = true;
    std::uint64_t seed = 1;
    int depth = 2;                     // the driver's own search depth
    int random_percent = 0;            // chance of a random move instead
    std::vector<std::string> opening;  // the driver's first moves, while legal
    int max_moves = 150;               // full moves before the driver gives up
    int base_minutes = 1;              // "level 0 N 0"
    int reply_timeout_ms = 60000;      // longest wait for the device's move
    bool show_raw = false;             // print every line from the bridge
    int pace_ms = 0;                   // at least this long between device moves shown
};

struct GameOutcome {
    bool finished = false;  // a result was reached
    bool sound = true;      // every device move legal, every claim true
    std::string result;     // "1-0", "0-1", "1/2-1/2"
    std::string reason;
    int full_moves = 0;
    int device_moves = 0;
    std::string problem;    // what went wrong, if anything
};

class GameDriver {
public:
    GameDriver(EngineProcess &bridge, GameOptions options, std::FILE *out);
    GameOutcome play();

private:
    bool handshake();
    bool wait_device_move();
    bool make_own_move();
    chess::Move choose_move();
    void finish(const std::string &result, const std::string &reason);
    bool check_claim(const BridgeLine &line);
    void send_clocks();
    void fail(const std::string &problem);
    void show(const BridgeLine &line, const std::string &raw);
    std::string move_label(bool device, const chess::Move &move) const;
    void show_board(const chess::Move &last);
    void show_move_list();
    bool wait_new_game();

    EngineProcess &bridge_;
    GameOptions options_;
    std::FILE *out_;
    chess::Position pos_;
    GameOutcome outcome_;
    std::uint64_t random_state_;
    long long device_cs_ = 0, own_cs_ = 0;
    std::size_t opening_index_ = 0;
    bool device_resigned_ = false;
    ThinkingView thinking_;
    GameRecord record_;
    long long last_device_move_shown_ = 0;
};

struct SuiteOutcome {
    bool completed = false;  // the summary line came
    int solved = 0;
    int total = 0;
};

// Sends "test FILE SECONDS" and shows the run until the summary line: each
// problem's title and position, the device's thinking and the verdict.
// pace_ms: at least this long between two problems shown.
SuiteOutcome run_suite(EngineProcess &bridge, const std::string &file, int seconds, std::FILE *out,
                       int timeout_ms, int pace_ms = 0);

}  // namespace driver
