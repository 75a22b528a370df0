// The device's turn: relay its analysis while watching the interface for
// "?" or "force", then print its move.
#include <cstdio>
#include <cstring>

#include "pawnbridge.h"
#include "platform.h"

namespace {

// What the interface is listened for while the device thinks.
enum Watch {
    WATCH_NONE,      // the device alone: a line waiting stays for the command loop
    WATCH_COMMANDS,  // "?" and "force" make it move, "quit" or the end of input end all
    WATCH_ENDING,    // it has been told to move: only "quit", "ping" and the end are taken
};

bool starts_with(const char *line, const char *word) {
    return std::strncmp(line, word, std::strlen(word)) == 0;
}

void log_turn_line(const char *line) {
    log_text("==> ");
    log_text(line);
    log_text(" !!!\r\n");
}

// Takes what the interface has sent while the device thinks. Returns false
// when the session is to end at once; the device has then been told to
// move, so that it stops searching, and nothing more is waited for.
bool take_interface_line(Watch &watch, bool &force_seen) {
    if (watch == WATCH_ENDING) {
        // Only a line that is for this turn is taken; any other waits for
        // the command loop, which reads it once the move is in.
        char next[LINE_BUFFER_SIZE];
        if (plat_stdin_peek_line(next, sizeof next) &&
            !starts_with(next, "quit") && !starts_with(next, "ping")) {
            watch = WATCH_NONE;
            return true;
        }
    }
    if (!plat_stdin_read_line(command_line, sizeof command_line)) {
        // The GUI has gone (closed, crashed or killed): nobody waits for
        // the move, and the port must be given up now.
        if (watch == WATCH_COMMANDS)
            move_now();
        quit_requested = 1;
        return false;
    }
    log_turn_line(command_line);
    if (starts_with(command_line, "quit")) {
        if (watch == WATCH_COMMANDS)
            move_now();
        quit_requested = 1;
        return false;
    }
    if (starts_with(command_line, "ping")) {
        hold_ping(command_line);
        return true;
    }
    if (watch == WATCH_COMMANDS) {
        bool force = starts_with(command_line, "force");
        if (command_line[0] == '?' || force) {
            move_now();
            force_seen = force;
            // The move is on its way; a GUI that is closing sends "quit"
            // right behind, which must not wait for it.
            watch = WATCH_ENDING;
        }
    }
    return true;
}

// Returns once the move is printed, the device has stopped without one,
// or the session is to end.
void play_turn(bool &force_seen) {
    Watch watch = WATCH_COMMANDS;
    int book_at_turn_start = in_book;
    // The device plays the side on move when its turn begins.
    device_side = side_flag;
    bool heard = false;
    for (;;) {
        if (watch != WATCH_NONE && plat_wait_input_or_port(set_read_timeout(0)) == 1) {
            if (!take_interface_line(watch, force_seen))
                return;
            // The interface's lines first: a GUI that is closing sends
            // several at once and kills the engine moments later.
            continue;
        }
        read_device(reply_line);
        if (reply_line[0] != '\0')
            heard = true;
        reply_line[std::strcspn(reply_line, "\r")] = '\0';
        if (!relay_analysis(reply_line))
            break;
    }

    report_result(last_mover(), own_time, opp_time);
    if (!parse_device_move(&move_number, reply_line, &in_book)) {
        if (!heard)
            report_silent_device();
        return;
    }
    if (book_at_turn_start && !in_book)
        std::fputs("tellics whisper Out of book.\n", stdout);
    std::snprintf(command_line, sizeof command_line, "move %s", reply_line);
    send_interface(command_line);
    note_move_played();
    // The GUI's clock runs until it has the move: it goes out now, not
    // after the read for a report below.
    std::fflush(stdout);

    // A report that follows the move arrives shortly after it.
    int kept = set_read_timeout(110);
    read_device(command_line);
    set_read_timeout(kept);
    report_result(last_mover(), own_time, opp_time);
}

}  // namespace

void device_turn() {
    bool force_seen = false;
    play_turn(force_seen);
    // A GUI that said "force" while the device thought plays neither side
    // from now on: the moves it sends next must not start a search.
    if (force_seen && !quit_requested)
        enter_force_mode();
    answer_held_pings();
}
