// The rules core: move generation proven by perft counts, make/unmake, FEN,
// the draw rules, and the odd placements a position command can describe.
#include "board.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace chess;

namespace {

Position fen(const char *text) {
    auto p = Position::from_fen(text);
    EXPECT_TRUE(p.has_value()) << text;
    return p ? *p : Position();
}

struct PerftCase {
    const char *fen;
    std::vector<std::uint64_t> counts;  // depth 1, 2, ...
};

const PerftCase PERFT_CASES[] = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", {20, 400, 8902, 197281}},
    // Castling through and out of check, en passant, promotions.
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", {48, 2039, 97862}},
    // En passant that would expose the king along the rank.
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", {14, 191, 2812, 43238, 674624}},
    // Promotions with capture, castling rights lost to a captured rook.
    {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", {6, 264, 9467, 422333}},
    {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", {44, 1486, 62379}},
};

}  // namespace

TEST(Perft, KnownCountsForTrickyPositions) {
    for (const auto &c : PERFT_CASES) {
        Position pos = fen(c.fen);
        for (std::size_t d = 0; d < c.counts.size(); ++d)
            EXPECT_EQ(perft(pos, static_cast<int>(d) + 1), c.counts[d]) << c.fen << " depth " << d + 1;
        // Every make was undone exactly.
        EXPECT_EQ(pos.fen(), fen(c.fen).fen());
        EXPECT_EQ(pos.hash(), fen(c.fen).hash());
    }
}

TEST(Perft, GeneratedLegalMovesMatchPerftOne) {
    for (const auto &c : PERFT_CASES) {
        MoveList legal;
        fen(c.fen).generate_legal(legal);
        EXPECT_EQ(static_cast<std::uint64_t>(legal.size), c.counts[0]) << c.fen;
    }
}

TEST(Position, IncrementalHashEqualsRecomputedHash) {
    // Play the start of a game with a capture, castling and en passant, then
    // compare with the same position read from FEN.
    Position pos = Position::start();
    for (const char *m : {"e2e4", "d7d5", "e4e5", "f7f5", "e5f6", "g8f6", "g1f3", "b8c6", "f1b5", "c8d7", "e1g1"}) {
        auto move = pos.parse_coordinate(m);
        ASSERT_TRUE(move) << m;
        pos.make(*move);
    }
    Position again = fen(pos.fen().c_str());
    EXPECT_EQ(pos.hash(), again.hash()) << pos.fen();
    EXPECT_EQ(pos.fen(), "r2qkb1r/pppbp1pp/2n2n2/1B1p4/8/5N2/PPPP1PPP/RNBQ1RK1 b kq - 5 6");
}

TEST(Position, FenRoundTripAndRejections) {
    const char *good = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b Kq e3 5 40";
    EXPECT_EQ(fen(good).fen(), good);
    for (const char *bad : {"", "8/8/8/8/8/8/8 w - -", "9/8/8/8/8/8/8/8 w - -", "8/8/8/8/8/8/8/8 x - -",
                            "rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", "8/8/8/8/8/8/8/8 w X -",
                            "8/8/8/8/8/8/8/8 w - e5", "8/8/8/8/8/8/8/7z w - -"})
        EXPECT_FALSE(Position::from_fen(bad).has_value()) << bad;
}

TEST(Position, CoordinateMovesNeedThePromotionPiece) {
    Position pos = fen("8/4P3/8/8/8/8/k7/4K3 w - - 0 1");
    EXPECT_FALSE(pos.parse_coordinate("e7e8"));
    ASSERT_TRUE(pos.parse_coordinate("e7e8n"));
    EXPECT_EQ(pos.parse_coordinate("e7e8N")->promo, KNIGHT);
    EXPECT_FALSE(pos.parse_coordinate("e7e8k"));
    EXPECT_FALSE(pos.parse_coordinate("e2e4"));
    EXPECT_FALSE(pos.parse_coordinate("z9"));
}

TEST(GameState, MateStalemateAndDraws) {
    EXPECT_EQ(fen("6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1").state(), GameState::ONGOING);
    EXPECT_EQ(fen("3R2k1/5ppp/8/8/8/8/5PPP/6K1 b - - 0 1").state(), GameState::CHECKMATE);
    EXPECT_EQ(fen("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1").state(), GameState::STALEMATE);
    // Fifty moves: the clock reaches 100 half-moves; mate on that move wins.
    EXPECT_EQ(fen("7k/8/8/8/8/8/R7/K7 w - - 100 80").state(), GameState::FIFTY_MOVES);
    EXPECT_EQ(fen("7k/8/8/8/8/8/R7/K7 w - - 99 80").state(), GameState::ONGOING);
    EXPECT_EQ(fen("R6k/8/6K1/8/8/8/8/8 b - - 100 80").state(), GameState::CHECKMATE);
}

TEST(GameState, InsufficientMaterial) {
    EXPECT_TRUE(fen("8/8/4k3/8/8/3K4/8/8 w - - 0 1").insufficient_material());
    EXPECT_TRUE(fen("8/8/4k3/8/8/3KB3/8/8 w - - 0 1").insufficient_material());
    EXPECT_TRUE(fen("8/8/4k3/8/8/3KN3/8/8 w - - 0 1").insufficient_material());
    // Bishops all on squares of one colour (e3 and d6 are both dark).
    EXPECT_TRUE(fen("8/8/3bk3/8/8/3KB3/8/8 w - - 0 1").insufficient_material());
    EXPECT_FALSE(fen("8/8/4k3/3b4/8/3KB3/8/8 w - - 0 1").insufficient_material());
    EXPECT_FALSE(fen("8/8/4k3/8/8/3KNN2/8/8 w - - 0 1").insufficient_material());
    EXPECT_FALSE(fen("8/8/4k3/8/8/3K4/4P3/8 w - - 0 1").insufficient_material());
    EXPECT_EQ(fen("8/8/4k3/8/8/3K4/8/8 w - - 0 1").state(), GameState::INSUFFICIENT);
}

TEST(GameState, ThreefoldRepetitionCountsOnlySinceTheLastIrreversibleMove) {
    Position pos = Position::start();
    auto play = [&](const char *m) {
        auto move = pos.parse_coordinate(m);
        ASSERT_TRUE(move) << m;
        pos.make(*move);
    };
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(pos.state(), GameState::ONGOING);
        for (const char *m : {"g1f3", "g8f6", "f3g1", "f6g8"})
            play(m);
    }
    EXPECT_EQ(pos.repetitions(), 2);
    EXPECT_EQ(pos.state(), GameState::REPETITION);

    // A pawn move in between starts the count again.
    pos = Position::start();
    for (const char *m : {"g1f3", "g8f6", "f3g1", "f6g8", "e2e3", "e7e6"})
        play(m);
    for (const char *m : {"g1f3", "g8f6", "f3g1", "f6g8"})
        play(m);
    EXPECT_EQ(pos.repetitions(), 1);
    EXPECT_EQ(pos.state(), GameState::ONGOING);
}

TEST(OddPlacements, AreGeneratedWithoutHarm) {
    // Pawns on their own first and last ranks, no kings, nine queens: what
    // a position command may describe. The generator stays on the board.
    Position pos;
    pos.put(square(0, 7), make_piece(WHITE, PAWN));  // a white pawn on a8 cannot move
    pos.put(square(7, 0), make_piece(BLACK, PAWN));  // a black pawn on h1 neither
    pos.put(square(3, 0), make_piece(WHITE, PAWN));  // a white pawn on d1 steps to d2 only
    for (int f = 0; f < 8; ++f)
        pos.put(square(f, 3), make_piece(BLACK, QUEEN));
    pos.put(square(4, 5), make_piece(BLACK, QUEEN));
    pos.finish_setup(WHITE);
    MoveList legal;
    pos.generate_legal(legal);
    ASSERT_EQ(legal.size, 1);
    EXPECT_EQ(to_coordinate(legal[0]), "d1d2");
    EXPECT_FALSE(pos.in_check());
    pos.finish_setup(BLACK);
    pos.generate_legal(legal);
    EXPECT_GT(legal.size, 100);
    EXPECT_EQ(perft(pos, 2) > 0, true);

    Position empty;
    empty.finish_setup(WHITE);
    EXPECT_EQ(empty.state(), GameState::STALEMATE);
}

TEST(OddPlacements, CapturingAKingLeavesAPlayablePosition) {
    // The side not to move stands in check: its king can be taken.
    Position pos = fen("4k3/8/8/8/8/8/8/4RK2 w - - 0 1");
    auto take = pos.parse_coordinate("e1e8");
    ASSERT_TRUE(take);
    pos.make(*take);
    EXPECT_EQ(pos.king_square(BLACK), -1);
    EXPECT_FALSE(pos.in_check(BLACK));
    EXPECT_EQ(pos.state(), GameState::STALEMATE);
    pos.unmake();
    EXPECT_EQ(pos.king_square(BLACK), square(4, 7));
}

TEST(Castling, RightsFollowKingAndRookMoves) {
    Position pos = fen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
    auto m = pos.parse_coordinate("h1h8");  // takes the rook: both short castlings go
    ASSERT_TRUE(m);
    pos.make(*m);
    EXPECT_EQ(pos.castling(), WHITE_LONG | BLACK_LONG);
    pos.unmake();
    m = pos.parse_coordinate("e1d1");
    ASSERT_TRUE(m);
    pos.make(*m);
    EXPECT_EQ(pos.castling(), BLACK_SHORT | BLACK_LONG);
    // Set-up grants rights only where king and rook still stand at home.
    Position setup;
    setup.put(square(4, 0), make_piece(WHITE, KING));
    setup.put(square(0, 0), make_piece(WHITE, ROOK));
    setup.put(square(7, 1), make_piece(WHITE, ROOK));
    setup.put(square(4, 7), make_piece(BLACK, KING));
    setup.put(square(7, 7), make_piece(BLACK, ROOK));
    setup.finish_setup(WHITE);
    EXPECT_EQ(setup.castling(), WHITE_LONG | BLACK_SHORT);
}
