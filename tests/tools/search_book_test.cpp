// The search and the opening book: mates found and reported as mates, limits
// kept, won end games actually won, and a book that holds only legal lines.
#include "board.hpp"
#include "book.hpp"
#include "search.hpp"

#include <gtest/gtest.h>

#include <set>

using namespace chess;

namespace {

Position fen(const char *text) { return *Position::from_fen(text); }

SearchResult search(Position pos, int depth, std::uint64_t nodes = 0) {
    Searcher s(16);
    SearchLimits limits;
    limits.max_depth = depth;
    limits.max_nodes = nodes;
    return s.run(pos, limits, nullptr);
}

class Recorder : public SearchHooks {
public:
    bool stop_at_first_poll = false;
    int polls = 0;
    std::vector<SearchInfo> reports;
    bool poll(const SearchInfo &) override {
        ++polls;
        return stop_at_first_poll;
    }
    void report(const SearchInfo &info) override { reports.push_back(info); }
};

}  // namespace

TEST(Search, FindsMatesAndScoresThemAsMates) {
    auto back_rank = search(fen("6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1"), 6);
    EXPECT_EQ(to_coordinate(back_rank.best), "d1d8");
    EXPECT_TRUE(is_mate_score(back_rank.score));
    EXPECT_EQ(mate_moves(back_rank.score), 1);

    auto smothered = search(fen("5r1k/6pp/7N/3Q4/8/8/8/6K1 w - - 0 1"), 6);
    EXPECT_EQ(to_coordinate(smothered.best), "d5g8");
    EXPECT_EQ(mate_moves(smothered.score), 2);

    // The side to move is mated next move whatever it does.
    auto lost = search(fen("7k/8/6K1/8/8/8/8/R7 b - - 0 1"), 6);
    EXPECT_EQ(mate_moves(lost.score), -1);

    // No legal move: no best move, and the score says why.
    auto mated = search(fen("3R2k1/5ppp/8/8/8/8/5PPP/6K1 b - - 0 1"), 4);
    EXPECT_TRUE(mated.best.is_null());
    auto stalemate = search(fen("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1"), 4);
    EXPECT_TRUE(stalemate.best.is_null());
    EXPECT_EQ(stalemate.score, 0);
}

TEST(Search, KeepsItsNodeBudgetAndIsRepeatable) {
    Position pos = fen("r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R w KQ - 0 8");
    auto first = search(pos, 64, 50000);
    auto second = search(pos, 64, 50000);
    EXPECT_TRUE(first.stopped);
    EXPECT_LE(first.nodes, 50000 + Searcher::POLL_INTERVAL);
    EXPECT_GE(first.depth, 3);
    // The same budget gives the same move: games replay on any machine.
    EXPECT_EQ(first.best, second.best);
    EXPECT_EQ(first.nodes, second.nodes);
    EXPECT_TRUE(pos.find_legal(first.best.from, first.best.to, first.best.promo));
}

TEST(Search, StopsWhenTheHooksSayAndStillHasAMove) {
    Position pos = Position::start();
    Searcher s(16);
    Recorder hooks;
    hooks.stop_at_first_poll = true;
    auto result = s.run(pos, SearchLimits{}, &hooks);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(hooks.polls, 1);
    EXPECT_TRUE(pos.find_legal(result.best.from, result.best.to, result.best.promo));
    EXPECT_EQ(pos.fen(), Position::start().fen());
}

TEST(Search, ReportsEachIterationWithItsVariation) {
    Position pos = fen("r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 0 1");
    Searcher s(16);
    Recorder hooks;
    SearchLimits limits;
    limits.max_depth = 5;
    auto result = s.run(pos, limits, &hooks);
    int last_depth = 0;
    for (const auto &r : hooks.reports) {
        ASSERT_FALSE(r.pv.empty());
        if (r.kind == InfoKind::ITERATION) {
            EXPECT_EQ(r.depth, last_depth + 1);
            last_depth = r.depth;
            EXPECT_EQ(r.root_index, r.root_count);
        }
    }
    ASSERT_GT(last_depth, 0);
    EXPECT_EQ(hooks.reports.back().pv.front(), result.best);
    EXPECT_EQ(to_coordinate(result.best), "h5f7");
}

// The emulator must be able to finish the games it wins: with a lone king
// left, the mop-up term has to lead to mate before the fifty-move rule.
TEST(Search, WinsTheBasicEndGames) {
    for (const char *start : {"8/8/8/4k3/8/8/8/3QK3 w - - 0 1", "8/8/8/4k3/8/8/8/R3K3 w - - 0 1"}) {
        Position pos = fen(start);
        Searcher white(16), black(16);
        GameState state = GameState::ONGOING;
        for (int ply = 0; ply < 120 && state == GameState::ONGOING; ++ply) {
            SearchLimits limits;
            limits.max_nodes = 40000;
            auto r = (pos.side() == WHITE ? white : black).run(pos, limits, nullptr);
            pos.make(r.best);
            state = pos.state();
        }
        EXPECT_EQ(state, GameState::CHECKMATE) << start << " ended at " << pos.fen();
    }
}

TEST(Book, HoldsOnlyLegalLinesAndVariesWithTheRandomValue) {
    Book book;
    EXPECT_TRUE(book.broken_lines().empty()) << book.broken_lines().front();
    EXPECT_GT(book.positions(), 100u);

    Position start = Position::start();
    auto moves = book.moves(start);
    EXPECT_GE(moves.size(), 4u);
    std::set<std::string> picked;
    for (std::uint64_t r = 0; r < 64; ++r) {
        auto m = book.pick(start, r);
        ASSERT_TRUE(m);
        picked.insert(to_coordinate(*m));
        EXPECT_EQ(book.pick(start, r), m);
    }
    EXPECT_GE(picked.size(), 3u);

    // Found by position, whatever the move order.
    Position transposed = start;
    for (const char *m : {"g1f3", "d7d5", "d2d4"})
        transposed.make(*transposed.parse_coordinate(m));
    EXPECT_FALSE(book.moves(transposed).empty());

    EXPECT_FALSE(book.pick(fen("r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R w KQ - 0 8"), 1));
}
