// The command loop: start-up, one interface line at a time, shutdown. It owns
// the game state and hands the device's turn over when the device is to move.
#include <climits>
#include <cstdio>
#include <cstring>

#include "pawnbridge.h"
#include "platform.h"

int quit_requested;
int fresh_game;
int force_mode;
int side_flag;
int move_number;
int moves_per_control;
int own_time;
int increment;
int opp_time;
int own_rating;
int opp_rating;
char command_line[LINE_BUFFER_SIZE];

namespace {

long long clamp(long long value, long long low, long long high) {
    return value < low ? low : value > high ? high : value;
}

// Interface numbers are clamped so that the arithmetic done on them (x 10
// for a time-out, x 60 for minutes) always fits an int.
constexpr long long CENTISECONDS_LIMIT = INT_MAX / 10;
constexpr long long MINUTES_LIMIT = INT_MAX / 60;
constexpr long long PLAIN_LIMIT = INT_MAX / 2;

int is_square(const char *at) {
    return at[0] >= 'a' && at[0] <= 'h' && at[1] >= '1' && at[1] <= '8';
}

int is_coordinate_move(const char *line) { return is_square(line) && is_square(line + 2); }

void handle_move() {
    fresh_game = 0;
    if (!send_move(command_line)) {
        if (end_code != 0) {
            report_result(side_flag, own_time, opp_time);
            return;
        }
        char answer[LINE_BUFFER_SIZE + 16];
        std::snprintf(answer, sizeof answer, "Illegal move: %s", command_line);
        send_interface(answer);
        return;
    }
    if (force_mode) {
        side_flag = !side_flag;
        if (side_flag)
            ++move_number;
        return;
    }
    device_turn();
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
    if (level_kind == 2 && own_time >= 15 && !force_mode)
        return;
    int hurry = last_score > 5.0f && static_cast<long long>(opp_rating) < own_rating - 200LL;
    choose_level(moves_per_control, own_time, increment, hurry);
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

void handle_new() {
    log_game_event("Game start");
    fresh_game = 1;
    side_flag = 0;
    in_book = 1;
    if (force_mode) {
        set_force_mode(0);
        force_mode = 0;
    }
    move_number = 1;
    last_score = 0.0f;
    new_device_game();
}

void handle_level() {
    long long moves = 0, base = 2, inc = 12;
    std::sscanf(command_line, "level %lld %lld %lld", &moves, &base, &inc);
    moves_per_control = static_cast<int>(clamp(moves, -PLAIN_LIMIT, PLAIN_LIMIT));
    increment = static_cast<int>(clamp(inc, -PLAIN_LIMIT, PLAIN_LIMIT));
    own_time = static_cast<int>(clamp(base, -MINUTES_LIMIT, MINUTES_LIMIT) * 60);
    choose_level(moves_per_control, own_time, increment, 0);
}

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
    device_turn();
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
    {"name", 4,
     [] { std::fputs("tellics say Hello from a Novag Sapphire II portable chess computer!\n", stdout); }},
    {"rating", 6, handle_rating},
    {"white", 5, [] { leave_force_mode(); side_flag = 1; }},
    {"black", 5, [] { leave_force_mode(); side_flag = 0; }},
    {"go", 2, handle_go},
    {"result", 6, [] { log_game_event("Game finish"); }},
    {"quit", 4, [] { quit_requested = 1; }},
    {"post", 4, [] { set_post_mode(3); }},
    {"nopost", 6, [] { set_post_mode(0); }},
    {"undo", 4, [] { take_back(); }},
    {"remove", 6, [] { take_back(); take_back(); }},
    {"draw", 4, [] {}},
    {"bogus", 5, [] { send_interface(""); }},
    {"test", 4, [] { run_test_suite(std::strlen(command_line) > 5 ? command_line + 5 : ""); }},
    {"protover", 8, handle_protover},
    {"ping", 4, handle_ping},
    {"setboard", 8, handle_setboard},
};

}  // namespace

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
    move_number = 1;
    moves_per_control = 0;
    own_time = 120;
    increment = 12;
    opp_time = 120;
    own_rating = 1800;
    opp_rating = 1800;
    command_line[0] = '\0';
}

void dispatch_command() {
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
    init_device();
    send_interface("Pawnbridge");
    while (!quit_requested) {
        std::fflush(stdout);
        if (!plat_stdin_read_line(command_line, sizeof command_line))
            break;
        dispatch_command();
    }
    close_link();
    std::fflush(stdout);
    return 0;
}
