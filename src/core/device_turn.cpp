// The device's turn: relay its analysis while watching the interface for
// "?" or "force", then print its move. The device is waited for as long as
// its level has it think, up to the move's limit; then it is told to move
// now, and only a device that does not move within a few seconds of that
// counts as silent.
#include <climits>
#include <cstdio>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "translate.h"

namespace {

// The short read after the move, for a report that follows it.
constexpr int TRAILING_READ_MS = 110;
// The device answers "J" with its move at once; a device that has not
// moved this long after it is taken as silent.
constexpr int MOVE_NOW_ANSWER_MS = 3000;

// What the interface is listened for while the device thinks.
enum Watch {
    WATCH_NONE,      // the device alone: a line waiting stays for the command loop
    WATCH_COMMANDS,  // every line is taken: it may make the device move, or end all
    WATCH_ENDING,    // it has been told to move: only what must not wait is taken
};

// What became of a line the interface sent during the turn.
enum Taken {
    TAKEN,         // acted on, or left for the command loop
    TAKEN_TOLD,    // the device has been told to move now
    TAKEN_ENDING,  // the session is to end at once
};

// Pings that came while the device was to move, answered once its move has
// been printed. A GUI waits for the latest one, so when more arrive than
// fit, the newest takes the last slot.
constexpr int HELD_PINGS = 8;
char held_pings[HELD_PINGS][LINE_BUFFER_SIZE];
int held_count = 0;

void hold_ping(const char *line) {
    int slot = held_count < HELD_PINGS ? held_count++ : HELD_PINGS - 1;
    std::snprintf(held_pings[slot], LINE_BUFFER_SIZE, "%s", line);
}

void answer_held_pings() {
    for (int i = 0; i < held_count; ++i)
        front_end->answer_ping(held_pings[i]);
    held_count = 0;
}

// Milliseconds until the deadline, as a wait's time-out; -1 for none.
int wait_left(long long deadline) {
    if (deadline < 0)
        return -1;
    long long left = deadline - plat_monotonic_ms();
    return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Takes what the interface has sent while the device thinks. When the
// session is to end the device has been told to move, so that it stops
// searching, and nothing more is waited for.
Taken take_interface_line(Watch &watch, bool &force_seen) {
    char next[LINE_BUFFER_SIZE];
    if (!plat_stdin_peek_line(next, sizeof next)) {
        // The GUI has gone (closed, crashed or killed): nobody waits for
        // the move, and the port must be given up now.
        if (watch == WATCH_COMMANDS)
            move_now();
        game_request_quit();
        return TAKEN_ENDING;
    }
    TurnWord word = front_end->turn_word(next);
    bool urgent = word == TURN_PING || word == TURN_READY || word == TURN_QUIT;
    if (word == TURN_LEAVE || (watch == WATCH_ENDING && !urgent)) {
        // Not for this turn: it waits for the command loop, which reads it
        // once the move is in. A GUI that sends it is done with the search.
        Taken taken = TAKEN;
        if (watch == WATCH_COMMANDS && word == TURN_LEAVE) {
            move_now();
            taken = TAKEN_TOLD;
        }
        watch = WATCH_NONE;
        return taken;
    }
    plat_stdin_read_line(command_line, sizeof command_line);
    log_gui_line(command_line, true);
    switch (word) {
    case TURN_QUIT:
        if (watch == WATCH_COMMANDS)
            move_now();
        game_request_quit();
        return TAKEN_ENDING;
    case TURN_PING:
        hold_ping(command_line);
        break;
    case TURN_READY:
        send_interface("readyok");
        std::fflush(stdout);
        break;
    case TURN_MOVE_NOW:
    case TURN_FORCE:
        move_now();
        force_seen = word == TURN_FORCE;
        // The move is on its way; a GUI that is closing sends "quit"
        // right behind, which must not wait for it.
        watch = WATCH_ENDING;
        return TAKEN_TOLD;
    default:
        break;
    }
    return TAKEN;
}

// The read after the move, for a report that follows it. A GUI that asks
// whether the bridge is ready meanwhile is answered at once: it waits for
// that before its next search.
void trailing_read(Watch watch) {
    int kept = set_read_timeout(TRAILING_READ_MS);
    long long until = plat_monotonic_ms() + TRAILING_READ_MS;
    bool watching = watch != WATCH_NONE;
    for (;;) {
        int timeout = wait_left(until);
        int ready = watching ? plat_wait_input_or_port(timeout) : plat_wait_port(timeout);
        if (ready == 1) {
            char next[LINE_BUFFER_SIZE];
            if (plat_stdin_peek_line(next, sizeof next) && front_end->turn_word(next) == TURN_READY) {
                plat_stdin_read_line(command_line, sizeof command_line);
                log_gui_line(command_line, true);
                send_interface("readyok");
                std::fflush(stdout);
            } else {
                watching = false;  // for the command loop
            }
            continue;
        }
        if (ready == 2) {
            read_device(command_line);
        } else {
            command_line[0] = '\0';
            note_no_answer(TRAILING_READ_MS);
        }
        break;
    }
    set_read_timeout(kept);
}

// Returns once the move is printed (true), the device has stopped without
// one, or the session is to end.
bool play_turn(long long deadline, bool &force_seen) {
    Watch watch = WATCH_COMMANDS;
    // Once the device has been told to move: when its move is due.
    long long told_until = -1;
    int book_at_turn_start = in_book;
    // The device plays the side on move when its turn begins.
    game_device_to_move();
    bool heard = false;
    // What went before the turn (a level's whisper, say) is out before the
    // turn waits, as before every wait for the interface.
    std::fflush(stdout);
    for (;;) {
        int timeout = wait_left(told_until >= 0 ? told_until : deadline);
        int ready = watch != WATCH_NONE ? plat_wait_input_or_port(timeout) : plat_wait_port(timeout);
        if (ready == 1) {
            Taken taken = take_interface_line(watch, force_seen);
            if (taken == TAKEN_ENDING) {
                // A GUI still waiting for the search's end (a UCI GUI
                // that said "stop" and then "quit") gets it.
                front_end->device_move(nullptr);
                return false;
            }
            if (taken == TAKEN_TOLD && told_until < 0)
                told_until = plat_monotonic_ms() + MOVE_NOW_ANSWER_MS;
            // The interface's lines first: a GUI that is closing sends
            // several at once and kills the engine moments later.
            continue;
        }
        if (ready == 0) {
            if (told_until < 0) {
                // The move's time is up: the device moves now. A "?" from
                // the GUI would tell it again, after its move.
                move_now();
                if (watch == WATCH_COMMANDS)
                    watch = WATCH_ENDING;
                told_until = plat_monotonic_ms() + MOVE_NOW_ANSWER_MS;
                continue;
            }
            // Told to move, and no move: the device does not answer. Its
            // move, should it come after all, is read when it comes.
            note_no_answer(MOVE_NOW_ANSWER_MS);
            report_silent_device();
            owe_move(front_end->takes_late_move ? OWED_TO_GUI : OWED_TO_TAKE_BACK);
            front_end->device_move(nullptr);
            return false;
        }
        read_device(reply_line);
        // An end-of-game report is taken up by the read itself: the device
        // has spoken even when nothing follows it.
        if (reply_line[0] != '\0' || end_code != 0)
            heard = true;
        reply_line[std::strcspn(reply_line, "\r")] = '\0';
        if (!relay_analysis(reply_line))
            break;
    }

    report_result(game_last_mover(), game.own_time, game.opp_time);
    int number = game.move_number;
    if (!parse_device_move(&number, reply_line, &in_book)) {
        if (!heard)
            report_silent_device();
        front_end->device_move(nullptr);
        return false;
    }
    if (book_at_turn_start && !in_book)
        front_end->whisper("Out of book.", 12);
    // Out now, not after the read for a report below: the GUI's clock runs
    // until it has the move.
    front_end->device_move(reply_line);
    game_device_moved(number);

    // A report that follows the move arrives shortly after it.
    trailing_read(watch);
    report_result(game_last_mover(), game.own_time, game.opp_time);
    return true;
}

}  // namespace

int device_turn(long long limit_ms) {
    long long deadline = limit_ms < 0 ? -1 : line_arrived_at + limit_ms;
    bool force_seen = false;
    bool moved = play_turn(deadline, force_seen);
    if (moved)
        game_clock_spent(plat_monotonic_ms() - line_arrived_at);
    // A GUI that said "force" while the device thought plays neither side
    // from now on: the moves it sends next must not start a search.
    if (force_seen && !game.quit_requested)
        game_force_on();
    answer_held_pings();
    return moved;
}

namespace {

// A line from a device that owes its move: its move at last, given to the
// GUI while it still waits for it, else taken back out of the device's game.
void take_late_move() {
    read_device(reply_line);
    reply_line[std::strcspn(reply_line, "\r")] = '\0';
    if (reply_line[0] == '\0') {
        // The line has failed: it is not read again in a loop.
        forget_owed_move();
        return;
    }
    int number = game.move_number;
    if (!parse_device_move(&number, reply_line, &in_book))
        return;  // analysis and the like: logged, nothing more
    if (owed_move() == OWED_TO_GUI) {
        front_end->device_move(reply_line);
        game_device_moved(number);
    } else {
        take_back();
    }
    forget_owed_move();
    std::fflush(stdout);
}

}  // namespace

void wait_for_interface() {
    while (owed_move() != OWED_NONE && !game.quit_requested) {
        if (plat_wait_input_or_port(-1) != 2)
            return;
        take_late_move();
    }
}

void reset_turn() {
    forget_owed_move();
    held_count = 0;
}
