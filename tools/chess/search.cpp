#include "search.hpp"

#include <algorithm>
#include <cstdlib>

namespace chess {

namespace {

constexpr int PIECE_VALUE[7] = {0, 100, 320, 330, 500, 900, 0};
constexpr int PHASE_WEIGHT[7] = {0, 0, 1, 1, 2, 4, 0};
constexpr int FULL_PHASE = 24;

// Distance of a square from the centre, 0 for d4-e5 up to 3 for the rim.
int centre_distance(int sq) {
    int f = std::abs(2 * file_of(sq) - 7), r = std::abs(2 * rank_of(sq) - 7);
    return (std::max(f, r) - 1) / 2;
}

int king_distance(int a, int b) {
    return std::max(std::abs(file_of(a) - file_of(b)), std::abs(rank_of(a) - rank_of(b)));
}

// Piece-square terms for White, by square; Black reads them mirrored. The
// middle-game and end-game values are blended by the material left.
struct SquareTables {
    int mg[7][64];
    int eg[7][64];
    SquareTables() {
        for (int sq = 0; sq < 64; ++sq) {
            int f = file_of(sq), r = rank_of(sq), c = centre_distance(sq);
            bool centre_file = f == 3 || f == 4;
            mg[PAWN][sq] = (r - 1) * 4 + (centre_file && (r == 3 || r == 4) ? 18 : 0) +
                           (centre_file && r == 1 ? -10 : 0);
            eg[PAWN][sq] = (r - 1) * 14;
            mg[KNIGHT][sq] = 18 - 12 * c - (r == 0 ? 8 : 0);
            eg[KNIGHT][sq] = 10 - 8 * c;
            mg[BISHOP][sq] = 10 - 5 * c - (r == 0 ? 6 : 0);
            eg[BISHOP][sq] = 6 - 4 * c;
            mg[ROOK][sq] = (r == 6 ? 16 : 0) + (centre_file ? 6 : 0);
            eg[ROOK][sq] = r == 6 ? 10 : 0;
            mg[QUEEN][sq] = 4 - 3 * c;
            eg[QUEEN][sq] = 8 - 5 * c;
            // A king stays home behind its pawns while queens are on, and
            // walks to the centre in the end game.
            mg[KING][sq] = r == 0 ? (f == 6 || f == 1 || f == 2 ? 24 : (f == 4 || f == 3 ? 0 : 8)) : -18 * r;
            eg[KING][sq] = 24 - 12 * c;
            mg[NO_TYPE][sq] = eg[NO_TYPE][sq] = 0;
        }
    }
};

const SquareTables &square_tables() {
    static const SquareTables t;
    return t;
}

int mvv_lva(const Position &pos, const Move &m) {
    int victim = (m.flags & FLAG_EN_PASSANT) ? PAWN : type_of(pos.at(m.to));
    int attacker = type_of(pos.at(m.from));
    return PIECE_VALUE[victim] * 10 - PIECE_VALUE[attacker] / 10 + (m.promo ? PIECE_VALUE[m.promo] : 0);
}

}  // namespace

int evaluate(const Position &pos) {
    const SquareTables &t = square_tables();
    int mg[2] = {0, 0}, eg[2] = {0, 0}, material[2] = {0, 0}, pawns[2] = {0, 0}, bishops[2] = {0, 0};
    int phase = 0;
    for (int sq = 0; sq < 64; ++sq) {
        Piece p = pos.at(sq);
        if (p == EMPTY)
            continue;
        Color c = color_of(p);
        int type = type_of(p);
        int index = c == WHITE ? sq : square(file_of(sq), 7 - rank_of(sq));
        mg[c] += t.mg[type][index];
        eg[c] += t.eg[type][index];
        material[c] += PIECE_VALUE[type];
        phase += PHASE_WEIGHT[type];
        if (type == PAWN)
            ++pawns[c];
        if (type == BISHOP)
            ++bishops[c];
    }
    phase = std::min(phase, FULL_PHASE);
    int score[2];
    for (int c = 0; c < 2; ++c) {
        score[c] = material[c] + (mg[c] * phase + eg[c] * (FULL_PHASE - phase)) / FULL_PHASE;
        if (bishops[c] >= 2)
            score[c] += 30;
    }
    // Mop-up: with the other side down to a bare king, herd it to the rim and
    // bring the own king close, so that won end games end in mate.
    for (int c = 0; c < 2; ++c) {
        int o = 1 - c;
        int own_king = pos.king_square(static_cast<Color>(c)), their_king = pos.king_square(static_cast<Color>(o));
        if (material[o] == 0 && material[c] >= PIECE_VALUE[ROOK] && own_king >= 0 && their_king >= 0)
            score[c] += 40 + 20 * centre_distance(their_king) + 8 * (7 - king_distance(own_king, their_king));
    }
    // A side without pawns needs more than a minor piece ahead to win.
    for (int c = 0; c < 2; ++c)
        if (pawns[c] == 0 && material[c] - material[1 - c] <= PIECE_VALUE[BISHOP] && material[c] > material[1 - c])
            score[c] = material[1 - c] + (score[c] - material[1 - c]) / 4;
    int white_view = score[WHITE] - score[BLACK];
    return (pos.side() == WHITE ? white_view : -white_view) + 10;
}

Searcher::Searcher(int table_bits)
    : table_(std::size_t{1} << table_bits), table_mask_((std::uint64_t{1} << table_bits) - 1) {}

void Searcher::clear() {
    std::fill(table_.begin(), table_.end(), Entry{});
    for (auto &row : history_)
        std::fill(std::begin(row), std::end(row), 0);
    for (auto &k : killers_)
        k[0] = k[1] = Move{};
}

Searcher::Entry *Searcher::probe() {
    Entry &e = table_[pos_->hash() & table_mask_];
    return e.key == pos_->hash() ? &e : nullptr;
}

void Searcher::store(int depth, int score, int ply, Bound bound, const Move &move) {
    Entry &e = table_[pos_->hash() & table_mask_];
    // Mate scores are kept relative to the node, not the root.
    if (score > MATE - 1000)
        score += ply;
    else if (score < -(MATE - 1000))
        score -= ply;
    e.key = pos_->hash();
    e.move = move;
    e.score = static_cast<std::int16_t>(score);
    e.depth = static_cast<std::int8_t>(std::clamp(depth, -1, 127));
    e.bound = bound;
}

void Searcher::copy_pv(int ply, const Move &m) {
    pv_[ply][ply] = m;
    int next_len = ply + 1 <= MAX_PLY ? pv_len_[ply + 1] : ply + 1;
    for (int i = ply + 1; i < next_len && i <= MAX_PLY; ++i)
        pv_[ply][i] = pv_[ply + 1][i];
    pv_len_[ply] = std::max(next_len, ply + 1);
}

SearchInfo Searcher::progress() const {
    SearchInfo info;
    info.depth = depth_;
    info.score = best_score_;
    info.pv = best_pv_;
    info.nodes = nodes_;
    info.root_index = root_index_;
    info.root_count = root_count_;
    return info;
}

bool Searcher::check_stop() {
    if (stop_)
        return true;
    if (nodes_ < next_poll_)
        return false;
    next_poll_ = nodes_ + POLL_INTERVAL;
    if (limits_.max_nodes && nodes_ >= limits_.max_nodes)
        stop_ = true;
    else if (hooks_ && hooks_->poll(progress()))
        stop_ = true;
    return stop_;
}

void Searcher::order(MoveList &moves, int *scores, const Move &tt_move, int ply) {
    for (int i = 0; i < moves.size; ++i) {
        const Move &m = moves[i];
        int s;
        if (m == tt_move)
            s = 1 << 30;
        else if (m.is_capture() || m.promo)
            s = (1 << 24) + mvv_lva(*pos_, m);
        else if (m == killers_[ply][0])
            s = (1 << 23) + 1;
        else if (m == killers_[ply][1])
            s = 1 << 23;
        else
            s = history_[pos_->at(m.from) & 15][m.to];
        scores[i] = s;
    }
}

// Brings the best-scored remaining move to position i.
static void pick(MoveList &moves, int *scores, int i) {
    int best = i;
    for (int j = i + 1; j < moves.size; ++j)
        if (scores[j] > scores[best])
            best = j;
    if (best != i) {
        std::swap(moves[i], moves[best]);
        std::swap(scores[i], scores[best]);
    }
}

int Searcher::quiesce(int alpha, int beta, int ply) {
    pv_len_[ply] = ply;
    ++nodes_;
    if (check_stop())
        return 0;
    bool in_check = pos_->in_check();
    if (ply >= MAX_PLY)
        return evaluate(*pos_);
    int best = -INFINITE_SCORE;
    if (!in_check) {
        int stand = evaluate(*pos_);
        if (stand >= beta)
            return stand;
        if (stand > alpha)
            alpha = stand;
        best = stand;
    }
    MoveList moves;
    pos_->generate_pseudo(moves, !in_check);
    int scores[MoveList::CAPACITY];
    order(moves, scores, Move{}, ply);
    Color mover = pos_->side();
    int legal = 0;
    for (int i = 0; i < moves.size; ++i) {
        pick(moves, scores, i);
        const Move &m = moves[i];
        pos_->make(m);
        if (pos_->in_check(mover)) {
            pos_->unmake();
            continue;
        }
        ++legal;
        int score = -quiesce(-beta, -alpha, ply + 1);
        pos_->unmake();
        if (stop_)
            return 0;
        if (score > best) {
            best = score;
            if (score > alpha) {
                alpha = score;
                copy_pv(ply, m);
                if (alpha >= beta)
                    break;
            }
        }
    }
    if (in_check && legal == 0)
        return -(MATE - ply);
    return best;
}

int Searcher::search(int depth, int alpha, int beta, int ply, bool null_allowed) {
    pv_len_[ply] = ply;
    if (ply > 0) {
        if (pos_->halfmove_clock() >= 100 || pos_->repetitions() >= 1 || pos_->insufficient_material())
            return 0;
        // No mate found further away can beat one already found nearer.
        alpha = std::max(alpha, -(MATE - ply));
        beta = std::min(beta, MATE - ply - 1);
        if (alpha >= beta)
            return alpha;
    }
    bool in_check = pos_->in_check();
    if (in_check && ply < MAX_PLY / 2)
        ++depth;
    if (depth <= 0)
        return quiesce(alpha, beta, ply);
    ++nodes_;
    if (check_stop())
        return 0;
    if (ply >= MAX_PLY)
        return evaluate(*pos_);

    Move tt_move;
    if (Entry *e = probe()) {
        tt_move = e->move;
        int score = e->score;
        if (score > MATE - 1000)
            score -= ply;
        else if (score < -(MATE - 1000))
            score += ply;
        if (ply > 0 && e->depth >= depth) {
            if (e->bound == BOUND_EXACT || (e->bound == BOUND_LOWER && score >= beta) ||
                (e->bound == BOUND_UPPER && score <= alpha))
                return score;
        }
    }

    Color mover = pos_->side();
    // Null move: if passing still holds beta, a real move will too. Not with
    // pawns alone, where passing can be the only losing choice.
    if (null_allowed && !in_check && ply > 0 && depth >= 3 && beta < MATE - 1000 &&
        pos_->material(mover) > PIECE_VALUE[ROOK] && evaluate(*pos_) >= beta) {
        pos_->make_null();
        int score = -search(depth - 3, -beta, -beta + 1, ply + 1, false);
        pos_->unmake_null();
        if (stop_)
            return 0;
        if (score >= beta)
            return beta;
    }

    MoveList moves;
    pos_->generate_pseudo(moves);
    int scores[MoveList::CAPACITY];
    order(moves, scores, tt_move, ply);
    int best = -INFINITE_SCORE;
    Move best_move;
    int original_alpha = alpha;
    int legal = 0;
    for (int i = 0; i < moves.size; ++i) {
        pick(moves, scores, i);
        const Move m = moves[i];
        pos_->make(m);
        if (pos_->in_check(mover)) {
            pos_->unmake();
            continue;
        }
        ++legal;
        int score;
        if (legal == 1) {
            score = -search(depth - 1, -beta, -alpha, ply + 1, true);
        } else {
            score = -search(depth - 1, -alpha - 1, -alpha, ply + 1, true);
            if (score > alpha && score < beta && !stop_)
                score = -search(depth - 1, -beta, -alpha, ply + 1, true);
        }
        pos_->unmake();
        if (stop_)
            return 0;
        if (score > best) {
            best = score;
            best_move = m;
            if (score > alpha) {
                alpha = score;
                copy_pv(ply, m);
                if (alpha >= beta) {
                    if (!m.is_capture() && !m.promo) {
                        if (killers_[ply][0] != m) {
                            killers_[ply][1] = killers_[ply][0];
                            killers_[ply][0] = m;
                        }
                        int &h = history_[pos_->at(m.from) & 15][m.to];
                        h = std::min(h + depth * depth, 1 << 20);
                    }
                    break;
                }
            }
        }
    }
    if (legal == 0)
        return in_check ? -(MATE - ply) : 0;
    Bound bound = best >= beta ? BOUND_LOWER : (best > original_alpha ? BOUND_EXACT : BOUND_UPPER);
    store(depth, best, ply, bound, best_move);
    return best;
}

SearchResult Searcher::run(Position &pos, const SearchLimits &limits, SearchHooks *hooks) {
    pos_ = &pos;
    hooks_ = hooks;
    limits_ = limits;
    nodes_ = 0;
    next_poll_ = POLL_INTERVAL;
    stop_ = false;
    best_pv_.clear();
    best_score_ = 0;
    depth_ = 0;

    SearchResult result;
    MoveList root;
    pos.generate_legal(root);
    root_count_ = root.size;
    root_index_ = 0;
    if (root.size == 0) {
        result.score = pos.in_check() ? -MATE : 0;
        return result;
    }

    // Root moves in the order of the last iteration's scores; first by the
    // table move and captures.
    std::vector<std::pair<int, Move>> order_list;
    {
        int scores[MoveList::CAPACITY];
        Entry *e = probe();
        order(root, scores, e ? e->move : Move{}, 0);
        for (int i = 0; i < root.size; ++i)
            order_list.push_back({scores[i], root[i]});
        std::stable_sort(order_list.begin(), order_list.end(),
                         [](const auto &a, const auto &b) { return a.first > b.first; });
    }
    result.best = order_list.front().second;
    result.pv = {result.best};
    best_pv_ = result.pv;

    int previous = 0;
    int max_depth = std::clamp(limits.max_depth, 1, MAX_PLY / 2);
    for (int depth = 1; depth <= max_depth; ++depth) {
        depth_ = depth;
        int window = depth >= 4 && !is_mate_score(previous) ? 50 : INFINITE_SCORE;
        int alpha = window == INFINITE_SCORE ? -INFINITE_SCORE : previous - window;
        int beta = window == INFINITE_SCORE ? INFINITE_SCORE : previous + window;
        int iteration_score = 0;
        std::vector<Move> iteration_pv;
        for (;;) {
            pv_len_[0] = 0;
            int a = alpha;
            int best = -INFINITE_SCORE;
            Move best_move;
            std::vector<std::pair<int, Move>> scored;
            for (int i = 0; i < static_cast<int>(order_list.size()); ++i) {
                root_index_ = i + 1;
                const Move m = order_list[i].second;
                pos.make(m);
                ++nodes_;
                int score;
                if (i == 0) {
                    score = -search(depth - 1, -beta, -a, 1, true);
                } else {
                    score = -search(depth - 1, -a - 1, -a, 1, true);
                    if (score > a && score < beta && !stop_)
                        score = -search(depth - 1, -beta, -a, 1, true);
                }
                pos.unmake();
                if (stop_)
                    break;
                scored.push_back({score, m});
                if (score > best) {
                    best = score;
                    best_move = m;
                    if (score > a) {
                        a = score;
                        copy_pv(0, m);
                        if (score < beta) {
                            // Proven within the window: good enough to play if
                            // time runs out before the iteration ends.
                            best_pv_.assign(pv_[0], pv_[0] + pv_len_[0]);
                            best_score_ = score;
                            result.best = m;
                            result.pv = best_pv_;
                            result.score = score;
                            if (i > 0 && hooks)
                                hooks->report(SearchInfo{InfoKind::NEW_BEST, depth, score, best_pv_, nodes_,
                                                         root_index_, root_count_});
                        }
                    }
                }
                if (score >= beta)
                    break;
            }
            if (stop_)
                break;
            if (best <= alpha && alpha > -INFINITE_SCORE) {
                if (hooks)
                    hooks->report(SearchInfo{InfoKind::FAIL_LOW, depth, alpha, best_pv_, nodes_, root_index_,
                                             root_count_});
                alpha = -INFINITE_SCORE;
                continue;
            }
            if (best >= beta && beta < INFINITE_SCORE) {
                std::vector<Move> pv(pv_[0], pv_[0] + std::max(pv_len_[0], 1));
                pv[0] = best_move;
                if (hooks)
                    hooks->report(
                        SearchInfo{InfoKind::FAIL_HIGH, depth, beta, pv, nodes_, root_index_, root_count_});
                beta = INFINITE_SCORE;
                continue;
            }
            // Completed: reorder the root for the next iteration, best first.
            for (auto &entry : order_list) {
                auto found = std::find_if(scored.begin(), scored.end(),
                                          [&](const auto &s) { return s.second == entry.second; });
                entry.first = found != scored.end() ? found->first : -INFINITE_SCORE;
            }
            std::stable_sort(order_list.begin(), order_list.end(),
                             [](const auto &x, const auto &y) { return x.first > y.first; });
            iteration_score = best;
            iteration_pv.assign(pv_[0], pv_[0] + pv_len_[0]);
            if (iteration_pv.empty() || iteration_pv[0] != best_move)
                iteration_pv = {best_move};
            break;
        }
        result.depth = depth;
        if (stop_)
            break;
        previous = iteration_score;
        result.best = iteration_pv.front();
        result.pv = iteration_pv;
        result.score = iteration_score;
        best_pv_ = iteration_pv;
        best_score_ = iteration_score;
        {
            // Store the root too, so the next search starts from this move.
            Entry &e = table_[pos.hash() & table_mask_];
            e.key = pos.hash();
            e.move = result.best;
            e.depth = static_cast<std::int8_t>(depth);
            e.score = static_cast<std::int16_t>(iteration_score);
            e.bound = BOUND_EXACT;
        }
        if (hooks)
            hooks->report(SearchInfo{InfoKind::ITERATION, depth, iteration_score, iteration_pv, nodes_,
                                     root_count_, root_count_});
        // A forced mate found: deeper iterations find no shorter one.
        if (is_mate_score(iteration_score) && depth >= 2 * std::abs(mate_moves(iteration_score)) + 2)
            break;
        if (root_count_ == 1 && depth >= 4)
            break;
    }
    result.nodes = nodes_;
    result.stopped = stop_;
    return result;
}

}  // namespace chess
