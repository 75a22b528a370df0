// The texts the emulated chess computer sends: moves in its own notation,
// analysis lines, move replies and end-of-game reports.
#pragma once

#include "board.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace emu {

// e2-e4 for a move, e4xd5 for a capture, e7-e8/Q for a promotion.
std::string device_move(const chess::Position &before, const chess::Move &m);

// A score in pawns ("0.25", "-1.50"), or a mate: "n 3" when the side to move
// mates in three, "-n 2" when it is mated in two.
std::string score_field(int centipawns_or_mate);

// h:mm:ss.
std::string clock_field(long long elapsed_ms);

// Longest analysis line sent; the principal variation is cut, a whole move
// at a time, to keep within it (the receiving side reads lines into small
// buffers).
constexpr std::size_t MAX_ANALYSIS_LINE = 100;

struct AnalysisFields {
    std::string status;  // at most three characters: ".=", ".+", ".<", ".>", "."
    int depth = 0;
    int score = 0;  // centipawns or a mate score, from the side to move's view
    long long elapsed_ms = 0;
    int searched = 0;  // root moves searched so far
    int root_moves = 0;
    long long nodes_per_second = 0;
};

// status d depth score h:mm:ss searched/ total nps/s pv...
std::string analysis_line(const AnalysisFields &f, const chess::Position &pos, const std::vector<chess::Move> &pv);

// "M 12, e7-e5 |" for a book move, "M 12, e7-e5 ." otherwise.
std::string move_reply(int move_number, const std::string &device_move, bool book);

}  // namespace emu
