// The device's turn: relay its analysis while watching the interface for
// "?" or "force", then print its move.
#include <cstdio>
#include <cstring>

#include "pawnbridge.h"
#include "platform.h"

void device_turn() {
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
                if (command_line[0] == '?' || std::strncmp(command_line, "force", 5) == 0) {
                    move_now();
                    watch_input = 0;
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

    // A report that follows the move arrives shortly after it.
    int kept = set_read_timeout(110);
    read_device(command_line);
    set_read_timeout(kept);
    report_result(side_flag, own_time, opp_time);
}
