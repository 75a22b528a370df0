// Game-tree search: iterative deepening, alpha-beta with principal-variation
// search, a transposition table, quiescence over captures, and an evaluation
// of material, piece-square terms and a mop-up term that drives a lone king to
// the edge. Single-threaded; the caller polls for input through SearchHooks.
#pragma once

#include "board.hpp"

#include <cstdint>
#include <vector>

namespace chess {

constexpr int MATE = 30000;
constexpr int INFINITE_SCORE = 32000;
constexpr int MAX_PLY = 96;

inline bool is_mate_score(int score) { return score > MATE - 1000 || score < -(MATE - 1000); }
// Moves (not plies) to the mate a mate score stands for; positive when the
// side to move mates.
inline int mate_moves(int score) { return score > 0 ? (MATE - score + 1) / 2 : -((MATE + score + 1) / 2); }

// Static evaluation in centipawns from the side to move's point of view.
int evaluate(const Position &pos);

struct SearchLimits {
    int max_depth = 64;
    std::uint64_t max_nodes = 0;  // 0: no limit
};

enum class InfoKind {
    ITERATION,  // an iteration completed: exact score
    NEW_BEST,   // a new best root move within an iteration
    FAIL_HIGH,  // the score rose above the aspiration window
    FAIL_LOW,   // the score fell below it
};

struct SearchInfo {
    InfoKind kind = InfoKind::ITERATION;
    int depth = 0;
    int score = 0;
    std::vector<Move> pv;
    std::uint64_t nodes = 0;
    int root_index = 0;  // 1-based number of the root move being searched
    int root_count = 0;
};

class SearchHooks {
public:
    virtual ~SearchHooks() = default;
    // Called every few thousand nodes with the state so far; true stops the
    // search at once.
    virtual bool poll(const SearchInfo &progress) = 0;
    virtual void report(const SearchInfo &info) = 0;
};

struct SearchResult {
    Move best;           // null when the side to move has no legal move
    int score = 0;
    int depth = 0;       // last depth searched, completed or not
    std::vector<Move> pv;
    std::uint64_t nodes = 0;
    bool stopped = false;  // ended by the hooks or the node limit
};

class Searcher {
public:
    explicit Searcher(int table_bits = 18);
    SearchResult run(Position &pos, const SearchLimits &limits, SearchHooks *hooks);
    // Forgets everything learnt: a new game starts from a clean state, so the
    // same game replays the same way.
    void clear();

    static constexpr std::uint64_t POLL_INTERVAL = 1024;

private:
    struct Entry {
        std::uint64_t key = 0;
        Move move;
        std::int16_t score = 0;
        std::int8_t depth = -1;
        std::uint8_t bound = 0;
    };
    enum Bound : std::uint8_t { BOUND_NONE = 0, BOUND_UPPER = 1, BOUND_LOWER = 2, BOUND_EXACT = 3 };

    int search(int depth, int alpha, int beta, int ply, bool null_allowed);
    int quiesce(int alpha, int beta, int ply);
    bool check_stop();
    void order(MoveList &moves, int *scores, const Move &tt_move, int ply);
    void store(int depth, int score, int ply, Bound bound, const Move &move);
    Entry *probe();
    void copy_pv(int ply, const Move &m);
    SearchInfo progress() const;

    std::vector<Entry> table_;
    std::uint64_t table_mask_;
    Position *pos_ = nullptr;
    SearchHooks *hooks_ = nullptr;
    SearchLimits limits_;
    std::uint64_t nodes_ = 0;
    std::uint64_t next_poll_ = 0;
    bool stop_ = false;

    Move pv_[MAX_PLY + 1][MAX_PLY + 1];
    int pv_len_[MAX_PLY + 1] = {};
    Move killers_[MAX_PLY + 1][2];
    int history_[16][64] = {};

    // Root state, for progress reports.
    int depth_ = 0;
    int root_index_ = 0;
    int root_count_ = 0;
    int best_score_ = 0;
    std::vector<Move> best_pv_;
};

}  // namespace chess
