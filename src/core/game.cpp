// The game: the side to move, the device's side, the move counters, force
// mode, the clocks and the ratings, kept in one place and changed only by
// the operations here, whichever protocol the GUI speaks.
#include "core.h"
#include "platform.h"
#include "translate.h"

namespace {

Game state;

// Clocks in ms are held below some eleven days: far beyond any game, and
// far from overflowing the sums made of them.
constexpr long long CLOCK_MS_LIMIT = 1000000000LL;

long long clamp(long long value, long long low, long long high) {
    return value < low ? low : value > high ? high : value;
}

}  // namespace

const Game &game = state;

void reset_game() {
    state = Game{};
    state.side_flag = 0;
    state.device_side = 1;
    state.move_number = 1;
    state.own_time = 120;
    state.increment = 12;
    state.opp_time = 120;
    state.own_rating = 1800;
    state.opp_rating = 1800;
    state.clock_ms = -1;
    // As "increment" until the GUI says otherwise: 12 seconds.
    state.increment_ms = state.increment * 1000LL;
    state.move_time_ms = -1;
    state.move_overhead_ms = DEFAULT_MOVE_OVERHEAD_MS;
}

void game_new(int keep_force_mode) {
    log_game_event("Game start");
    state.fresh_game = 1;
    state.side_flag = 0;
    state.device_side = 1;  // a new game leaves the device Black until "go"
    state.game_plies = 0;
    relay_new_game();
    if (state.force_mode && !keep_force_mode) {
        set_force_mode(0);
        state.force_mode = 0;
    }
    state.move_number = 1;
    // The GUI's clocks start afresh; it tells them before the device moves.
    state.clock_ms = -1;
    // The new game replaces whatever the device was still to move in.
    forget_owed_move();
    new_device_game();
}

void game_move_sent() { state.fresh_game = 0; }

void game_move_played() {
    state.side_flag = !state.side_flag;
    ++state.game_plies;
}

void game_count_set_up_move() {
    if (state.side_flag)
        ++state.move_number;
}

void game_device_moved(int number) {
    state.move_number = number;
    game_move_played();
}

void game_take_back(int plies) {
    for (int i = 0; i < plies; ++i) {
        take_back();
        state.side_flag = !state.side_flag;
        if (state.game_plies > 0)
            --state.game_plies;
    }
}

void game_force_on() {
    if (state.force_mode)
        return;
    set_force_mode(1);
    state.force_mode = 1;
}

void game_force_on_for_set_up() {
    log_setup_time(-1);
    set_force_mode(1);
    state.force_mode = 1;
}

void game_force_off(int log_set_up) {
    if (!state.force_mode)
        return;
    if (log_set_up)
        log_setup_time(state.move_number);
    set_force_mode(0);
    state.force_mode = 0;
}

void game_side_on_move(int side) {
    game_force_off(1);
    state.side_flag = side;
    state.device_side = !side;
}

void game_go() {
    game_force_off(1);
    state.fresh_game = 0;
}

void game_set_up(int side, int plies, int move_number) {
    state.side_flag = side;
    state.game_plies = plies;
    if (move_number > 0)
        state.move_number = move_number;
}

void game_device_to_move() { state.device_side = state.side_flag; }

void game_device_restarted() { state.force_mode = 0; }

void game_clock_time(long long hundredths) {
    state.own_time = static_cast<int>(hundredths / 100);
    state.clock_ms = hundredths < 0 ? 0 : hundredths * 10;
}

void game_clock_opponent(long long hundredths) { state.opp_time = static_cast<int>(hundredths / 100); }

void game_clock_level(int moves, int base_seconds, int increment_seconds, long long increment_ms) {
    state.moves_per_control = moves;
    state.increment = increment_seconds;
    state.own_time = base_seconds;
    // The increment to the ms, for the move's limit; the clock itself
    // comes with the next "time".
    state.increment_ms = clamp(increment_ms, -CLOCK_MS_LIMIT, CLOCK_MS_LIMIT);
    state.clock_ms = -1;
    state.move_time_ms = -1;
    state.level_fixed = 0;
}

void game_clock_move_time(long long ms) {
    state.level_fixed = 1;
    state.move_time_ms = clamp(ms, 0, CLOCK_MS_LIMIT);
}

void game_clock_depth() {
    state.level_fixed = 1;
    state.move_time_ms = -1;
}

void game_clock_for_search(long long clock_ms, long long increment_ms, long long move_time_ms) {
    state.clock_ms = clock_ms < 0 ? -1 : clamp(clock_ms, 0, CLOCK_MS_LIMIT);
    state.increment_ms = clock_ms < 0 ? 0 : clamp(increment_ms, 0, CLOCK_MS_LIMIT);
    state.move_time_ms = move_time_ms < 0 ? -1 : clamp(move_time_ms, 0, CLOCK_MS_LIMIT);
}

void game_clock_seconds(int own, int opp, int increment) {
    state.own_time = own;
    if (opp >= 0)
        state.opp_time = opp;
    state.increment = increment;
}

void game_clock_spent(long long ms) {
    if (state.clock_ms < 0)
        return;
    state.clock_ms -= ms;
    state.clock_ms = state.clock_ms < 0 ? 0 : state.clock_ms;
    state.clock_ms = clamp(state.clock_ms + state.increment_ms, 0, CLOCK_MS_LIMIT);
}

void game_ratings(int own, int opp) {
    state.own_rating = own;
    state.opp_rating = opp;
}

void game_move_overhead(long long ms) { state.move_overhead_ms = ms; }

void game_request_quit() { state.quit_requested = 1; }

// It has made half the plies of the game, the first of them when it plays
// White; a "time" line comes just before its turn or just before the
// opponent's move, and either way this counts the moves it has made.
int game_moves_to_go() {
    if (state.moves_per_control <= 0)
        return 0;
    int made = state.device_side == 0 ? (state.game_plies + 1) / 2 : state.game_plies / 2;
    return state.moves_per_control - made % state.moves_per_control;
}

int game_last_mover() { return !state.side_flag; }

namespace {

ClockReading clock_reading(int moves_to_go) {
    return ClockReading{state.clock_ms, state.increment_ms, moves_to_go, state.move_time_ms,
                        state.move_overhead_ms};
}

}  // namespace

long long game_move_limit_ms(int moves_to_go) { return move_limit_ms(clock_reading(moves_to_go)); }

long long game_move_share_ms(int moves_to_go) { return move_share_ms(clock_reading(moves_to_go)); }

void choose_clock_level(int moves_to_go, int setting_up, int new_control, long long allowed_ms) {
    // A sudden-death level paces the device over its whole game: within one
    // control it is held until the clock is nearly out.
    if (level_kind == 2 && state.own_time >= 15 && !setting_up && !new_control)
        return;
    // A device far ahead against a weaker opponent plays fast.
    int hurry = last_score > 5.0f && static_cast<long long>(state.opp_rating) < state.own_rating - 200LL;
    choose_level_within(moves_to_go, state.own_time, state.increment, hurry, allowed_ms);
}
