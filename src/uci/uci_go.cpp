// UCI's "go": reading the line, choosing the level and the move's limit from
// what it says, and the search.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "translate.h"
#include "uci.h"
#include "uci_parts.h"

namespace {

long long clamp_ms(long long value) { return value < 0 ? 0 : value > 1000000000LL ? 1000000000LL : value; }

// The clock of the last search with one, to tell a new time control.
struct LastClock {
    bool known;
    long long clock_ms, inc_ms, moves_to_go;
};
LastClock last_clock;

// A clock that grew by more than the increment, another increment or more
// moves to go: a new time control, whose level is chosen afresh rather than
// held over from the last one.
bool new_time_control(long long clock, long long inc, long long moves) {
    if (!last_clock.known)
        return true;
    return clock > last_clock.clock_ms + last_clock.inc_ms || inc != last_clock.inc_ms ||
           moves > last_clock.moves_to_go;
}

// Sends the level the search asks for, and gives the clock to the game;
// returns the move's limit (-1: none).
long long choose_search_level(const GoLine &go, int side) {
    long long moves = go.moves_to_go > 100000 ? 100000 : go.moves_to_go;
    game_clock_for_search(go.clock_ms[side], go.inc_ms[side], go.move_time_ms);
    long long limit = go.infinite ? -1 : game_move_limit_ms(static_cast<int>(moves));
    long long allowed = go.infinite ? -1 : game_move_share_ms(static_cast<int>(moves));
    if (go.infinite) {
        choose_analysis_level();
    } else if (go.move_time_ms >= 0) {
        choose_move_time_level(static_cast<int>(go.move_time_ms / 1000), allowed);
    } else if (go.depth >= 0) {
        choose_depth_level(static_cast<int>(go.depth));
    } else if (go.clock_ms[side] >= 0) {
        // As the xboard protocol's clock reports: the same rules, the same
        // levels.
        game_clock_seconds(static_cast<int>(go.clock_ms[side] / 1000),
                           go.clock_ms[!side] >= 0 ? static_cast<int>(go.clock_ms[!side] / 1000) : -1,
                           static_cast<int>(go.inc_ms[side] / 1000));
        bool fresh = new_time_control(go.clock_ms[side], go.inc_ms[side], moves);
        last_clock = {true, go.clock_ms[side], go.inc_ms[side], moves};
        // The device waits in force mode between searches; that is no
        // set-up of a game.
        choose_clock_level(static_cast<int>(moves), 0, fresh, allowed);
        // The device's whole remaining time bounds each read, as the
        // xboard protocol's clock report does.
        set_read_timeout(go.clock_ms[side] < 1000 ? 1000 : static_cast<int>(go.clock_ms[side]));
    }
    return limit;
}

}  // namespace

GoLine read_go(const char *line) {
    GoLine go{{-1, -1}, {0, 0}, 0, -1, -1, false};
    const char *at = line + 2;
    for (;;) {
        int length = 0;
        const char *word = next_word(at, length);
        if (length == 0)
            break;
        long long *target = nullptr;
        if (word_is(word, length, "wtime"))
            target = &go.clock_ms[0];
        else if (word_is(word, length, "btime"))
            target = &go.clock_ms[1];
        else if (word_is(word, length, "winc"))
            target = &go.inc_ms[0];
        else if (word_is(word, length, "binc"))
            target = &go.inc_ms[1];
        else if (word_is(word, length, "movestogo"))
            target = &go.moves_to_go;
        else if (word_is(word, length, "movetime"))
            target = &go.move_time_ms;
        else if (word_is(word, length, "depth"))
            target = &go.depth;
        else if (word_is(word, length, "infinite"))
            go.infinite = true;
        if (target != nullptr) {
            const char *before = at;
            const char *number = next_word(at, length);
            char *end = nullptr;
            long long value = std::strtoll(number, &end, 10);
            if (end == number + length && length > 0)
                *target = clamp_ms(value);
            else
                at = before;  // no number: the word after is read as a word
        }
    }
    return go;
}

void uci_go(const char *line) {
    GoLine go = read_go(line);
    if (!held_game_known()) {
        // The last position did not reach the device: a search now would
        // answer for some other position.
        front_end->user_error("Pawnbridge: no position to search: the last one did not reach the chess computer");
        front_end->device_move(nullptr);
        return;
    }
    long long limit = choose_search_level(go, game.side_flag);

    game_force_off(0);
    move_now();
    set_analysing(go.infinite);
    bool moved = device_turn(limit);
    set_analysing(0);
    if (game.quit_requested)
        return;
    if (moved && !go.infinite)
        note_searched_move(reply_line);
    game_force_on();
    if (moved && go.infinite) {
        // An analysis: the move is the GUI's answer, not a move of the
        // game; it leaves the device's game at once.
        take_back();
        follow_side();
    }
}

void reset_search_clock() { last_clock.known = false; }
