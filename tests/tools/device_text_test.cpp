// What the emulator sends must read back with the patterns the bridge uses,
// and the position command must decode to the position it was made from.
#include "device_text.hpp"
#include "position_command.hpp"
#include "search.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace chess;
using namespace emu;

namespace {

Position fen(const char *text) { return *Position::from_fen(text); }

// The placement field and side of a position, as FEN writes them.
std::string placement_and_side(const Position &p) {
    std::string f = p.fen();
    return f.substr(0, f.find(' ', f.find(' ') + 1));
}

struct Example {
    const char *fen;
    const char *command;
};

// Positions with their commands; the fourth shows that pieces are named
// rank by rank from the eighth down.
const Example EXAMPLES[] = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w",
     "PCWPa2b2c2d2e2f2g2h2Nb1g1Bc1f1Ra1h1Qd1Ke1Bpa7b7c7d7e7f7g7h7nb8g8bc8f8ra8h8qd8ke8+"},
    {"8/8/8/4k3/8/8/4P3/4K3 b", "PCWPe2Ke1Bke5-"},
    {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w", "PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+"},
    {"r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w",
     "PCWPe4a2b2c2d2f2g2h2Nb1g1Bc4c1Ra1h1Qh5Ke1Bpa7b7c7d7f7g7h7e5nc6f6bc8f8ra8h8qd8ke8+"},
    {"8/8/8/8/8/8/8/8 w", "PCWB+"},
};

// The bridge's four analysis-line patterns: a line is analysis when one of
// them converts all nine fields. Returns the layout (1-4) or 0.
int analysis_layout(const std::string &line, int *pv_at) {
    char status[64], word[64];
    int depth, h, m, s, a, b, nps, count, n = -1;
    float score;
    const char *text = line.c_str();
    if (std::sscanf(text, "%63s d %d %f %d:%d:%d %d/ %d %d/s %n", status, &depth, &score, &h, &m, &s, &a, &b, &nps,
                    &n) == 9) {
        *pv_at = n;
        return 1;
    }
    if (std::sscanf(text, "%63s d %d n %d %d:%d:%d %d/ %d %d/s %n", status, &depth, &count, &h, &m, &s, &a, &b,
                    &nps, &n) == 9) {
        *pv_at = n;
        return 2;
    }
    if (std::sscanf(text, "%63s d %d -n %d %d:%d:%d %d/ %d %d/s %n", status, &depth, &count, &h, &m, &s, &a, &b,
                    &nps, &n) == 9) {
        *pv_at = n;
        return 3;
    }
    if (std::sscanf(text, "%63s d %d %63s %d:%d:%d %d/ %d %d/s %n", status, &depth, word, &h, &m, &s, &a, &b, &nps,
                    &n) == 9) {
        *pv_at = n;
        return 4;
    }
    return 0;
}

}  // namespace

TEST(PositionCommand, DecodesTheWorkedExamplesAndEncodesThemBack) {
    for (const auto &e : EXAMPLES) {
        auto decoded = decode_position_command(e.command);
        ASSERT_TRUE(decoded) << e.command;
        EXPECT_EQ(placement_and_side(*decoded), e.fen) << e.command;
        EXPECT_EQ(encode_position_command(*decoded), e.command);
    }
}

TEST(PositionCommand, DecodesEveryPlacementTheBridgeCanSend) {
    // No side marker: White moves. Two white rooks on a8 and a1 are named a8
    // first. "B" as a separator next to a black bishop on the b-file.
    auto p = decode_position_command("PCWRa8a1Bbb7kh8");
    ASSERT_TRUE(p);
    EXPECT_EQ(placement_and_side(*p), "R6k/1b6/8/8/8/8/8/R7 w");
    p = decode_position_command("PCWBb2b3Bbb8pb7-");
    ASSERT_TRUE(p);
    EXPECT_EQ(placement_and_side(*p), "1b6/1p6/8/8/8/1B6/1B6/8 b");
    // Pawns on the first rank, no kings, more than eight of a kind.
    p = decode_position_command("PCWPa1b1Qa3b3c3d3e3f3g3h3a4Bpa8-");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->at(square(0, 0)), make_piece(WHITE, PAWN));
    EXPECT_EQ(p->at(square(0, 3)), make_piece(WHITE, QUEEN));
    EXPECT_EQ(p->king_square(WHITE), -1);
    // Castling is possible where king and rooks stand at home.
    p = decode_position_command("PCWRa1h1Ke1Bra8ke8+");
    EXPECT_EQ(p->castling(), WHITE_SHORT | WHITE_LONG | BLACK_LONG);
    EXPECT_FALSE(decode_position_command("PCX"));
    EXPECT_FALSE(decode_position_command("Me2e4"));
}

TEST(DeviceText, MovesInTheDevicesNotation) {
    Position pos = fen("4k3/1P6/8/3pP3/8/8/8/4K3 w - d6 0 1");
    EXPECT_EQ(device_move(pos, *pos.parse_coordinate("e5e6")), "e5-e6");
    EXPECT_EQ(device_move(pos, *pos.parse_coordinate("e5d6")), "e5xd6");  // en passant
    EXPECT_EQ(device_move(pos, *pos.parse_coordinate("b7b8q")), "b7-b8/Q");
    EXPECT_EQ(device_move(pos, *pos.parse_coordinate("b7b8n")), "b7-b8/N");
    EXPECT_EQ(move_reply(12, "e7-e5", true), "M 12, e7-e5 |");
    EXPECT_EQ(move_reply(3, "e4xd5", false), "M 3, e4xd5 .");
    // The bridge reads replies as "M %d, %s %c".
    int number = 0;
    char move[16], marker = 0;
    ASSERT_EQ(std::sscanf(move_reply(30, "a7-a8/Q", true).c_str(), "M %d, %15s %c", &number, move, &marker), 3);
    EXPECT_EQ(number, 30);
    EXPECT_STREQ(move, "a7-a8/Q");
    EXPECT_EQ(marker, '|');
}

TEST(DeviceText, ScoresClocksAndMates) {
    EXPECT_EQ(score_field(25), "0.25");
    EXPECT_EQ(score_field(-5), "-0.05");
    EXPECT_EQ(score_field(-150), "-1.50");
    EXPECT_EQ(score_field(0), "0.00");
    EXPECT_EQ(score_field(MATE - 5), "n 3");
    EXPECT_EQ(score_field(-(MATE - 4)), "-n 2");
    EXPECT_EQ(clock_field(7999), "0:00:07");
    EXPECT_EQ(clock_field(3723000), "1:02:03");
    EXPECT_EQ(clock_field(-5), "0:00:00");
}

TEST(DeviceText, AnalysisLinesReadBackInTheirLayouts) {
    Position pos = Position::start();
    std::vector<Move> pv;
    Position walk = pos;
    for (const char *m : {"e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6", "b5a4", "g8f6", "e1g1", "f8e7", "f1e1",
                          "b7b5", "a4b3", "d7d6", "c2c3", "e8g8", "h2h3"}) {
        pv.push_back(*walk.parse_coordinate(m));
        walk.make(pv.back());
    }
    AnalysisFields f;
    f.status = ".=";
    f.depth = 17;
    f.score = -1234;
    f.elapsed_ms = 3723000;
    f.searched = 20;
    f.root_moves = 20;
    f.nodes_per_second = 123456789;
    int pv_at = 0;

    std::string line = analysis_line(f, pos, pv);
    EXPECT_EQ(analysis_layout(line, &pv_at), 1) << line;
    EXPECT_EQ(line.substr(0, 47), ".= d 17 -12.34 1:02:03 20/ 20 123456789/s e2-e4");
    EXPECT_EQ(line.substr(static_cast<std::size_t>(pv_at), 11), "e2-e4 e7-e5");
    // A long variation is cut by whole moves to stay inside the line limit.
    EXPECT_LE(line.size(), MAX_ANALYSIS_LINE);
    EXPECT_GT(line.size(), MAX_ANALYSIS_LINE - 8);
    EXPECT_NE(line.back(), ' ');

    f.score = MATE - 3;
    EXPECT_EQ(analysis_layout(analysis_line(f, pos, pv), &pv_at), 2);
    f.score = -(MATE - 6);
    EXPECT_EQ(analysis_layout(analysis_line(f, pos, pv), &pv_at), 3);

    // Status tokens fit the bridge's three characters; an empty variation
    // still gives a complete line.
    f.status = ".";
    f.score = 0;
    line = analysis_line(f, pos, {});
    EXPECT_EQ(analysis_layout(line, &pv_at), 1);
    EXPECT_EQ(static_cast<std::size_t>(pv_at), line.size());
    f.status = ".<=>";
    EXPECT_EQ(analysis_line(f, pos, {}).substr(0, 4), ".<= ");

    // A variation with a move that is not legal in turn stops before it.
    std::vector<Move> stale = {pv[0], pv[0]};
    line = analysis_line(f, pos, stale);
    EXPECT_EQ(line.substr(line.size() - 6), " e2-e4");
}
