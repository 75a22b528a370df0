// UCI is stateless where the device is not: the GUI sends the whole game
// before every search, and the device is brought to it by the cheapest
// route from the game it holds.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "uci.h"
#include "uci_parts.h"

namespace {

constexpr std::size_t MOVE_SIZE = 6;

// The game the device holds: where it started and the moves since.
struct HeldGame {
    bool known;  // false: the next position starts afresh
    bool from_fen;
    char fen[FEN_SIZE];
    int start_side;   // 0 White, 1 Black to move at the start
    int start_plies;  // plies before the start, from the FEN's move number
    int count;
    char moves[MAX_GAME_PLIES][MOVE_SIZE];
};
HeldGame held;

WantedGame wanted;

// The start position with no moves.
void clear_wanted(WantedGame &game) {
    game.from_fen = false;
    game.fen[0] = '\0';
    game.placement[0] = '\0';
    game.side = 'w';
    game.full_move = 1;
    game.count = 0;
}

bool same_start() {
    if (!held.known || held.from_fen != wanted.from_fen)
        return false;
    return !wanted.from_fen || std::strcmp(held.fen, wanted.fen) == 0;
}

int common_moves() {
    int n = held.count < wanted.count ? held.count : wanted.count;
    int k = 0;
    while (k < n && word_is(wanted.moves[k], wanted.lengths[k], held.moves[k]))
        ++k;
    return k;
}

// Gives the device the wanted start: a new game or the position command.
bool start_afresh() {
    held.known = false;
    // The new start replaces whatever the device was still to move in.
    forget_owed_move();
    held.count = 0;
    if (wanted.from_fen) {
        if (!load_position(wanted.placement, wanted.side)) {
            tell("Pawnbridge: the chess computer cannot take the position %.*s", wanted.fen,
                 static_cast<int>(std::strlen(wanted.fen)));
            return false;
        }
    } else {
        new_device_game();
    }
    relay_position(!wanted.from_fen);
    held.from_fen = wanted.from_fen;
    std::snprintf(held.fen, sizeof held.fen, "%s", wanted.fen);
    held.start_side = wanted.from_fen && wanted.side == 'b' ? 1 : 0;
    held.start_plies = 2 * (wanted.full_move - 1) + held.start_side;
    held.known = true;
    return true;
}

// Plays the wanted moves from the held game's end on.
void play_moves_from(int first) {
    for (int i = first; i < wanted.count; ++i) {
        char move[MOVE_SIZE];
        std::snprintf(move, sizeof move, "%.*s", wanted.lengths[i], wanted.moves[i]);
        if (!send_move(move) && end_code == 0) {
            // Refused: where the device stands is no longer known for sure.
            tell("Pawnbridge: the chess computer refused the move %.*s", move, static_cast<int>(std::strlen(move)));
            held.known = false;
            return;
        }
        std::memcpy(held.moves[held.count++], move, MOVE_SIZE);
        follow_side();
        // The move ended the game: the GUI hears it, and the move stands.
        report_result(game_last_mover(), game.own_time, game.opp_time);
    }
}

}  // namespace

bool read_position(const char *line, WantedGame &out, char *why, std::size_t why_size) {
    auto refuse = [&](const char *format, const char *text, int length) {
        std::snprintf(why, why_size, format, length, text);
        return false;
    };
    const char *at = line + 8;  // after "position"
    int length = 0;
    const char *word = next_word(at, length);
    clear_wanted(out);
    if (word_is(word, length, "startpos")) {
        out.from_fen = false;
    } else if (word_is(word, length, "fen")) {
        out.from_fen = true;
        std::size_t used = 0;
        int fields = 0;
        for (int field = 0; field < 6; ++field, ++fields) {
            const char *before = at;
            word = next_word(at, length);
            if (length == 0 || word_is(word, length, "moves")) {
                at = before;
                break;
            }
            if (used + static_cast<std::size_t>(length) + 1 >= FEN_SIZE)
                return refuse("Pawnbridge: the position is too long for the chess computer: %.*s", word, length);
            std::memcpy(out.fen + used, word, static_cast<std::size_t>(length));
            used += static_cast<std::size_t>(length);
            out.fen[used++] = ' ';
            if (field == 0) {
                std::memcpy(out.placement, word, static_cast<std::size_t>(length));
                out.placement[length] = '\0';
            } else if (field == 1) {
                out.side = length == 1 ? word[0] : '?';
            } else if (field == 5) {
                out.full_move = std::atoi(word);
            }
        }
        out.fen[used > 0 ? used - 1 : 0] = '\0';
        // Without a side to move the device would be told White to move
        // for a position the GUI may mean for Black.
        if (fields < 2 || (out.side != 'w' && out.side != 'b'))
            return refuse("Pawnbridge: the chess computer cannot take the position %.*s", out.fen,
                          static_cast<int>(std::strlen(out.fen)));
        if (out.full_move < 1 || out.full_move > 100000)
            out.full_move = 1;
    } else {
        return refuse("Pawnbridge: no position in: %.*s", line, static_cast<int>(std::strlen(line)));
    }
    word = next_word(at, length);
    if (length == 0)
        return true;
    if (!word_is(word, length, "moves"))
        return refuse("Pawnbridge: not a list of moves: %.*s", word, length);
    for (;;) {
        word = next_word(at, length);
        if (length == 0)
            return true;
        if (!is_uci_move_word(word, length))
            return refuse("Pawnbridge: not a move: %.*s", word, length);
        if (out.count == MAX_GAME_PLIES)
            return refuse("Pawnbridge: a game longer than the chess computer can follow, at %.*s", word, length);
        out.moves[out.count] = word;
        out.lengths[out.count] = length;
        ++out.count;
    }
}

void follow_side() {
    int plies = held.start_plies + held.count;
    game_set_up((held.start_side + held.count) & 1, plies, 0);
}

void uci_position(const char *line) {
    char why[LINE_BUFFER_SIZE];
    if (!read_position(line, wanted, why, sizeof why)) {
        front_end->user_error(why);
        held.known = false;
        return;
    }
    game_force_on();
    int keep = same_start() ? common_moves() : -1;
    // Back to the common part and on with the new moves, or a new start
    // and every move, whichever takes the device fewer commands.
    if (keep < 0 || (held.count - keep) + (wanted.count - keep) > 1 + wanted.count) {
        if (!start_afresh())
            return;
        keep = 0;
    }
    while (held.count > keep) {
        take_back();
        --held.count;
    }
    follow_side();
    play_moves_from(keep);
}

void start_from_the_start() {
    clear_wanted(wanted);
    start_afresh();
    follow_side();
}

bool held_game_known() { return held.known; }

void note_searched_move(const char *move) {
    // The device's game goes on with its move, as the GUI's will.
    if (held.known && held.count < MAX_GAME_PLIES)
        std::memcpy(held.moves[held.count++], move, MOVE_SIZE);
    else
        held.known = false;
}

void reset_held_game() {
    held.known = false;
    held.count = 0;
    clear_wanted(wanted);
}
