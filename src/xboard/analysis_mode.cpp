// Analysis mode ("analyze" to "exit"): the device searches the position the
// GUI shows, at its analysis level and in force mode, without playing. When
// the position changes the search is ended without the device's move
// entering the game: move now, take its move back, change the position,
// search again.
#include <cstdio>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "translate.h"
#include "xboard_parts.h"

namespace {

// Nothing but the GUI or the device ends a wait: the device may think in
// silence for as long as the GUI lets it.
constexpr int WAIT_FOR_EVER = -1;
// The device's answer to move-now comes within this many lines.
constexpr int LINES_BEFORE_THE_MOVE = 64;

// What the device last said of the current search, for ".".
struct SearchStatus {
    long long seconds, nodes;
    int depth, searched, root_moves;
};
SearchStatus status;

void start_search() {
    status = SearchStatus{};
    move_now();
}

// Move now, and read up to the device's move; take_back: take it out of
// the device's game again (not needed when a new game or a position
// replaces the game anyway). The lines before the move belong to the
// position being left and are not shown.
void stop_search(bool take_back_move) {
    move_now();
    for (int i = 0; i < LINES_BEFORE_THE_MOVE; ++i) {
        read_device(reply_line);
        reply_line[std::strcspn(reply_line, "\r")] = '\0';
        if (reply_line[0] == '\0')
            return;  // no move came: nothing entered its game
        AnalysisLine fields;
        if (std::strstr(reply_line, "Book") || parse_analysis_line(reply_line, &fields))
            continue;
        int number = 0, book = 0;
        if (parse_device_move(&number, reply_line, &book) && take_back_move)
            take_back();
        return;
    }
}

void report_status() {
    char line[96];
    int left = status.root_moves - status.searched;
    std::snprintf(line, sizeof line, "stat01: %lld %lld %d %d %d", status.seconds * 100, status.nodes,
                  status.depth, left > 0 ? left : 0, status.root_moves > 0 ? status.root_moves : 0);
    send_interface(line);
}

// A device line while it analyses. False when the port said it had
// something and no byte came: the line has failed (a device unplugged, a
// cable pulled).
bool take_device_line() {
    read_device(reply_line);
    reply_line[std::strcspn(reply_line, "\r")] = '\0';
    if (reply_line[0] == '\0')
        return false;
    AnalysisLine fields;
    if (parse_analysis_line(reply_line, &fields) && !std::strstr(reply_line, "Book")) {
        long long seconds = analysis_seconds(fields);
        status = {seconds, static_cast<long long>(fields.speed) * seconds, fields.depth, fields.count_a,
                  fields.count_b};
    }
    if (relay_analysis(reply_line))
        return true;
    // The device ended its search by itself with a move: back out of its
    // game with it, and on with the search.
    int number = 0, book = 0;
    if (parse_device_move(&number, reply_line, &book)) {
        take_back();
        start_search();
    }
    return true;
}

// Acts on one line from the GUI. Returns false when analysis is over.
bool act_on_gui_line(const char *line) {
    if (begins_with_squares(line)) {
        stop_search(true);
        handle_gui_move();  // the device is in force mode: it takes the move and waits
        start_search();
    } else if (line[0] == '.') {
        report_status();
    } else if (starts_with(line, "undo")) {
        stop_search(true);
        game_take_back(1);
        start_search();
    } else if (starts_with(line, "remove")) {
        stop_search(true);
        game_take_back(2);
        start_search();
    } else if (starts_with(line, "new")) {
        stop_search(false);
        game_new(1);
        start_search();
    } else if (starts_with(line, "setboard")) {
        stop_search(false);
        if (!handle_setboard())
            take_back();  // the device's own move is still in its game
        start_search();
    } else if (starts_with(line, "ping")) {
        handle_ping();
    } else if (starts_with(line, "exit")) {
        stop_search(true);
        return false;
    } else if (starts_with(line, "quit")) {
        move_now();  // it stops searching; nothing more is waited for
        game_request_quit();
        return false;
    }
    // "hint", "bk" and anything else: logged, nothing more.
    return true;
}

}  // namespace

void reset_analysis_status() { status = SearchStatus{}; }

void run_analysis() {
    // What the game was before, to be given back on "exit".
    int kept_force = game.force_mode;
    LevelSent kept_level = level_sent();
    int kept_display = display_detail;
    RelayMemory kept_relay = relay_memory();

    set_analysing(1);
    game_force_on();
    if (display_detail == 0)
        set_post_mode(3);
    choose_analysis_level();
    start_search();
    // Once the line has failed only the GUI is waited for: a port that
    // keeps failing at once must not be read in a loop.
    bool line_failed = false;
    for (;;) {
        std::fflush(stdout);
        int ready = line_failed ? 1 : plat_wait_input_or_port(WAIT_FOR_EVER);
        if (ready == 2) {
            if (!take_device_line()) {
                line_failed = true;
                report_silent_device();
            }
            continue;
        }
        if (ready != 1)
            continue;
        if (!plat_stdin_read_line(command_line, sizeof command_line)) {
            // The GUI has gone: the device stops, the session ends.
            move_now();
            game_request_quit();
            break;
        }
        take_gui_line(command_line);
        if (!act_on_gui_line(command_line))
            break;
    }
    set_analysing(0);
    if (game.quit_requested)
        return;
    relay_restore(kept_relay);
    // No level was sent before: the one the clock asks for.
    if (!restore_level(kept_level))
        choose_level(game_moves_to_go(), game.own_time, game.increment, 0);
    if (kept_display == 0)
        set_post_mode(0);
    if (!kept_force)
        game_force_off(0);
}
