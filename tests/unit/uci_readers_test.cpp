// UCI's "go" and "position" lines read in-process: what a search asks for,
// and the game a position names or why it names none.
#include <gtest/gtest.h>

#include <string>

#include "uci.h"

namespace {

TEST(ReadGo, ClocksIncrementsAndLimits) {
    GoLine go = read_go("go wtime 60000 btime 59000 winc 1000 binc 2000 movestogo 12");
    EXPECT_EQ(go.clock_ms[0], 60000);
    EXPECT_EQ(go.clock_ms[1], 59000);
    EXPECT_EQ(go.inc_ms[0], 1000);
    EXPECT_EQ(go.inc_ms[1], 2000);
    EXPECT_EQ(go.moves_to_go, 12);
    EXPECT_EQ(go.move_time_ms, -1);
    EXPECT_EQ(go.depth, -1);
    EXPECT_FALSE(go.infinite);

    go = read_go("go infinite");
    EXPECT_TRUE(go.infinite);
    EXPECT_EQ(go.clock_ms[0], -1);
    EXPECT_EQ(go.inc_ms[0], 0);

    // A word where a number belongs is read as a word; out-of-range numbers
    // are held within the clock's range.
    go = read_go("go movetime depth 5 wtime -300 btime 99999999999999 ponder");
    EXPECT_EQ(go.move_time_ms, -1);
    EXPECT_EQ(go.depth, 5);
    EXPECT_EQ(go.clock_ms[0], 0);
    EXPECT_EQ(go.clock_ms[1], 1000000000);
    go = read_go("go    movetime 2500\t depth");
    EXPECT_EQ(go.move_time_ms, 2500);
    EXPECT_EQ(go.depth, -1);
}

WantedGame wanted;  // large: not on the stack

TEST(ReadPosition, GamesFromTheStartAndFromAFen) {
    char why[256] = "";
    const std::string line = "position startpos moves e2e4 e7e5 e7e8q";
    ASSERT_TRUE(read_position(line.c_str(), wanted, why, sizeof why));
    EXPECT_FALSE(wanted.from_fen);
    ASSERT_EQ(wanted.count, 3);
    EXPECT_EQ(std::string(wanted.moves[2], wanted.lengths[2]), "e7e8q");

    ASSERT_TRUE(read_position("position fen 6k1/5ppp/8/8/8/8/5PPP/3R2K1 b - - 0 30 moves g8h8", wanted, why,
                              sizeof why));
    EXPECT_TRUE(wanted.from_fen);
    EXPECT_STREQ(wanted.fen, "6k1/5ppp/8/8/8/8/5PPP/3R2K1 b - - 0 30");
    EXPECT_STREQ(wanted.placement, "6k1/5ppp/8/8/8/8/5PPP/3R2K1");
    EXPECT_EQ(wanted.side, 'b');
    EXPECT_EQ(wanted.full_move, 30);
    EXPECT_EQ(wanted.count, 1);
    // Without the move fields the game counts from move 1.
    ASSERT_TRUE(read_position("position fen 4k3/8/8/8/8/8/8/4K3 w", wanted, why, sizeof why));
    EXPECT_EQ(wanted.full_move, 1);
}

TEST(ReadPosition, WhatNamesNoGameTheDeviceCanBeGiven) {
    const struct {
        const char *line, *why;
    } rows[] = {
        {"position", "Pawnbridge: no position in: position"},
        {"position fen 4k3/8/8/8/8/8/8/4K3", "Pawnbridge: the chess computer cannot take the position 4k3/8/8/8/8/8/8/4K3"},
        {"position fen 4k3/8/8/8/8/8/8/4K3 x - - 0 1",
         "Pawnbridge: the chess computer cannot take the position 4k3/8/8/8/8/8/8/4K3 x - - 0 1"},
        {"position startpos e2e4", "Pawnbridge: not a list of moves: e2e4"},
        {"position startpos moves e2e4 zz99", "Pawnbridge: not a move: zz99"},
        {"position startpos moves e7e8k", "Pawnbridge: not a move: e7e8k"},
    };
    for (const auto &row : rows) {
        char why[256] = "";
        EXPECT_FALSE(read_position(row.line, wanted, why, sizeof why)) << row.line;
        EXPECT_STREQ(why, row.why) << row.line;
    }
    char why[256] = "";
    std::string fen = "position fen " + std::string(130, '8') + " w";
    EXPECT_FALSE(read_position(fen.c_str(), wanted, why, sizeof why));
    EXPECT_EQ(std::string(why).rfind("Pawnbridge: the position is too long for the chess computer: ", 0), 0u);
    // A game longer than the device can follow is refused at the move
    // that passes it, not cut.
    std::string moves = "position startpos moves";
    for (int i = 0; i <= MAX_GAME_PLIES; ++i)
        moves += i % 2 ? " g8f6" : " g1f3";
    EXPECT_FALSE(read_position(moves.c_str(), wanted, why, sizeof why));
    EXPECT_STREQ(why, "Pawnbridge: a game longer than the chess computer can follow, at g1f3");
}

}  // namespace
