// The command loop: start-up, one interface line at a time, shutdown. It owns
// the game state and hands the device's turn over when the device is to move.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "front_end.h"
#include "pawnbridge.h"
#include "platform.h"

int quit_requested;
int fresh_game;
int force_mode;
int side_flag;
int device_side;
int game_plies;
int move_number;
int moves_per_control;
int own_time;
int increment;
int opp_time;
int own_rating;
int opp_rating;
char command_line[LINE_BUFFER_SIZE];
long long clock_ms = -1;
// As "increment" until the GUI says otherwise: 12 seconds.
long long increment_ms = 12000;
long long move_time_ms = -1;
long long move_overhead_ms = DEFAULT_MOVE_OVERHEAD_MS;
long long line_arrived_at = 0;

namespace {

// Set by "st" and "sd": the GUI has fixed the level itself, and the clock
// reports ("time") leave it alone until the next "level", "st" or "sd".
int level_fixed = 0;

long long clamp(long long value, long long low, long long high) {
    return value < low ? low : value > high ? high : value;
}

// Interface numbers are clamped so that the arithmetic done on them (x 10
// for a time-out, a base's minutes and seconds added) always fits an int.
constexpr long long CENTISECONDS_LIMIT = INT_MAX / 10;
constexpr long long PLAIN_LIMIT = INT_MAX / 2;
// Clocks in ms are held below some eleven days: far beyond any game, and
// far from overflowing the sums made of them.
constexpr long long CLOCK_MS_LIMIT = 1000000000LL;


// The moves the device still has to play before its time control ends, 0
// for a control without a number of moves. It has made half the plies of
// the game, the first of them when it plays White; a "time" line comes just
// before its turn or just before the opponent's move, and either way this
// counts the moves it has made.
int moves_to_go() {
    if (moves_per_control <= 0)
        return 0;
    int made = device_side == 0 ? (game_plies + 1) / 2 : game_plies / 2;
    return moves_per_control - made % moves_per_control;
}

// The move's limit from what the GUI has said of the clock.
long long turn_limit_ms() {
    ClockReading reading{clock_ms, increment_ms, moves_to_go(), move_time_ms, move_overhead_ms};
    return move_limit_ms(reading);
}

void leave_force_mode() {
    if (!force_mode)
        return;
    log_setup_time(move_number);
    set_force_mode(0);
    force_mode = 0;
}

void handle_time() {
    if (force_mode)
        log_setup_time(move_number);
    long long hundredths = 0;
    if (std::sscanf(command_line, "time %lld", &hundredths) != 1)
        return;
    hundredths = clamp(hundredths, -CENTISECONDS_LIMIT, CENTISECONDS_LIMIT);
    // The device's whole remaining time, in ms, bounds each wait for it.
    long long timeout = hundredths * 10;
    set_read_timeout(timeout < 1000 ? 1000 : static_cast<int>(timeout));
    own_time = static_cast<int>(hundredths / 100);
    clock_ms = hundredths < 0 ? 0 : hundredths * 10;
    if (level_fixed)
        return;
    if (level_kind == 2 && own_time >= 15 && !force_mode)
        return;
    int hurry = last_score > 5.0f && static_cast<long long>(opp_rating) < own_rating - 200LL;
    choose_level_within(moves_to_go(), own_time, increment, hurry, turn_limit_ms());
}

void handle_opponent_time() {
    // GUIs send "otim"; "otime" is accepted as well.
    const char *pattern = std::strncmp(command_line, "otime", 5) == 0 ? "otime %lld" : "otim %lld";
    long long hundredths = 0;
    if (std::sscanf(command_line, pattern, &hundredths) == 1)
        opp_time = static_cast<int>(clamp(hundredths, -CENTISECONDS_LIMIT, CENTISECONDS_LIMIT) / 100);
}

void handle_force() {
    if (fresh_game) {
        log_setup_time(-1);
        set_force_mode(1);
        force_mode = 1;
        return;
    }
    // Outside a fresh game too the moves that follow are the GUI's own (a
    // match runner sends the move that ended a game after "force"): the
    // device must take them without starting to think.
    enter_force_mode();
    // And "force" lets another program take the log over until the next
    // line arrives.
    close_log();
}

void handle_new() { start_new_game(0); }

// A number from the GUI as whole units, truncated toward zero and held
// within the limit (not a number counts as 0).
long long whole(double value, long long limit) {
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(limit))
        return limit;
    if (value <= -static_cast<double>(limit))
        return -limit;
    return static_cast<long long>(value);
}

// "level MPS BASE INC": BASE in minutes or minutes:seconds, INC in seconds,
// both possibly fractional; whole seconds are kept. Fields the line does
// not reach keep the defaults: no number of moves, 2 minutes, 12 seconds.
void handle_level() {
    long long moves = 0;
    double minutes = 2, inc = 12;
    long long seconds = 0;
    int used = 0;
    if (std::sscanf(command_line, "level %lld %lf%n", &moves, &minutes, &used) == 2) {
        const char *rest = command_line + used;
        int more = 0;
        if (std::sscanf(rest, ":%lld%n", &seconds, &more) == 1)
            rest += more;
        std::sscanf(rest, "%lf", &inc);
    }
    moves_per_control = static_cast<int>(clamp(moves, -PLAIN_LIMIT, PLAIN_LIMIT));
    increment = static_cast<int>(whole(inc, PLAIN_LIMIT));
    // The increment to the ms, for the move's limit; the clock itself
    // comes with the next "time".
    increment_ms = whole(inc * 1000, CLOCK_MS_LIMIT);
    clock_ms = -1;
    move_time_ms = -1;
    long long base = whole(minutes * 60, PLAIN_LIMIT) + clamp(seconds, -PLAIN_LIMIT, PLAIN_LIMIT);
    own_time = static_cast<int>(clamp(base, -PLAIN_LIMIT, PLAIN_LIMIT));
    level_fixed = 0;
    choose_level(moves_to_go(), own_time, increment, 0);
}

// "st N": N seconds a move, whatever the clock says.
void handle_move_time() {
    double seconds = 0;
    if (std::sscanf(command_line, "st %lf", &seconds) != 1)
        return;
    level_fixed = 1;
    move_time_ms = std::max(whole(seconds * 1000, CLOCK_MS_LIMIT), 0LL);
    choose_move_time_level(static_cast<int>(whole(seconds, PLAIN_LIMIT)), turn_limit_ms());
}

// "sd N": a search of N plies.
void handle_depth() {
    long long depth = 0;
    if (std::sscanf(command_line, "sd %lld", &depth) != 1)
        return;
    level_fixed = 1;
    move_time_ms = -1;
    choose_depth_level(static_cast<int>(clamp(depth, -PLAIN_LIMIT, PLAIN_LIMIT)));
}

// "white" and "black" put that side on move; the device plays the other
// until "go" gives it the side on move.
void set_side_on_move(int side) {
    leave_force_mode();
    side_flag = side;
    device_side = !side;
}

void handle_undo() { take_back_moves(1); }

void handle_remove() { take_back_moves(2); }

void handle_rating() {
    long long own = own_rating, opp = opp_rating;
    std::sscanf(command_line, "rating %lld %lld", &own, &opp);
    own_rating = static_cast<int>(clamp(own, -PLAIN_LIMIT, PLAIN_LIMIT));
    opp_rating = static_cast<int>(clamp(opp, -PLAIN_LIMIT, PLAIN_LIMIT));
}

void handle_go() {
    leave_force_mode();
    fresh_game = 0;
    move_now();
    device_turn(turn_limit_ms());
}

struct Command {
    const char *word;
    std::size_t length;
    void (*action)();
};

// Prefix tests in this order; the first match decides.
const Command commands[] = {
    {"time", 4, handle_time},
    {"otim", 4, handle_opponent_time},
    {"force", 5, handle_force},
    {"new", 3, handle_new},
    {"level", 5, handle_level},
    {"name", 4, [] { front_end->say("Hello from a Novag Sapphire II portable chess computer!"); }},
    {"rating", 6, handle_rating},
    {"white", 5, [] { set_side_on_move(0); }},
    {"black", 5, [] { set_side_on_move(1); }},
    {"go", 2, handle_go},
    {"result", 6, [] { log_game_event("Game finish"); }},
    {"quit", 4, [] { quit_requested = 1; }},
    {"post", 4, [] { set_post_mode(3); }},
    {"nopost", 6, [] { set_post_mode(0); }},
    {"undo", 4, handle_undo},
    {"remove", 6, handle_remove},
    {"draw", 4, [] {}},
    {"bogus", 5, [] { send_interface(""); }},
    {"test", 4, [] { run_test_suite(std::strlen(command_line) > 5 ? command_line + 5 : ""); }},
    {"protover", 8, handle_protover},
    {"ping", 4, handle_ping},
    {"setboard", 8, [] { handle_setboard(); }},
    {"st", 2, handle_move_time},
    {"sd", 2, handle_depth},
    {"analyze", 7, run_analysis},
};

}  // namespace

void start_new_game(int keep_force_mode) {
    log_game_event("Game start");
    fresh_game = 1;
    side_flag = 0;
    device_side = 1;  // a new game leaves the device Black until "go"
    game_plies = 0;
    in_book = 1;
    if (force_mode && !keep_force_mode) {
        set_force_mode(0);
        force_mode = 0;
    }
    move_number = 1;
    last_score = 0.0f;
    // The GUI's clocks start afresh; it tells them before the device moves.
    clock_ms = -1;
    // The new game replaces whatever the device was still to move in.
    move_owed = 0;
    new_device_game();
}

void take_back_moves(int plies) {
    for (int i = 0; i < plies; ++i) {
        take_back();
        side_flag = !side_flag;
        if (game_plies > 0)
            --game_plies;
    }
}

void restore_level(int kind, int number) {
    if (kind >= 0 && kind <= 4 && number >= 1 && number <= 8) {
        set_device_level(kind, number);
        level_kind = kind;
        level_number = number;
    } else {
        // No level was sent before: the one the clock asks for.
        level_kind = level_number = 0;
        choose_level(moves_to_go(), own_time, increment, 0);
    }
}

namespace {

int is_square(const char *at) {
    return at[0] >= 'a' && at[0] <= 'h' && at[1] >= '1' && at[1] <= '8';
}

}  // namespace

int is_coordinate_move(const char *line) { return is_square(line) && is_square(line + 2); }

void note_move_played() {
    side_flag = !side_flag;
    ++game_plies;
}

int last_mover() { return !side_flag; }

// A move from the interface, in command_line.
void handle_move() {
    fresh_game = 0;
    if (!send_move(command_line)) {
        if (end_code != 0) {
            // The device took the move and announced the end of the game
            // in its place.
            note_move_played();
            report_result(last_mover(), own_time, opp_time);
            return;
        }
        char answer[LINE_BUFFER_SIZE + 16];
        std::snprintf(answer, sizeof answer, "Illegal move: %s", command_line);
        send_interface(answer);
        return;
    }
    note_move_played();
    if (force_mode) {
        if (side_flag)
            ++move_number;
        return;
    }
    device_turn(turn_limit_ms());
}

void enter_force_mode() {
    if (force_mode)
        return;
    set_force_mode(1);
    force_mode = 1;
}

void reset_game_state() {
    quit_requested = 0;
    fresh_game = 0;
    force_mode = 0;
    side_flag = 0;
    device_side = 1;
    game_plies = 0;
    move_number = 1;
    moves_per_control = 0;
    own_time = 120;
    increment = 12;
    opp_time = 120;
    own_rating = 1800;
    opp_rating = 1800;
    command_line[0] = '\0';
    use_xboard_front_end(1);
    level_fixed = 0;
    clock_ms = -1;
    increment_ms = increment * 1000LL;
    move_time_ms = -1;
    move_overhead_ms = DEFAULT_MOVE_OVERHEAD_MS;
    line_arrived_at = 0;
    move_owed = 0;
}

void dispatch_command() {
    line_arrived_at = plat_monotonic_ms();
    note_interface_line();
    if (!log_is_open())
        open_log(0);
    log_text("==> ");
    log_text(command_line);
    log_text("\r\n");
    if (is_coordinate_move(command_line)) {
        handle_move();
        return;
    }
    for (const Command &command : commands) {
        if (std::strncmp(command_line, command.word, command.length) == 0) {
            command.action();
            return;
        }
    }
}

int run_bridge() {
    plat_init();
    reset_game_state();
    open_link();
    int answered = init_device();
    send_interface("Pawnbridge");
    // A device that is switched off would otherwise show only as a game
    // that never starts; the bridge still goes on, for one switched on late.
    if (!answered)
        report_silent_device();
    // The GUI chooses the protocol with its first line.
    std::fflush(stdout);
    bool uci = false;
    if (plat_stdin_read_line(command_line, sizeof command_line)) {
        uci = is_uci_opening(command_line);
        if (uci)
            run_uci_session(command_line);
        else
            dispatch_command();
    } else {
        quit_requested = 1;
    }
    while (!uci && !quit_requested) {
        std::fflush(stdout);
        wait_for_interface();
        if (!plat_stdin_read_line(command_line, sizeof command_line))
            break;
        dispatch_command();
    }
    close_link();
    std::fflush(stdout);
    return 0;
}
