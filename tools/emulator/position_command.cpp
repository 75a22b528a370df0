#include "position_command.hpp"

namespace emu {

namespace {

bool is_square_at(std::string_view s, std::size_t i) {
    return i + 1 < s.size() && s[i] >= 'a' && s[i] <= 'h' && s[i + 1] >= '1' && s[i + 1] <= '8';
}

int kind_of_letter(char c) {
    switch (c) {
    case 'P': case 'p': return chess::PAWN;
    case 'N': case 'n': return chess::KNIGHT;
    case 'B': case 'b': return chess::BISHOP;
    case 'R': case 'r': return chess::ROOK;
    case 'Q': case 'q': return chess::QUEEN;
    case 'K': case 'k': return chess::KING;
    default: return chess::NO_TYPE;
    }
}

}  // namespace

std::optional<chess::Position> decode_position_command(std::string_view command) {
    if (command.substr(0, 3) != "PCW")
        return std::nullopt;
    chess::Position pos;
    chess::Color to_move = chess::WHITE;
    bool black_part = false;
    chess::Piece current = chess::EMPTY;
    for (std::size_t i = 3; i < command.size();) {
        char c = command[i];
        if (is_square_at(command, i)) {
            if (current != chess::EMPTY)
                pos.put(chess::parse_square(command.substr(i, 2)), current);
            i += 2;
            continue;
        }
        if (c == 'B' && !black_part && !is_square_at(command, i + 1)) {
            // "B" not followed by a square ends the white pieces.
            black_part = true;
            current = chess::EMPTY;
        } else if (c >= 'A' && c <= 'Z' && kind_of_letter(c) != chess::NO_TYPE) {
            current = chess::make_piece(chess::WHITE, kind_of_letter(c));
        } else if (c >= 'a' && c <= 'z' && kind_of_letter(c) != chess::NO_TYPE) {
            current = chess::make_piece(chess::BLACK, kind_of_letter(c));
        } else if (c == '+') {
            to_move = chess::WHITE;
        } else if (c == '-') {
            to_move = chess::BLACK;
        }
        ++i;
    }
    pos.finish_setup(to_move);
    return pos;
}

std::string encode_position_command(const chess::Position &pos) {
    std::string out = "PCW";
    for (chess::Color color : {chess::WHITE, chess::BLACK}) {
        if (color == chess::BLACK)
            out += 'B';
        for (int kind = chess::PAWN; kind <= chess::KING; ++kind) {
            std::string squares;
            for (int rank = 7; rank >= 0; --rank)
                for (int file = 0; file < 8; ++file)
                    if (pos.at(chess::square(file, rank)) == chess::make_piece(color, kind))
                        squares += chess::square_name(chess::square(file, rank));
            if (squares.empty())
                continue;
            char letter = " PNBRQK"[kind];
            out += color == chess::WHITE ? letter : static_cast<char>(letter - 'A' + 'a');
            out += squares;
        }
    }
    out += pos.side() == chess::WHITE ? '+' : '-';
    return out;
}

}  // namespace emu
