// The driver tells the bridge's lines apart the way a GUI must: moves,
// thinking, whispers, results and refusals.
#include "game.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using driver::BridgeLine;
using driver::classify;

TEST(DriverLines, TellsTheBridgesLinesApart) {
    auto move = classify("move e7e5");
    EXPECT_EQ(move.kind, BridgeLine::DEVICE_MOVE);
    EXPECT_EQ(move.text, "e7e5");
    EXPECT_EQ(classify("move g7g8q").text, "g7g8q");
    // Not moves: junk after the move, a bad square, the old numbered form.
    EXPECT_NE(classify("move e7e5 x").kind, BridgeLine::DEVICE_MOVE);
    EXPECT_NE(classify("move e9e5").kind, BridgeLine::DEVICE_MOVE);
    EXPECT_NE(classify("12. ... e7e5").kind, BridgeLine::DEVICE_MOVE);

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

// What a person is shown: thinking read from both forms, collapsed runs,
// moves in algebraic notation, the board with the last move marked.
TEST(DriverDisplay, ThinkingFromTheBridgeAndFromTheDevice) {
    auto bridge = driver::parse_thinking(" 5.    25   7   6300  e2-e4 e7-e5");
    ASSERT_TRUE(bridge);
    EXPECT_EQ(bridge->ply, 5);
    EXPECT_EQ(bridge->score, "+0.25");
    EXPECT_EQ(bridge->seconds, 7);
    EXPECT_EQ(bridge->nodes, 6300);
    EXPECT_EQ(bridge->pv, "e2-e4 e7-e5");
    EXPECT_EQ(driver::parse_thinking("12&  -9998 123 999999  ")->score, "-mate");
    EXPECT_EQ(driver::parse_thinking(" 3    -7   0      0  a")->score, "-0.07");
    EXPECT_TRUE(driver::parse_thinking("1 0 100 0 (Book)")->book);
    EXPECT_FALSE(driver::parse_thinking("tellics whisper Score: 1.00 (+0.75)"));

    auto device = driver::parse_device_analysis(".+ d 2 n 2 0:00:03 34/ 34 20000/s d5-g8 f8xg8");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->ply, 2);
    EXPECT_EQ(device->score, "mate in 2");
    EXPECT_EQ(device->seconds, 3);
    EXPECT_EQ(device->nodes, 60000);
    EXPECT_EQ(device->pv, "d5-g8 f8xg8");
    EXPECT_EQ(driver::parse_device_analysis(". d 1 -n 3 0:00:00 1/ 3 9/s")->score, "mated in 3");
    EXPECT_EQ(driver::parse_device_analysis(".= d 1 -3.96 1:00:00 2/ 11 6/s g1-h1")->score, "-3.96");
    EXPECT_EQ(driver::parse_device_analysis(".= d 1 -3.96 1:00:00 2/ 11 6/s g1-h1")->seconds, 3600);
    EXPECT_EQ(driver::parse_device_analysis(".= d 1 Mate 0:00:00 2/ 11 6/s")->score, "Mate");
    EXPECT_FALSE(driver::parse_device_analysis("M 1, d1-d8 ."));
    EXPECT_FALSE(driver::parse_device_analysis("Solved!"));
}

TEST(DriverDisplay, RunsOfTheSameLineShowOnceWithTheLastFigures) {
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    ASSERT_NE(out, nullptr);
    driver::ThinkingView view(out);
    auto thought = [](int ply, const char *score, long long seconds, const char *pv) {
        driver::Thought t;
        t.ply = ply;
        t.score = score;
        t.seconds = seconds;
        t.nodes = seconds * 100;
        t.pv = pv;
        return t;
    };
    view.add(thought(1, "+0.10", 0, "e2-e4"));
    view.add(thought(2, "+0.10", 1, "e2-e4"));      // confirmed deeper: one line
    view.note("whisper");                           // belongs to the next line
    view.add(thought(2, "+1.00", 2, "d2-d4"));
    view.add(thought(2, "+1.00", 3, "d2-d4"));      // the same again, later
    view.flush();
    view.flush();
    std::fclose(out);
    std::string shown(text, size);
    std::free(text);
    EXPECT_EQ(shown, driver::format_thought(thought(2, "+0.10", 1, "e2-e4")) + "\n" + "whisper\n" +
                         driver::format_thought(thought(2, "+1.00", 3, "d2-d4")) + "\n");
    EXPECT_EQ(view.last()->seconds, 3);
}

TEST(DriverDisplay, AlgebraicNotationAndTheBoard) {
    auto pos = *chess::Position::from_fen("r3k2r/1P6/8/3pP3/8/2N3N1/8/R3K2R w KQkq d6 0 1");
    auto san = [&](const char *move) { return driver::san(pos, *pos.parse_coordinate(move)); };
    EXPECT_EQ(san("e1g1"), "O-O");
    EXPECT_EQ(san("e1c1"), "O-O-O");
    EXPECT_EQ(san("e5d6"), "exd6");     // en passant
    EXPECT_EQ(san("b7a8q"), "bxa8=Q+");
    EXPECT_EQ(san("c3e4"), "Nce4");    // two knights reach e4
    EXPECT_EQ(san("a1a8"), "Rxa8+");
    auto mate = *chess::Position::from_fen("6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1");
    EXPECT_EQ(driver::san(mate, *mate.parse_coordinate("d1d8")), "Rd8#");

    auto start = chess::Position::start();
    driver::GameRecord record;
    auto e4 = *start.parse_coordinate("e2e4");
    record.add(start, e4);
    start.make(e4);
    auto rows = driver::board_rows(start, e4.from, e4.to, {"moves", "  1. e4"});
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[0], "      a  b  c  d  e  f  g  h      moves");
    EXPECT_EQ(rows[1], "   8  r  n  b  q  k  b  n  r  8        1. e4");
    EXPECT_EQ(rows[5], "   4  .  .  .  . [P] .  .  .  4");
    EXPECT_EQ(rows[7], "   2  P  P  P  P [.] P  P  P  2");
    EXPECT_EQ(record.recent(8), std::vector<std::string>{"  1. e4"});
    EXPECT_EQ(record.wrapped(72), std::vector<std::string>{"1. e4"});
}
