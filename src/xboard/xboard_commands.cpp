// The xboard protocol's command loop: one GUI line at a time, recognised by
// prefix tests in a fixed order and acted on through the game's operations;
// the device's turn follows when the device is to move.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"
#include "xboard_parts.h"

namespace {

long long clamp(long long value, long long low, long long high) {
    return value < low ? low : value > high ? high : value;
}

// Interface numbers are clamped so that the arithmetic done on them (x 10
// for a time-out, a base's minutes and seconds added) always fits an int.
constexpr long long CENTISECONDS_LIMIT = INT_MAX / 10;
constexpr long long PLAIN_LIMIT = INT_MAX / 2;
// Clocks in ms are held below some eleven days.
constexpr long long CLOCK_MS_LIMIT = 1000000000LL;

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

void handle_time() {
    if (game.force_mode)
        log_setup_time(game.move_number);
    long long hundredths = 0;
    if (std::sscanf(command_line, "time %lld", &hundredths) != 1)
        return;
    hundredths = clamp(hundredths, -CENTISECONDS_LIMIT, CENTISECONDS_LIMIT);
    // The device's whole remaining time, in ms, bounds each wait for it.
    long long timeout = hundredths * 10;
    set_read_timeout(timeout < 1000 ? 1000 : static_cast<int>(timeout));
    game_clock_time(hundredths);
    if (game.level_fixed)
        return;
    choose_clock_level(game_moves_to_go(), game.force_mode, 0, game_move_share_ms(game_moves_to_go()));
}

void handle_opponent_time() {
    // GUIs send "otim"; "otime" is accepted as well.
    const char *pattern = std::strncmp(command_line, "otime", 5) == 0 ? "otime %lld" : "otim %lld";
    long long hundredths = 0;
    if (std::sscanf(command_line, pattern, &hundredths) == 1)
        game_clock_opponent(clamp(hundredths, -CENTISECONDS_LIMIT, CENTISECONDS_LIMIT));
}

void handle_force() {
    if (game.fresh_game) {
        game_force_on_for_set_up();
        return;
    }
    // Outside a fresh game too the moves that follow are the GUI's own (a
    // match runner sends the move that ended a game after "force"): the
    // device must take them without starting to think.
    game_force_on();
    // And "force" lets another program take the log over until the next
    // line arrives.
    close_log();
}

void handle_new() { game_new(0); }

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
    long long base = whole(minutes * 60, PLAIN_LIMIT) + clamp(seconds, -PLAIN_LIMIT, PLAIN_LIMIT);
    game_clock_level(static_cast<int>(clamp(moves, -PLAIN_LIMIT, PLAIN_LIMIT)),
                     static_cast<int>(clamp(base, -PLAIN_LIMIT, PLAIN_LIMIT)),
                     static_cast<int>(whole(inc, PLAIN_LIMIT)), whole(inc * 1000, CLOCK_MS_LIMIT));
    choose_level(game_moves_to_go(), game.own_time, game.increment, 0);
}

// "st N": N seconds a move, whatever the clock says.
void handle_move_time() {
    double seconds = 0;
    if (std::sscanf(command_line, "st %lf", &seconds) != 1)
        return;
    game_clock_move_time(whole(seconds * 1000, CLOCK_MS_LIMIT));
    choose_move_time_level(static_cast<int>(whole(seconds, PLAIN_LIMIT)),
                           game_move_share_ms(game_moves_to_go()));
}

// "sd N": a search of N plies.
void handle_depth() {
    long long depth = 0;
    if (std::sscanf(command_line, "sd %lld", &depth) != 1)
        return;
    game_clock_depth();
    choose_depth_level(static_cast<int>(clamp(depth, -PLAIN_LIMIT, PLAIN_LIMIT)));
}

void handle_undo() { game_take_back(1); }

void handle_remove() { game_take_back(2); }

void handle_rating() {
    long long own = game.own_rating, opp = game.opp_rating;
    std::sscanf(command_line, "rating %lld %lld", &own, &opp);
    game_ratings(static_cast<int>(clamp(own, -PLAIN_LIMIT, PLAIN_LIMIT)),
                 static_cast<int>(clamp(opp, -PLAIN_LIMIT, PLAIN_LIMIT)));
}

void handle_go() {
    game_go();
    move_now();
    device_turn(game_move_limit_ms(game_moves_to_go()));
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
    // "white" and "black" put that side on move; the device plays the
    // other until "go" gives it the side on move.
    {"white", 5, [] { game_side_on_move(0); }},
    {"black", 5, [] { game_side_on_move(1); }},
    {"go", 2, handle_go},
    {"result", 6, [] { log_game_event("Game finish"); }},
    {"quit", 4, game_request_quit},
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
    {"option", 6, handle_option},
};

}  // namespace

void begin_xboard_session() {
    use_xboard_front_end(1);
    reset_analysis_status();
}

void dispatch_command() {
    take_gui_line(command_line);
    if (begins_with_squares(command_line)) {
        handle_gui_move();
        return;
    }
    for (const Command &command : commands) {
        if (std::strncmp(command_line, command.word, command.length) == 0) {
            command.action();
            return;
        }
    }
}

void run_xboard_session(const char *first_line) {
    begin_xboard_session();
    if (first_line != command_line)
        std::snprintf(command_line, sizeof command_line, "%s", first_line);
    dispatch_command();
    while (!game.quit_requested) {
        std::fflush(stdout);
        wait_for_interface();
        if (!plat_stdin_read_line(command_line, sizeof command_line))
            break;
        dispatch_command();
    }
}
