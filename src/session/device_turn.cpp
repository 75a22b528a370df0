// The device's turn: relay its analysis while watching the interface for
// "?" or "force", then print its move.
#include <cstdio>
#include <cstring>

#include "front_end.h"
#include "pawnbridge.h"
#include "platform.h"

namespace {

// What the interface is listened for while the device thinks.
enum Watch {
    WATCH_NONE,      // the device alone: a line waiting stays for the command loop
    WATCH_COMMANDS,  // every line is taken: it may make the device move, or end all
    WATCH_ENDING,    // it has been told to move: only what must not wait is taken
};

void log_turn_line(const char *line) {
    log_text("==> ");
    log_text(line);
    log_text(" !!!\r\n");
}

// Takes what the interface has sent while the device thinks. Returns false
// when the session is to end at once; the device has then been told to
// move, so that it stops searching, and nothing more is waited for.
bool take_interface_line(Watch &watch, bool &force_seen) {
    char next[LINE_BUFFER_SIZE];
    if (!plat_stdin_peek_line(next, sizeof next)) {
        // The GUI has gone (closed, crashed or killed): nobody waits for
        // the move, and the port must be given up now.
        if (watch == WATCH_COMMANDS)
            move_now();
        quit_requested = 1;
        return false;
    }
    TurnWord word = front_end->turn_word(next);
    bool urgent = word == TURN_PING || word == TURN_READY || word == TURN_QUIT;
    if (word == TURN_LEAVE || (watch == WATCH_ENDING && !urgent)) {
        // Not for this turn: it waits for the command loop, which reads it
        // once the move is in. A GUI that sends it is done with the search.
        if (watch == WATCH_COMMANDS && word == TURN_LEAVE)
            move_now();
        watch = WATCH_NONE;
        return true;
    }
    plat_stdin_read_line(command_line, sizeof command_line);
    log_turn_line(command_line);
    switch (word) {
    case TURN_QUIT:
        if (watch == WATCH_COMMANDS)
            move_now();
        quit_requested = 1;
        return false;
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
        break;
    default:
        break;
    }
    return true;
}

// Returns once the move is printed (true), the device has stopped without
// one, or the session is to end.
bool play_turn(bool &force_seen) {
    Watch watch = WATCH_COMMANDS;
    int book_at_turn_start = in_book;
    // The device plays the side on move when its turn begins.
    device_side = side_flag;
    bool heard = false;
    // What went before the turn (a level's whisper, say) is out before the
    // turn waits, as before every wait for the interface.
    std::fflush(stdout);
    for (;;) {
        if (watch != WATCH_NONE && plat_wait_input_or_port(set_read_timeout(0)) == 1) {
            if (!take_interface_line(watch, force_seen)) {
                // A GUI still waiting for the search's end (a UCI GUI
                // that said "stop" and then "quit") gets it.
                front_end->device_move(nullptr);
                return false;
            }
            // The interface's lines first: a GUI that is closing sends
            // several at once and kills the engine moments later.
            continue;
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

    report_result(last_mover(), own_time, opp_time);
    if (!parse_device_move(&move_number, reply_line, &in_book)) {
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
    note_move_played();

    // A report that follows the move arrives shortly after it.
    int kept = set_read_timeout(110);
    read_device(command_line);
    set_read_timeout(kept);
    report_result(last_mover(), own_time, opp_time);
    return true;
}

}  // namespace

int device_turn() {
    bool force_seen = false;
    bool moved = play_turn(force_seen);
    // A GUI that said "force" while the device thought plays neither side
    // from now on: the moves it sends next must not start a search.
    if (force_seen && !quit_requested)
        enter_force_mode();
    answer_held_pings();
    return moved;
}
