// The device's position set-up command: "PCW", the white pieces kind by kind
// (P, N, B, R, Q, K, each letter followed by its squares), "B", the black
// pieces the same way in lower case, and "+" (White to move) or "-" (Black).
#pragma once

#include "board.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace emu {

// Decodes a command that begins with "PCW". Lenient by design: the command
// comes from a placement the interface accepted, which may lack kings or put
// pawns on the first rank; anything that is not a piece letter, a square or a
// side marker is skipped. Without a side marker White is to move. Castling
// is allowed for each king and rook on its original square.
std::optional<chess::Position> decode_position_command(std::string_view command);

// The command for a position, pieces named from the eighth rank down and from
// the a-file to the h-file within a rank.
std::string encode_position_command(const chess::Position &pos);

}  // namespace emu
