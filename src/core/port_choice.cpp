// Where the session's device is: on the port named (the command line, the
// environment), found by the search, or chosen in the GUI's engine options.
// A port chosen in the GUI takes the place of the one in use, and the new
// device is put where the old one was: force mode, display and level.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "translate.h"

namespace {

// What the last search found, for the silent device's notice.
PortSearch last_search;
// The device on the port in use answered its start-up.
bool device_answered = false;

// "auto" or nothing: the search, as when no port is named.
bool is_automatic(const char *value) {
    if (value[0] == '\0')
        return true;
    const char *word = "auto";
    for (int i = 0; i < 5; ++i)
        if (std::tolower(static_cast<unsigned char>(value[i])) != word[i])
            return false;
    return true;
}

void tell_refusal(const char *name, int error) {
    char why[PORT_NAME_SIZE + 256], text[PORT_NAME_SIZE + 300];
    describe_port_refusal(name, error, why, sizeof why);
    std::snprintf(text, sizeof text, "Pawnbridge: %s", why);
    front_end->user_error(text);
}

}  // namespace

int connect_device(const char *named) {
    last_search.count = 0;
    int answered;
    if (named) {
        open_link(named);
        answered = init_device();
    } else {
        // The log first: it says which ports were tried.
        open_log(1);
        answered = search_for_device(last_search);
    }
    device_answered = answered > 0;
    return answered;
}

void ports_looked_at(char *out, std::size_t size) {
    if (port_in_use()[0] != '\0' || last_search.count == 0) {
        std::snprintf(out, size, "%s", port_in_use()[0] ? port_in_use() : "no serial port");
        return;
    }
    std::size_t used = 0;
    out[0] = '\0';
    for (int i = 0; i < last_search.count; ++i) {
        const PortTried &port = last_search.ports[i];
        if (port.finding != FOUND_SILENT && port.finding != FOUND_REFUSED)
            continue;
        int wrote = std::snprintf(out + used, size - used, "%s%s", used ? ", " : "", port.name);
        if (wrote < 0 || static_cast<std::size_t>(wrote) >= size - used)
            break;
        used += static_cast<std::size_t>(wrote);
    }
    if (used == 0)
        std::snprintf(out, size, "no serial port");
}

void report_silent_device() {
    char ports[160];
    ports_looked_at(ports, sizeof ports);
    char text[LINE_BUFFER_SIZE];
    std::snprintf(text, sizeof text,
                  "Pawnbridge: no answer from the chess computer on %s: is it switched on and "
                  "connected?",
                  ports);
    // GUIs show this to the user; a person running the bridge by hand
    // reads standard error.
    front_end->user_error(text);
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text);
}

const char *port_option_value() { return port_in_use()[0] ? port_in_use() : "auto"; }

void choose_port(const char *value) {
    while (*value == ' ' || *value == '\t')
        ++value;
    bool automatic = is_automatic(value);
    if (!automatic && device_answered && plat_same_port(value, port_in_use())) {
        char text[PORT_NAME_SIZE + 64];
        std::snprintf(text, sizeof text, "Pawnbridge: the chess computer answers on %s", value);
        front_end->notice(text);
        return;
    }
    // What the device was told, to tell the one on the new port.
    int kept_force = game.force_mode;
    int kept_display = display_detail;
    LevelSent kept_level = level_sent();
    close_port();
    last_search.count = 0;
    int answered = 0;
    if (automatic) {
        answered = search_for_device(last_search);
    } else {
        int error = open_port(value);
        if (error != 0) {
            PortTried port{};
            std::snprintf(port.name, sizeof port.name, "%s", value);
            port.finding = FOUND_REFUSED;
            port.error = error;
            log_port_finding(port);
            tell_refusal(value, error);
        } else {
            answered = init_device();
        }
    }
    device_answered = answered > 0;
    game_device_restarted();
    reset_level();
    if (device_answered) {
        char text[PORT_NAME_SIZE + 64];
        std::snprintf(text, sizeof text, "Pawnbridge: the chess computer answers on %s", port_in_use());
        front_end->notice(text);
    } else if (port_in_use()[0] != '\0' || automatic) {
        report_silent_device();
    }
    if (kept_force)
        game_force_on();
    if (kept_display > 0)
        set_post_mode(kept_display);
    restore_level(kept_level);
}
