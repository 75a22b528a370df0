// The driver tells the bridge's lines apart the way a GUI must: moves,
// thinking, whispers, results and refusals.
#include "game.hpp"

#include <gtest/gtest.h>

using driver::BridgeLine;
using driver::classify;

TEST(DriverLines, TellsTheBridgesLinesApart) {
    auto move = classify("12. ... e7e5");
    EXPECT_EQ(move.kind, BridgeLine::DEVICE_MOVE);
    EXPECT_EQ(move.number, 12);
    EXPECT_EQ(move.text, "e7e5");
    EXPECT_EQ(classify("1. ... g7g8q").text, "g7g8q");
    // Not moves: junk after the move, a bad square, no dots.
    EXPECT_NE(classify("12. ... e7e5 x").kind, BridgeLine::DEVICE_MOVE);
    EXPECT_NE(classify("12. ... e9e5").kind, BridgeLine::DEVICE_MOVE);
    EXPECT_NE(classify("12 e7e5").kind, BridgeLine::DEVICE_MOVE);

    EXPECT_EQ(classify(" 5.    25   7   6300  e2-e4 e7-e5").kind, BridgeLine::THINKING);
    EXPECT_EQ(classify("12&  -9998 123 999999  ").kind, BridgeLine::THINKING);
    EXPECT_EQ(classify("1 0 100 0 (Book)").kind, BridgeLine::THINKING);

    auto whisper = classify("tellics whisper Score: 1.00 (+0.75)");
    EXPECT_EQ(whisper.kind, BridgeLine::WHISPER);
    EXPECT_EQ(whisper.text, "Score: 1.00 (+0.75)");
    EXPECT_EQ(classify("tellics say Hello").kind, BridgeLine::SAY);

    auto result = classify("1/2-1/2 {Draw by repetition}");
    EXPECT_EQ(result.kind, BridgeLine::RESULT);
    EXPECT_EQ(result.text, "1/2-1/2");
    EXPECT_EQ(result.reason, "Draw by repetition");
    EXPECT_EQ(classify("0-1 {Black mates}").text, "0-1");
    EXPECT_EQ(classify("1-0").kind, BridgeLine::RESULT);
    EXPECT_NE(classify("1-00 x").kind, BridgeLine::RESULT);

    EXPECT_EQ(classify("resign").kind, BridgeLine::RESIGN);
    auto illegal = classify("Illegal move: e2e5");
    EXPECT_EQ(illegal.kind, BridgeLine::ILLEGAL);
    EXPECT_EQ(illegal.text, "e2e5");
    EXPECT_EQ(classify("Pawnbridge").kind, BridgeLine::OTHER);
    EXPECT_EQ(classify("").kind, BridgeLine::OTHER);
}
