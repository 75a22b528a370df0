// "setboard FEN": a position from the GUI (an opening book's, a match
// runner's start position, an edited board) set up on the device with the
// same position command the test runner uses.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard_parts.h"

namespace {

// A placement of a real board has at most 71 characters; one that fills
// this area may have been cut, and is refused rather than loaded cut.
constexpr std::size_t PLACEMENT_SIZE = 128;

}  // namespace

int handle_setboard() {
    static_assert(PLACEMENT_SIZE == 128, "the scan width below follows the area");
    char placement[PLACEMENT_SIZE] = {};
    char side = '\0';
    char castling[16] = {};
    char en_passant[16] = {};
    int half_moves = 0;
    int full_move = 1;
    int fields = std::sscanf(command_line, "setboard %127s %c %15s %15s %d %d", placement, &side,
                             castling, en_passant, &half_moves, &full_move);
    side = static_cast<char>(std::tolower(static_cast<unsigned char>(side)));
    // Without a side to move the device would be told a position for White
    // that the GUI may mean for Black: refused like a bad placement.
    bool usable = fields >= 2 && std::strlen(placement) < PLACEMENT_SIZE - 1 &&
                  (side == 'w' || side == 'b');
    if (!usable || !load_position(placement, side)) {
        front_end->user_error("Illegal position");
        return 0;
    }
    // The device now holds this position with the given side to move; the
    // game follows it. Force mode stays as the GUI left it.
    int side_to_move = side == 'b' ? 1 : 0;
    int number = fields >= 6 && full_move >= 1 ? full_move : 1;
    // Held well inside an int: the count only feeds the moves still to play
    // before a time control ends.
    int moves_before = number - 1 < 1000000 ? number - 1 : 1000000;
    game_set_up(side_to_move, 2 * moves_before + side_to_move, number);
    relay_position(0);
    return 1;
}
