// Chess rules for the device emulator and the driver: the board, legal move
// generation (castling, en passant, promotion), draw rules, FEN and perft.
//
// Squares are numbered file + 8 * rank, a1 = 0 ... h8 = 63, the same order the
// device's position command uses. The board accepts any placement the
// position command can describe, including ones without kings, with several
// kings or with pawns on the first and last ranks: such positions are played
// by the same rules and never crash the generator.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chess {

enum Color : int { WHITE = 0, BLACK = 1 };
inline Color opposite(Color c) { return c == WHITE ? BLACK : WHITE; }

enum PieceType : int { NO_TYPE = 0, PAWN = 1, KNIGHT = 2, BISHOP = 3, ROOK = 4, QUEEN = 5, KING = 6 };

// A piece is its type with the colour in bit 3; 0 is an empty square.
using Piece = std::uint8_t;
constexpr Piece EMPTY = 0;
constexpr Piece make_piece(Color c, int type) { return static_cast<Piece>(type | (c << 3)); }
constexpr int type_of(Piece p) { return p & 7; }
constexpr Color color_of(Piece p) { return static_cast<Color>(p >> 3); }

constexpr int file_of(int sq) { return sq & 7; }
constexpr int rank_of(int sq) { return sq >> 3; }
constexpr int square(int file, int rank) { return file + 8 * rank; }

// "e4" -> 28; -1 for anything that is not a square.
int parse_square(std::string_view text);
std::string square_name(int sq);

enum MoveFlag : std::uint8_t {
    FLAG_CAPTURE = 1,
    FLAG_EN_PASSANT = 2,
    FLAG_CASTLE = 4,
    FLAG_DOUBLE_PUSH = 8,
};

struct Move {
    std::uint8_t from = 0;
    std::uint8_t to = 0;
    std::uint8_t promo = NO_TYPE;  // piece type a pawn becomes, or NO_TYPE
    std::uint8_t flags = 0;

    bool is_null() const { return from == 0 && to == 0; }
    bool is_capture() const { return flags & FLAG_CAPTURE; }
    bool operator==(const Move &o) const { return from == o.from && to == o.to && promo == o.promo; }
    bool operator!=(const Move &o) const { return !(*this == o); }
};

// Coordinate notation as the engine protocol writes it: e2e4, e7e8q.
std::string to_coordinate(const Move &m);

// A fixed-capacity move list; no position has more than 218 legal moves, but
// pseudo-legal lists of odd placements (nine queens) can be longer.
struct MoveList {
    static constexpr int CAPACITY = 512;
    std::array<Move, CAPACITY> moves;
    int size = 0;

    void push(const Move &m) {
        if (size < CAPACITY)
            moves[size++] = m;
    }
    Move *begin() { return moves.data(); }
    Move *end() { return moves.data() + size; }
    const Move *begin() const { return moves.data(); }
    const Move *end() const { return moves.data() + size; }
    Move &operator[](int i) { return moves[i]; }
    const Move &operator[](int i) const { return moves[i]; }
};

enum CastleRight : std::uint8_t { WHITE_SHORT = 1, WHITE_LONG = 2, BLACK_SHORT = 4, BLACK_LONG = 8 };

// Why a game is over, from the point of view of the side to move.
enum class GameState {
    ONGOING,
    CHECKMATE,      // the side to move is mated
    STALEMATE,
    REPETITION,     // the position stands for the third time
    FIFTY_MOVES,    // fifty moves by each side without a capture or pawn move
    INSUFFICIENT,   // neither side can mate
};

class Position {
public:
    Position();  // the empty board, White to move

    static Position start();
    // A full FEN record; the move counters may be missing. nullopt when the
    // text is not a FEN record.
    static std::optional<Position> from_fen(std::string_view fen);
    std::string fen() const;

    // Puts a piece on a square (EMPTY clears it). For building positions;
    // call finish_setup() afterwards.
    void put(int sq, Piece p);
    // Side to move, no en passant, counters reset, castling rights for every
    // king and rook still on their original squares, history cleared.
    void finish_setup(Color to_move);

    Piece at(int sq) const { return board_[sq]; }
    Color side() const { return side_; }
    std::uint8_t castling() const { return castling_; }
    int en_passant() const { return ep_; }
    int halfmove_clock() const { return halfmove_; }
    int fullmove_number() const { return fullmove_; }
    std::uint64_t hash() const { return hash_; }
    int king_square(Color c) const { return king_[c]; }
    int ply_count() const { return static_cast<int>(undo_.size()); }

    bool attacked(int sq, Color by) const;
    bool in_check(Color c) const { return king_[c] >= 0 && attacked(king_[c], opposite(c)); }
    bool in_check() const { return in_check(side_); }

    void generate_pseudo(MoveList &out, bool captures_only = false) const;
    void generate_legal(MoveList &out) const;
    bool is_legal_after(const Move &m);  // makes and unmakes m
    bool has_legal_move() const;

    // The legal move from -> to (with promo for promotions), if there is one.
    std::optional<Move> find_legal(int from, int to, int promo) const;
    // e2e4 / e7e8q; nullopt when it is not a legal move here.
    std::optional<Move> parse_coordinate(std::string_view text) const;

    void make(const Move &m);
    void unmake();
    void make_null();  // passes the move; for search only
    void unmake_null();

    // Times the current position has stood before in this game, counting only
    // positions since the last capture or pawn move.
    int repetitions() const;
    bool insufficient_material() const;
    GameState state() const;

    // Material of one side in centipawns, kings not counted.
    int material(Color c) const;
    const Move &last_move() const { return undo_.back().move; }
    bool has_history() const { return !undo_.empty(); }

private:
    struct Undo {
        Move move;
        Piece captured;
        std::uint8_t castling;
        std::int8_t ep;
        std::int8_t king_white, king_black;
        std::int16_t halfmove;
        std::uint64_t hash;
    };

    void set_piece(int sq, Piece p);
    void rescan_kings();
    void add_pawn_moves(MoveList &out, int from, bool captures_only) const;
    void add_castling(MoveList &out) const;
    std::uint64_t compute_hash() const;

    std::array<Piece, 64> board_{};
    Color side_ = WHITE;
    std::uint8_t castling_ = 0;
    int ep_ = -1;
    int halfmove_ = 0;
    int fullmove_ = 1;
    int king_[2] = {-1, -1};
    std::uint64_t hash_ = 0;
    std::vector<Undo> undo_;
};

std::uint64_t perft(Position &pos, int depth);

}  // namespace chess
