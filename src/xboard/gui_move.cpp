// A move from the GUI: to the device, and in force mode that is all;
// otherwise the device's turn follows.
#include <cstdio>

#include "core.h"
#include "translate.h"
#include "xboard_parts.h"

void handle_gui_move() {
    game_move_sent();
    if (!send_move(command_line)) {
        if (end_code != 0) {
            // The device took the move and announced the end of the game
            // in its place.
            game_move_played();
            report_result(game_last_mover(), game.own_time, game.opp_time);
            return;
        }
        char answer[LINE_BUFFER_SIZE + 16];
        std::snprintf(answer, sizeof answer, "Illegal move: %s", command_line);
        send_interface(answer);
        return;
    }
    game_move_played();
    if (game.force_mode) {
        game_count_set_up_move();
        return;
    }
    device_turn(game_move_limit_ms(game_moves_to_go()));
}
