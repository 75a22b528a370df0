// The protocol-2 handshake and the ping/pong exchange. A GUI that opens with
// "protover 2" waits for the engine's features before it goes on; telling it
// at once what the bridge does spares it a time-out at every start.
#include <cstdio>
#include <cstring>

#include "core.h"
#include "xboard.h"
#include "xboard_parts.h"

namespace {

// Only what the bridge really does is promised: positions by setboard,
// ping, white/black, time/otim, analysis, and several games in one run.
// SIGINT is ignored anyway; moves in SAN, pause and playother do not exist.
const char FEATURES[] =
    "feature myname=\"Pawnbridge\" setboard=1 ping=1 sigint=0 usermove=0 san=0 analyze=1 "
    "pause=0 playother=0 colors=1 time=1 reuse=1";

}  // namespace

void handle_protover() {
    int version = 0;
    if (std::sscanf(command_line, "protover %d", &version) != 1 || version < 2)
        return;
    use_xboard_front_end(version);
    send_interface(FEATURES);
    // The port, as GUIs show an engine's options in their engine dialogs.
    char option[PORT_NAME_SIZE + 48];
    std::snprintf(option, sizeof option, "feature option=\"Port -string %s\"", port_option_value());
    send_interface(option);
    send_interface("feature done=1");
}

int read_option(const char *line, char *name, std::size_t name_size, const char **value) {
    const char *at = line + 6;  // after "option"
    while (*at == ' ' || *at == '\t')
        ++at;
    const char *equals = std::strchr(at, '=');
    if (equals == nullptr || equals == at || static_cast<std::size_t>(equals - at) >= name_size)
        return 0;
    std::size_t length = static_cast<std::size_t>(equals - at);
    while (length > 0 && (at[length - 1] == ' ' || at[length - 1] == '\t'))
        --length;
    std::memcpy(name, at, length);
    name[length] = '\0';
    *value = equals + 1;
    return 1;
}

void handle_option() {
    char name[32];
    const char *value = nullptr;
    if (read_option(command_line, name, sizeof name, &value) && std::strcmp(name, "Port") == 0)
        choose_port(value);
}

void handle_ping() { answer_ping(command_line); }

