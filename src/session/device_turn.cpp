// The device's turn: relay its analysis while watching the interface for
// "?" or "force", then print its move.
#include <cstdio>
#include <cstring>

#include "pawnbridge.h"
#include "platform.h"

namespace {

// Returns once the move is printed, or the device has stopped without one.
// force_seen: "force" came during the turn.
void play_turn(bool &force_seen) {
    int watch_input = 1;
    int book_at_turn_start = in_book;
    for (;;) {
        if (watch_input && plat_wait_input_or_port(set_read_timeout(0)) == 1) {
            if (!plat_stdin_read_line(command_line, sizeof command_line)) {
                // End of input: the command loop ends at its next read.
                watch_input = 0;
            } else {
                log_text("==> ");
                log_text(command_line);
                log_text(" !!!\r\n");
                bool force = std::strncmp(command_line, "force", 5) == 0;
                if (command_line[0] == '?' || force) {
                    move_now();
                    watch_input = 0;
                    force_seen = force;
                } else if (std::strncmp(command_line, "ping", 4) == 0) {
                    hold_ping(command_line);
                }
            }
        }
        read_device(reply_line);
        reply_line[std::strcspn(reply_line, "\r")] = '\0';
        if (!relay_analysis(reply_line))
            break;
    }

    report_result(side_flag, own_time, opp_time);
    if (!parse_device_move(&move_number, reply_line, &in_book))
        return;
    if (book_at_turn_start && !in_book)
        std::fputs("tellics whisper Out of book.\n", stdout);
    std::snprintf(command_line, sizeof command_line, "%d. ... %s", move_number, reply_line);
    send_interface(command_line);
    // The GUI's clock runs until it has the move: it goes out now, not
    // after the read for a report below.
    std::fflush(stdout);

    // A report that follows the move arrives shortly after it.
    int kept = set_read_timeout(110);
    read_device(command_line);
    set_read_timeout(kept);
    report_result(side_flag, own_time, opp_time);
}

}  // namespace

void device_turn() {
    bool force_seen = false;
    play_turn(force_seen);
    // A GUI that said "force" while the device thought plays neither side
    // from now on: the moves it sends next must not start a search.
    if (force_seen)
        enter_force_mode();
    answer_held_pings();
}
