// The session log "NovagLog.txt": every line between the interface, the
// bridge and the device, appended across runs, written straight to the file.
// Each entry is built whole and written with one write, so that on a full
// disk an entry is in the log whole or not at all, never cut and run into
// the next.
#include <cstdio>
#include <cstring>

#include "core.h"
#include "platform.h"

namespace {

const char LOG_NAME[] = "NovagLog.txt";
int log_open_flag = 0;
long long setup_started = 0;

// A GUI's line of the longest UCI game fits with its marker and end.
constexpr std::size_t ENTRY_SIZE = 65536 + 64;
char entry_area[ENTRY_SIZE];

void log_entry_with_time(const char *label) {
    char entry[64];
    int length = std::snprintf(entry, sizeof entry, "%s: %s\r\n", label, timestamp());
    log_entry("", entry, static_cast<std::size_t>(length), "");
}

}  // namespace

const char *timestamp() {
    // English names whatever the locale: the log is read by people and tools
    // that expect one fixed form.
    static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static char text[32];
    int weekday, month, day, hour, minute, second, year;
    plat_local_time(&weekday, &month, &day, &hour, &minute, &second, &year);
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", days[weekday % 7],
                  months[month % 12], day % 100, hour % 100, minute % 100, second % 100,
                  year % 10000);
    return text;
}

int log_is_open() { return log_open_flag; }

void log_entry(const char *marker, const char *text, std::size_t length, const char *end) {
    if (!log_open_flag)
        return;
    std::size_t head = std::strlen(marker), tail = std::strlen(end);
    if (head + length + tail > ENTRY_SIZE) {
        // Longer than any line the bridge reads: in pieces, as it comes.
        plat_log_write(marker, head);
        plat_log_write(text, length);
        plat_log_write(end, tail);
        return;
    }
    std::memcpy(entry_area, marker, head);
    std::memcpy(entry_area + head, text, length);
    std::memcpy(entry_area + head + length, end, tail);
    plat_log_write(entry_area, head + length + tail);
}

void log_piece(const char *data, std::size_t length) {
    if (log_open_flag)
        plat_log_write(data, length);
}

void open_log(int first) {
    if (log_open_flag)
        return;
    log_open_flag = plat_log_open(LOG_NAME);
    if (log_open_flag && first)
        log_entry_with_time("New session");
}

void close_log() {
    if (!log_open_flag)
        return;
    plat_log_close();
    log_open_flag = 0;
}

void close_log_final() {
    if (!log_open_flag)
        return;
    log_entry_with_time("Session ends");
    close_log();
}

void log_game_event(const char *label) {
    if (log_open_flag)
        log_entry_with_time(label);
}

void send_interface(const char *text) {
    log_entry("<== ", text, std::strlen(text), "\r\n");
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
}

void reset_setup_timer() { setup_started = 0; }

void log_setup_time(int n) {
    if (!log_open_flag)
        return;
    if (n < 0) {
        setup_started = plat_time_seconds();
        return;
    }
    if (setup_started > 0) {
        char entry[80];
        int length = std::snprintf(entry, sizeof entry, "(setup %d moves took %lld seconds)\r\n", n,
                                   plat_time_seconds() - setup_started);
        log_entry("", entry, static_cast<std::size_t>(length), "");
        setup_started = 0;
    }
}
