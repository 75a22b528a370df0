// The session's start and end, whichever protocol the GUI then speaks, and
// the one reset of everything the session keeps.
#include <cstdio>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "testsuite.h"
#include "translate.h"

void reset_session() {
    reset_game();
    reset_turn();
    set_analysing(0);
    reset_relay();
    reset_level();
    reset_device_state();
    reset_test_counts();
    reset_setup_timer();
    end_code = 0;
    std::memset(reply_line, 0, sizeof reply_line);
    std::memset(command_line, 0, sizeof command_line);
}

void start_session(const char *named_port) {
    plat_init();
    reset_session();
    int answered = connect_device(named_port ? named_port : plat_port_from_environment());
    send_interface("Pawnbridge");
    // A device that is switched off would otherwise show only as a game
    // that never starts; the bridge still goes on, for one switched on late.
    if (!answered)
        report_silent_device();
    std::fflush(stdout);
}

void end_session() {
    close_link();
    std::fflush(stdout);
}
