// What the driver shows a person: the board, moves in algebraic notation,
// and the device's thinking read from either of its two forms (the bridge's
// thinking lines in a game, the device's own analysis lines in a test run).
#pragma once

#include "board.hpp"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace driver {

// One line of thinking as a person reads it.
struct Thought {
    int ply = 0;
    std::string score;  // "+0.25", "-1.50", "mate", "-mate", "mate in 3", ...
    long long seconds = 0;
    long long nodes = 0;
    std::string pv;
    bool book = false;  // the device plays from its opening book
};

// The bridge's thinking line "%2d%c %5d %3d %6d  %s", or its book line.
std::optional<Thought> parse_thinking(const std::string &line);
// The device's analysis line as the test runner echoes it:
// "status d depth score h:mm:ss n/ m nps/s pv", or a line with "Book".
std::optional<Thought> parse_device_analysis(const std::string &line);
std::string format_thought(const Thought &t);

// Prints thoughts as they come, but a run of thoughts with the same score
// and line (the device reporting the same result again while it thinks on,
// or finding it again one ply deeper) shows once, with the last depth and
// figures.
class ThinkingView {
public:
    explicit ThinkingView(std::FILE *out) : out_(out) {}
    void add(const Thought &t);
    // A line about the thinking (a score whisper, which the bridge sends
    // just before the thinking line it belongs to): printed before the next
    // thought, after the one held back unless the next one replaces it.
    void note(const std::string &text);
    // Prints the thought held back, if any. Call before anything else is
    // printed.
    void flush();
    // The last thought seen, held back or printed.
    const std::optional<Thought> &last() const { return last_; }
    void forget() { last_.reset(); }

private:
    void print_notes();

    std::FILE *out_;
    std::optional<Thought> pending_;
    std::vector<std::string> notes_;
    std::optional<Thought> last_;
};

// The board as rows of text, White at the bottom, the squares of the last
// move (from, to; -1 for none) in brackets; beside[i], when given, is
// written to the right of row i.
std::vector<std::string> board_rows(const chess::Position &pos, int from, int to,
                                    const std::vector<std::string> &beside = {});

// Standard algebraic notation of a legal move in pos: Nf3, exd5, O-O, e8=Q+.
std::string san(const chess::Position &pos, const chess::Move &m);

// A game's moves, kept in algebraic notation, shown compactly.
class GameRecord {
public:
    // Records m, about to be made in pos.
    void add(const chess::Position &pos, const chess::Move &m);
    // The last `rows` full moves, one a row: " 12. Nf3     Nc6".
    std::vector<std::string> recent(int rows) const;
    // All moves on lines of at most `width` characters: "1. d4 d5 2. Nf3 ...".
    std::vector<std::string> wrapped(std::size_t width) const;

private:
    struct Entry {
        int number;
        bool white;
        std::string text;
    };
    std::vector<Entry> moves_;
};

// Waits until `until_ms` on the monotonic clock (no wait when it has passed).
void pause_until(long long until_ms);

}  // namespace driver
