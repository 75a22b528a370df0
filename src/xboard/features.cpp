// The protocol-2 handshake and the ping/pong exchange. A GUI that opens with
// "protover 2" waits for the engine's features before it goes on; telling it
// at once what the bridge does spares it a time-out at every start.
#include <cstdio>
#include <cstring>

#include "front_end.h"
#include "pawnbridge.h"

namespace {

// Only what the bridge really does is promised: positions by setboard,
// ping, white/black, time/otim, analysis, and several games in one run.
// SIGINT is ignored anyway; moves in SAN, pause and playother do not exist.
const char FEATURES[] =
    "feature myname=\"Pawnbridge\" setboard=1 ping=1 sigint=0 usermove=0 san=0 analyze=1 "
    "pause=0 playother=0 colors=1 time=1 reuse=1";

// "ping" lines that arrived while the device was to move, answered once its
// move has been printed. A GUI waits for the latest one, so when more arrive
// than fit, the newest takes the last slot.
constexpr int PENDING_PINGS = 8;
constexpr std::size_t PING_TEXT_SIZE = 16;
char pending[PENDING_PINGS][PING_TEXT_SIZE];
int pending_count = 0;

// The text after "ping" and its blanks, as the GUI wrote it, cut to fit.
void ping_argument(const char *line, char *out, std::size_t size) {
    const char *at = line + 4;
    while (*at == ' ' || *at == '\t')
        ++at;
    std::size_t length = std::strlen(at);
    if (length > size - 1)
        length = size - 1;
    std::memcpy(out, at, length);
    out[length] = '\0';
}

void send_pong(const char *argument) {
    char answer[PING_TEXT_SIZE + 8] = "pong ";
    std::strcat(answer, argument);
    send_interface(answer);
}

}  // namespace

void handle_protover() {
    int version = 0;
    if (std::sscanf(command_line, "protover %d", &version) != 1 || version < 2)
        return;
    use_xboard_front_end(version);
    send_interface(FEATURES);
    send_interface("feature done=1");
}

void handle_ping() {
    char argument[PING_TEXT_SIZE];
    ping_argument(command_line, argument, sizeof argument);
    send_pong(argument);
}

void hold_ping(const char *line) {
    int slot = pending_count < PENDING_PINGS ? pending_count++ : PENDING_PINGS - 1;
    ping_argument(line, pending[slot], PING_TEXT_SIZE);
}

void answer_held_pings() {
    for (int i = 0; i < pending_count; ++i)
        send_pong(pending[i]);
    pending_count = 0;
}
