// Finding the chess computer where it is plugged in: COM1 first, then the
// serial ports where its cable can be (on-board ports, USB serial
// converters), each asked with the device's own identify command. A port
// that does not answer as the device gets nothing more than the wake-up
// and that command; USB modem-class ports are never opened, since the
// boards behind them reset when they are.
#include <cstdio>
#include <cstring>

#include "core.h"
#include "device.h"
#include "platform.h"

namespace {

// The whole search of a machine without the device ends within this.
constexpr long long SEARCH_MS = 3000;
// How long a port is given to answer the identify command: the answer
// takes some 30 ms at 9600 baud.
constexpr int IDENTIFY_WAIT_MS = 300;

PortTried &add(PortSearch &search, const PortEntry &entry) {
    PortTried &port = search.ports[search.count++];
    std::size_t length = strnlen(entry.name, sizeof port.name - 1);
    std::memcpy(port.name, entry.name, length);
    port.name[length] = '\0';
    port.finding = entry.modem_class ? FOUND_MODEM_CLASS : FOUND_NOT_TRIED;
    port.error = 0;
    port.answer[0] = '\0';
    return port;
}

// Opens the port for a try; false, with the finding, when it cannot be.
bool open_for_try(PortTried &port) {
    int error = open_port(port.name);
    if (error == 0)
        return true;
    port.finding = FOUND_REFUSED;
    port.error = error;
    return false;
}

// Asks an open port who it is.
void identify(PortTried &port, int wait_ms) {
    if (identify_device(wait_ms)) {
        port.finding = FOUND_DEVICE;
        std::snprintf(port.answer, sizeof port.answer, "%.*s", static_cast<int>(std::strcspn(reply_line, "\r\n")),
                      reply_line);
    } else {
        port.finding = FOUND_SILENT;
    }
}

}  // namespace

void log_port_finding(const PortTried &port) {
    char entry[2 * PORT_NAME_SIZE + 320];
    char what[PORT_NAME_SIZE + 256];
    describe_finding(port, what, sizeof what);
    std::snprintf(entry, sizeof entry, "(port %s: %s)\r\n", port.name, what);
    log_entry("", entry, std::strlen(entry), "");
}

void describe_finding(const PortTried &port, char *out, std::size_t size) {
    switch (port.finding) {
    case FOUND_DEVICE:
        std::snprintf(out, size, "the chess computer (%s)", port.answer);
        break;
    case FOUND_SILENT: std::snprintf(out, size, "no answer"); break;
    case FOUND_REFUSED: {
        char why[256];
        port_refusal_reason(port.error, why, sizeof why);
        if (plat_port_refusal(port.error) == PORT_IN_USE)
            std::snprintf(out, size, "%s", why);
        else
            std::snprintf(out, size, "cannot be opened: %s", why);
        break;
    }
    case FOUND_MODEM_CLASS:
        std::snprintf(out, size, "a USB modem-class port, not tried (name it to use it)");
        break;
    default: std::snprintf(out, size, "not tried"); break;
    }
}

int search_for_device(PortSearch &search) {
    PortEntry entries[MAX_PORTS];
    int listed = plat_list_ports(entries, MAX_PORTS);
    search.count = 0;
    search.found = -1;
    long long deadline = plat_monotonic_ms() + SEARCH_MS;
    for (int i = 0; i < listed; ++i) {
        PortTried &port = add(search, entries[i]);
        if (port.finding == FOUND_MODEM_CLASS || plat_monotonic_ms() >= deadline)
            continue;
        if (!open_for_try(port)) {
            log_port_finding(port);
            continue;
        }
        if (i == 0) {
            // COM1 gets the start-up sequence it has always had, left at
            // once when its first command goes unanswered.
            if (begin_start_up()) {
                port.finding = FOUND_DEVICE;
                search.found = i;
                return finish_start_up();
            }
            port.finding = FOUND_SILENT;
        } else {
            long long left = deadline - plat_monotonic_ms();
            identify(port, left < IDENTIFY_WAIT_MS ? static_cast<int>(left > 1 ? left : 1) : IDENTIFY_WAIT_MS);
        }
        log_port_finding(port);
        if (port.finding == FOUND_DEVICE) {
            search.found = i;
            return init_device();
        }
        close_port();
    }
    return 0;
}

void survey_ports(PortSearch &search) {
    PortEntry entries[MAX_PORTS];
    int listed = plat_list_ports(entries, MAX_PORTS);
    search.count = 0;
    search.found = -1;
    for (int i = 0; i < listed; ++i) {
        PortTried &port = add(search, entries[i]);
        if (port.finding == FOUND_MODEM_CLASS || !open_for_try(port))
            continue;
        identify(port, IDENTIFY_WAIT_MS);
        if (port.finding == FOUND_DEVICE && search.found < 0)
            search.found = i;
        close_port();
    }
}
