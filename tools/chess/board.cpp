#include "board.hpp"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace chess {

namespace {

struct Tables {
    // Targets of a knight and a king from each square, ended by -1.
    std::array<std::array<std::int8_t, 9>, 64> knight{};
    std::array<std::array<std::int8_t, 9>, 64> king{};
    // Squares along each of the eight directions, ended by -1. Directions 0-3
    // are orthogonal, 4-7 diagonal.
    std::array<std::array<std::array<std::int8_t, 8>, 8>, 64> ray{};
    // Castling rights that survive a move touching the square.
    std::array<std::uint8_t, 64> castle_keep{};
    // Hash keys.
    std::array<std::array<std::uint64_t, 64>, 16> piece_key{};
    std::array<std::uint64_t, 16> castle_key{};
    std::array<std::uint64_t, 8> ep_key{};
    std::uint64_t side_key = 0;

    Tables() {
        const int knight_steps[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
        const int king_steps[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
        for (int sq = 0; sq < 64; ++sq) {
            int f = file_of(sq), r = rank_of(sq);
            int nk = 0, ng = 0;
            for (int i = 0; i < 8; ++i) {
                int nf = f + knight_steps[i][0], nr = r + knight_steps[i][1];
                if (nf >= 0 && nf < 8 && nr >= 0 && nr < 8)
                    knight[sq][nk++] = static_cast<std::int8_t>(square(nf, nr));
                nf = f + king_steps[i][0];
                nr = r + king_steps[i][1];
                if (nf >= 0 && nf < 8 && nr >= 0 && nr < 8)
                    king[sq][ng++] = static_cast<std::int8_t>(square(nf, nr));
            }
            knight[sq][nk] = -1;
            king[sq][ng] = -1;
            for (int d = 0; d < 8; ++d) {
                int n = 0;
                int nf = f + king_steps[d][0], nr = r + king_steps[d][1];
                while (nf >= 0 && nf < 8 && nr >= 0 && nr < 8) {
                    ray[sq][d][n++] = static_cast<std::int8_t>(square(nf, nr));
                    nf += king_steps[d][0];
                    nr += king_steps[d][1];
                }
                if (n < 8)
                    ray[sq][d][n] = -1;
            }
            castle_keep[sq] = 15;
        }
        castle_keep[square(4, 0)] = 15 & ~(WHITE_SHORT | WHITE_LONG);
        castle_keep[square(7, 0)] = 15 & ~WHITE_SHORT;
        castle_keep[square(0, 0)] = 15 & ~WHITE_LONG;
        castle_keep[square(4, 7)] = 15 & ~(BLACK_SHORT | BLACK_LONG);
        castle_keep[square(7, 7)] = 15 & ~BLACK_SHORT;
        castle_keep[square(0, 7)] = 15 & ~BLACK_LONG;

        // A fixed generator: hash keys are the same in every run, so book
        // look-ups and games are reproducible.
        std::uint64_t state = 0x5A9F1E3C7B2D4086ULL;
        auto next = [&state] {
            state += 0x9E3779B97F4A7C15ULL;
            std::uint64_t z = state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            return z ^ (z >> 31);
        };
        for (auto &row : piece_key)
            for (auto &k : row)
                k = next();
        for (auto &k : castle_key)
            k = next();
        for (auto &k : ep_key)
            k = next();
        side_key = next();
    }
};

const Tables &tables() {
    static const Tables t;
    return t;
}

int ray_len(const std::array<std::int8_t, 8> &r) {
    int n = 0;
    while (n < 8 && r[n] >= 0)
        ++n;
    return n;
}

}  // namespace

int parse_square(std::string_view text) {
    if (text.size() < 2 || text[0] < 'a' || text[0] > 'h' || text[1] < '1' || text[1] > '8')
        return -1;
    return square(text[0] - 'a', text[1] - '1');
}

std::string square_name(int sq) {
    std::string s(2, ' ');
    s[0] = static_cast<char>('a' + file_of(sq));
    s[1] = static_cast<char>('1' + rank_of(sq));
    return s;
}

std::string to_coordinate(const Move &m) {
    std::string s = square_name(m.from) + square_name(m.to);
    if (m.promo != NO_TYPE)
        s += " pnbrqk"[m.promo];
    return s;
}

Position::Position() { hash_ = compute_hash(); }

Position Position::start() {
    return *from_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
}

std::optional<Position> Position::from_fen(std::string_view fen) {
    std::istringstream in{std::string(fen)};
    std::string placement, side, castle = "-", ep = "-";
    int halfmove = 0, fullmove = 1;
    if (!(in >> placement >> side))
        return std::nullopt;
    in >> castle >> ep;
    if (in >> halfmove)
        in >> fullmove;

    Position pos;
    int rank = 7, file = 0;
    for (char c : placement) {
        if (c == '/') {
            if (file != 8 || rank == 0)
                return std::nullopt;
            --rank;
            file = 0;
        } else if (c >= '1' && c <= '8') {
            file += c - '0';
            if (file > 8)
                return std::nullopt;
        } else {
            static const std::string letters = "PNBRQKpnbrqk";
            auto at = letters.find(c);
            if (at == std::string::npos || file > 7)
                return std::nullopt;
            Color color = at < 6 ? WHITE : BLACK;
            pos.board_[square(file, rank)] = make_piece(color, static_cast<int>(at % 6) + 1);
            ++file;
        }
    }
    if (rank != 0 || file != 8)
        return std::nullopt;
    if (side != "w" && side != "b")
        return std::nullopt;
    pos.side_ = side == "w" ? WHITE : BLACK;

    pos.castling_ = 0;
    if (castle != "-") {
        for (char c : castle) {
            switch (c) {
            case 'K': pos.castling_ |= WHITE_SHORT; break;
            case 'Q': pos.castling_ |= WHITE_LONG; break;
            case 'k': pos.castling_ |= BLACK_SHORT; break;
            case 'q': pos.castling_ |= BLACK_LONG; break;
            default: return std::nullopt;
            }
        }
    }
    pos.ep_ = ep == "-" ? -1 : parse_square(ep);
    if (ep != "-" && (pos.ep_ < 0 || (rank_of(pos.ep_) != 2 && rank_of(pos.ep_) != 5)))
        return std::nullopt;
    pos.halfmove_ = halfmove < 0 ? 0 : halfmove;
    pos.fullmove_ = fullmove < 1 ? 1 : fullmove;
    pos.rescan_kings();
    pos.hash_ = pos.compute_hash();
    return pos;
}

std::string Position::fen() const {
    std::string out;
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            Piece p = board_[square(file, rank)];
            if (p == EMPTY) {
                ++empty;
                continue;
            }
            if (empty)
                out += static_cast<char>('0' + empty);
            empty = 0;
            char c = " PNBRQK"[type_of(p)];
            out += color_of(p) == WHITE ? c : static_cast<char>(std::tolower(c));
        }
        if (empty)
            out += static_cast<char>('0' + empty);
        if (rank)
            out += '/';
    }
    out += side_ == WHITE ? " w " : " b ";
    std::string castle;
    if (castling_ & WHITE_SHORT) castle += 'K';
    if (castling_ & WHITE_LONG) castle += 'Q';
    if (castling_ & BLACK_SHORT) castle += 'k';
    if (castling_ & BLACK_LONG) castle += 'q';
    out += castle.empty() ? "-" : castle;
    out += ' ';
    out += ep_ < 0 ? "-" : square_name(ep_);
    out += ' ' + std::to_string(halfmove_) + ' ' + std::to_string(fullmove_);
    return out;
}

void Position::put(int sq, Piece p) { board_[sq] = p; }

void Position::finish_setup(Color to_move) {
    side_ = to_move;
    ep_ = -1;
    halfmove_ = 0;
    fullmove_ = 1;
    castling_ = 0;
    auto stands = [this](int sq, Piece p) { return board_[sq] == p; };
    if (stands(square(4, 0), make_piece(WHITE, KING))) {
        if (stands(square(7, 0), make_piece(WHITE, ROOK))) castling_ |= WHITE_SHORT;
        if (stands(square(0, 0), make_piece(WHITE, ROOK))) castling_ |= WHITE_LONG;
    }
    if (stands(square(4, 7), make_piece(BLACK, KING))) {
        if (stands(square(7, 7), make_piece(BLACK, ROOK))) castling_ |= BLACK_SHORT;
        if (stands(square(0, 7), make_piece(BLACK, ROOK))) castling_ |= BLACK_LONG;
    }
    undo_.clear();
    rescan_kings();
    hash_ = compute_hash();
}

void Position::rescan_kings() {
    king_[WHITE] = king_[BLACK] = -1;
    for (int sq = 0; sq < 64; ++sq) {
        Piece p = board_[sq];
        if (type_of(p) == KING && king_[color_of(p)] < 0)
            king_[color_of(p)] = sq;
    }
}

std::uint64_t Position::compute_hash() const {
    const Tables &t = tables();
    std::uint64_t h = 0;
    for (int sq = 0; sq < 64; ++sq)
        if (board_[sq] != EMPTY)
            h ^= t.piece_key[board_[sq]][sq];
    h ^= t.castle_key[castling_];
    if (ep_ >= 0)
        h ^= t.ep_key[file_of(ep_)];
    if (side_ == BLACK)
        h ^= t.side_key;
    return h;
}

void Position::set_piece(int sq, Piece p) {
    const Tables &t = tables();
    if (board_[sq] != EMPTY)
        hash_ ^= t.piece_key[board_[sq]][sq];
    board_[sq] = p;
    if (p != EMPTY)
        hash_ ^= t.piece_key[p][sq];
}

bool Position::attacked(int sq, Color by) const {
    const Tables &t = tables();
    int f = file_of(sq);
    Piece pawn = make_piece(by, PAWN);
    if (by == WHITE) {
        if (f > 0 && sq - 9 >= 0 && board_[sq - 9] == pawn) return true;
        if (f < 7 && sq - 7 >= 0 && board_[sq - 7] == pawn) return true;
    } else {
        if (f < 7 && sq + 9 < 64 && board_[sq + 9] == pawn) return true;
        if (f > 0 && sq + 7 < 64 && board_[sq + 7] == pawn) return true;
    }
    Piece knight = make_piece(by, KNIGHT), king = make_piece(by, KING);
    for (int i = 0; t.knight[sq][i] >= 0; ++i)
        if (board_[t.knight[sq][i]] == knight) return true;
    for (int i = 0; t.king[sq][i] >= 0; ++i)
        if (board_[t.king[sq][i]] == king) return true;
    Piece queen = make_piece(by, QUEEN);
    for (int d = 0; d < 8; ++d) {
        Piece slider = make_piece(by, d < 4 ? ROOK : BISHOP);
        const auto &r = t.ray[sq][d];
        for (int i = 0; i < 8 && r[i] >= 0; ++i) {
            Piece p = board_[r[i]];
            if (p == EMPTY)
                continue;
            if (p == slider || p == queen)
                return true;
            break;
        }
    }
    return false;
}

void Position::add_pawn_moves(MoveList &out, int from, bool captures_only) const {
    int dir = side_ == WHITE ? 8 : -8;
    int last_rank = side_ == WHITE ? 7 : 0;
    int start_rank = side_ == WHITE ? 1 : 6;
    auto add = [&](int to, std::uint8_t flags) {
        if (rank_of(to) == last_rank) {
            for (int promo : {QUEEN, KNIGHT, ROOK, BISHOP})
                out.push(Move{static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to),
                              static_cast<std::uint8_t>(promo), flags});
        } else {
            out.push(Move{static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to), NO_TYPE, flags});
        }
    };
    int ahead = from + dir;
    if (ahead < 0 || ahead >= 64)
        return;  // a pawn standing on its last rank has no moves at all
    if (board_[ahead] == EMPTY && (!captures_only || rank_of(ahead) == last_rank)) {
        add(ahead, 0);
        int two = ahead + dir;
        if (!captures_only && rank_of(from) == start_rank && board_[two] == EMPTY)
            add(two, FLAG_DOUBLE_PUSH);
    }
    for (int side_step : {-1, 1}) {
        int f = file_of(from) + side_step;
        if (f < 0 || f > 7)
            continue;
        int to = ahead + side_step;
        Piece victim = board_[to];
        if (victim != EMPTY && color_of(victim) != side_)
            add(to, FLAG_CAPTURE);
        else if (to == ep_ && victim == EMPTY && board_[to - dir] == make_piece(opposite(side_), PAWN))
            add(to, FLAG_CAPTURE | FLAG_EN_PASSANT);
    }
}

void Position::add_castling(MoveList &out) const {
    int home = side_ == WHITE ? 0 : 56;
    Piece king = make_piece(side_, KING), rook = make_piece(side_, ROOK);
    if (board_[home + 4] != king)
        return;
    Color them = opposite(side_);
    std::uint8_t short_right = side_ == WHITE ? WHITE_SHORT : BLACK_SHORT;
    std::uint8_t long_right = side_ == WHITE ? WHITE_LONG : BLACK_LONG;
    if ((castling_ & short_right) && board_[home + 7] == rook && board_[home + 5] == EMPTY &&
        board_[home + 6] == EMPTY && !attacked(home + 4, them) && !attacked(home + 5, them) &&
        !attacked(home + 6, them))
        out.push(Move{static_cast<std::uint8_t>(home + 4), static_cast<std::uint8_t>(home + 6), NO_TYPE,
                      FLAG_CASTLE});
    if ((castling_ & long_right) && board_[home] == rook && board_[home + 1] == EMPTY &&
        board_[home + 2] == EMPTY && board_[home + 3] == EMPTY && !attacked(home + 4, them) &&
        !attacked(home + 3, them) && !attacked(home + 2, them))
        out.push(Move{static_cast<std::uint8_t>(home + 4), static_cast<std::uint8_t>(home + 2), NO_TYPE,
                      FLAG_CASTLE});
}

void Position::generate_pseudo(MoveList &out, bool captures_only) const {
    const Tables &t = tables();
    out.size = 0;
    auto target_ok = [&](int to, std::uint8_t &flags) {
        Piece p = board_[to];
        if (p == EMPTY) {
            flags = 0;
            return !captures_only;
        }
        if (color_of(p) == side_)
            return false;
        flags = FLAG_CAPTURE;
        return true;
    };
    for (int from = 0; from < 64; ++from) {
        Piece p = board_[from];
        if (p == EMPTY || color_of(p) != side_)
            continue;
        int type = type_of(p);
        std::uint8_t flags = 0;
        switch (type) {
        case PAWN:
            add_pawn_moves(out, from, captures_only);
            break;
        case KNIGHT:
        case KING: {
            const auto &targets = type == KNIGHT ? t.knight[from] : t.king[from];
            for (int i = 0; targets[i] >= 0; ++i)
                if (target_ok(targets[i], flags))
                    out.push(Move{static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(targets[i]),
                                  NO_TYPE, flags});
            break;
        }
        default: {
            int first = type == BISHOP ? 4 : 0;
            int last = type == ROOK ? 4 : 8;
            for (int d = first; d < last; ++d) {
                const auto &r = t.ray[from][d];
                int n = ray_len(r);
                for (int i = 0; i < n; ++i) {
                    int to = r[i];
                    bool ok = target_ok(to, flags);
                    if (ok)
                        out.push(Move{static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to), NO_TYPE,
                                      flags});
                    if (board_[to] != EMPTY)
                        break;
                }
            }
        }
        }
    }
    if (!captures_only)
        add_castling(out);
}

bool Position::is_legal_after(const Move &m) {
    Color mover = side_;
    make(m);
    bool ok = !in_check(mover);
    unmake();
    return ok;
}

void Position::generate_legal(MoveList &out) const {
    Position scratch = *this;
    MoveList pseudo;
    scratch.generate_pseudo(pseudo);
    out.size = 0;
    for (const Move &m : pseudo)
        if (scratch.is_legal_after(m))
            out.push(m);
}

bool Position::has_legal_move() const {
    Position scratch = *this;
    MoveList pseudo;
    scratch.generate_pseudo(pseudo);
    for (const Move &m : pseudo)
        if (scratch.is_legal_after(m))
            return true;
    return false;
}

std::optional<Move> Position::find_legal(int from, int to, int promo) const {
    MoveList legal;
    generate_legal(legal);
    for (const Move &m : legal)
        if (m.from == from && m.to == to && m.promo == promo)
            return m;
    return std::nullopt;
}

std::optional<Move> Position::parse_coordinate(std::string_view text) const {
    int from = parse_square(text);
    int to = text.size() >= 4 ? parse_square(text.substr(2)) : -1;
    if (from < 0 || to < 0)
        return std::nullopt;
    int promo = NO_TYPE;
    if (text.size() >= 5) {
        switch (std::tolower(static_cast<unsigned char>(text[4]))) {
        case 'q': promo = QUEEN; break;
        case 'r': promo = ROOK; break;
        case 'b': promo = BISHOP; break;
        case 'n': promo = KNIGHT; break;
        default: return std::nullopt;
        }
    }
    return find_legal(from, to, promo);
}

void Position::make(const Move &m) {
    const Tables &t = tables();
    Piece moving = board_[m.from];
    Piece captured = board_[m.to];
    int capture_sq = m.to;
    if (m.flags & FLAG_EN_PASSANT) {
        capture_sq = side_ == WHITE ? m.to - 8 : m.to + 8;
        captured = board_[capture_sq];
    }
    undo_.push_back(Undo{m, captured, castling_, static_cast<std::int8_t>(ep_),
                         static_cast<std::int8_t>(king_[WHITE]), static_cast<std::int8_t>(king_[BLACK]),
                         static_cast<std::int16_t>(halfmove_), hash_});

    if (captured != EMPTY)
        set_piece(capture_sq, EMPTY);
    set_piece(m.from, EMPTY);
    set_piece(m.to, m.promo != NO_TYPE ? make_piece(side_, m.promo) : moving);
    if (m.flags & FLAG_CASTLE) {
        int home = side_ == WHITE ? 0 : 56;
        bool short_side = m.to == home + 6;
        int rook_from = short_side ? home + 7 : home;
        int rook_to = short_side ? home + 5 : home + 3;
        set_piece(rook_to, board_[rook_from]);
        set_piece(rook_from, EMPTY);
    }

    hash_ ^= t.castle_key[castling_];
    castling_ &= t.castle_keep[m.from] & t.castle_keep[m.to];
    hash_ ^= t.castle_key[castling_];
    if (ep_ >= 0)
        hash_ ^= t.ep_key[file_of(ep_)];
    ep_ = (m.flags & FLAG_DOUBLE_PUSH) ? (m.from + m.to) / 2 : -1;
    if (ep_ >= 0)
        hash_ ^= t.ep_key[file_of(ep_)];

    halfmove_ = (type_of(moving) == PAWN || captured != EMPTY) ? 0 : halfmove_ + 1;
    if (type_of(moving) == KING && king_[side_] == m.from)
        king_[side_] = m.to;
    if (type_of(captured) == KING)
        rescan_kings();
    if (side_ == BLACK)
        ++fullmove_;
    side_ = opposite(side_);
    hash_ ^= t.side_key;
}

void Position::unmake() {
    if (undo_.empty())
        return;
    Undo u = undo_.back();
    undo_.pop_back();
    side_ = opposite(side_);
    if (side_ == BLACK)
        --fullmove_;
    const Move &m = u.move;
    Piece moved = board_[m.to];
    if (m.promo != NO_TYPE)
        moved = make_piece(side_, PAWN);
    board_[m.from] = moved;
    board_[m.to] = EMPTY;
    if (m.flags & FLAG_EN_PASSANT)
        board_[side_ == WHITE ? m.to - 8 : m.to + 8] = u.captured;
    else
        board_[m.to] = u.captured;
    if (m.flags & FLAG_CASTLE) {
        int home = side_ == WHITE ? 0 : 56;
        bool short_side = m.to == home + 6;
        int rook_from = short_side ? home + 7 : home;
        int rook_to = short_side ? home + 5 : home + 3;
        board_[rook_from] = board_[rook_to];
        board_[rook_to] = EMPTY;
    }
    castling_ = u.castling;
    ep_ = u.ep;
    king_[WHITE] = u.king_white;
    king_[BLACK] = u.king_black;
    halfmove_ = u.halfmove;
    hash_ = u.hash;
}

void Position::make_null() {
    const Tables &t = tables();
    undo_.push_back(Undo{Move{}, EMPTY, castling_, static_cast<std::int8_t>(ep_),
                         static_cast<std::int8_t>(king_[WHITE]), static_cast<std::int8_t>(king_[BLACK]),
                         static_cast<std::int16_t>(halfmove_), hash_});
    if (ep_ >= 0)
        hash_ ^= t.ep_key[file_of(ep_)];
    ep_ = -1;
    ++halfmove_;
    if (side_ == BLACK)
        ++fullmove_;
    side_ = opposite(side_);
    hash_ ^= t.side_key;
}

void Position::unmake_null() {
    Undo u = undo_.back();
    undo_.pop_back();
    side_ = opposite(side_);
    if (side_ == BLACK)
        --fullmove_;
    ep_ = u.ep;
    halfmove_ = u.halfmove;
    hash_ = u.hash;
}

int Position::repetitions() const {
    int count = 0;
    int n = static_cast<int>(undo_.size());
    // Only positions since the last irreversible move can repeat; the same
    // side is to move every second ply.
    for (int back = 2; back <= halfmove_ && back <= n; back += 2)
        if (undo_[n - back].hash == hash_)
            ++count;
    return count;
}

bool Position::insufficient_material() const {
    int minors = 0, knights = 0;
    int bishop_colors = 0;  // bit 0: a bishop on a dark square, bit 1: on a light one
    for (int sq = 0; sq < 64; ++sq) {
        Piece p = board_[sq];
        switch (type_of(p)) {
        case PAWN:
        case ROOK:
        case QUEEN:
            return false;
        case KNIGHT:
            ++minors;
            ++knights;
            break;
        case BISHOP:
            ++minors;
            bishop_colors |= ((file_of(sq) + rank_of(sq)) & 1) ? 2 : 1;
            break;
        default:
            break;
        }
    }
    if (minors <= 1)
        return true;
    // Bishops only, all on squares of one colour: no mate is possible.
    return knights == 0 && bishop_colors != 3;
}

GameState Position::state() const {
    if (!has_legal_move())
        return in_check() ? GameState::CHECKMATE : GameState::STALEMATE;
    if (insufficient_material())
        return GameState::INSUFFICIENT;
    if (halfmove_ >= 100)
        return GameState::FIFTY_MOVES;
    if (repetitions() >= 2)
        return GameState::REPETITION;
    return GameState::ONGOING;
}

int Position::material(Color c) const {
    static const int value[7] = {0, 100, 320, 330, 500, 900, 0};
    int sum = 0;
    for (int sq = 0; sq < 64; ++sq)
        if (board_[sq] != EMPTY && color_of(board_[sq]) == c)
            sum += value[type_of(board_[sq])];
    return sum;
}

std::uint64_t perft(Position &pos, int depth) {
    if (depth == 0)
        return 1;
    MoveList moves;
    pos.generate_pseudo(moves);
    std::uint64_t total = 0;
    Color mover = pos.side();
    for (const Move &m : moves) {
        pos.make(m);
        if (!pos.in_check(mover))
            total += depth == 1 ? 1 : perft(pos, depth - 1);
        pos.unmake();
    }
    return total;
}

}  // namespace chess
