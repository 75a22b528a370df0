// The operating-system layer served from memory (see fake_platform.h).
#include "fake_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <utility>

#include "platform.h"

namespace {

constexpr std::uint8_t ESCAPE = 0xFF;
enum Event { BYTE, TIME_OUT, READ_ERROR, INTERFACE_FIRST, UNPLUG, WAIT_TIME_OUT, DRAINED };

// The longest command the bridge ever sends the device is the position
// command (145 characters); anything much longer means text from outside
// reached the serial line unchecked.
constexpr std::size_t LONGEST_DEVICE_WRITE = 256;

const std::uint8_t *port_data = nullptr;
std::size_t port_size = 0;
std::size_t port_at = 0;
bool unplugged = false;
bool port_open = false;

std::deque<std::string> interface_lines;
void (*line_read_hook)(const char *line) = nullptr;

bool log_open = false;
bool log_refused = false;
std::string log_text;
std::string written_text;
std::string owed;

// The next event of the device stream; with consume false it is only looked at.
Event next_event(std::uint8_t *byte, bool consume) {
    if (port_at >= port_size)
        return DRAINED;
    std::size_t at = port_at;
    Event event = BYTE;
    if (port_data[at] != ESCAPE) {
        *byte = port_data[at++];
    } else if (at + 1 >= port_size) {
        ++at;
        event = TIME_OUT;
    } else {
        std::uint8_t code = port_data[at + 1];
        at += 2;
        switch (code) {
        case 0x00: *byte = ESCAPE; break;
        case 0x02: event = READ_ERROR; break;
        case 0x03: event = INTERFACE_FIRST; break;
        case 0x04: event = UNPLUG; break;
        case 0x05: event = WAIT_TIME_OUT; break;
        default: event = TIME_OUT; break;
        }
    }
    if (consume)
        port_at = at;
    return event;
}

}  // namespace

namespace fake {

void reset() {
    port_data = nullptr;
    port_size = port_at = 0;
    unplugged = false;
    interface_lines.clear();
    line_read_hook = nullptr;
    log_refused = false;
    log_text.clear();
    written_text.clear();
    owed.clear();
}

void set_port_stream(const std::uint8_t *data, std::size_t size) {
    port_data = data;
    port_size = size;
    port_at = 0;
}

void set_interface_text(const std::uint8_t *data, std::size_t size,
                        bool (*keep)(const std::string &line)) {
    interface_lines.clear();
    std::size_t start = 0;
    while (start < size) {
        const void *lf = std::memchr(data + start, '\n', size - start);
        std::size_t end = lf ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(lf) - data)
                             : size;
        std::size_t text = end;
        if (lf && text > start && data[text - 1] == '\r')
            --text;
        std::string line(reinterpret_cast<const char *>(data + start), text - start);
        if (keep == nullptr || keep(line))
            interface_lines.push_back(std::move(line));
        start = end + 1;
    }
}

void refuse_log(bool refuse) { log_refused = refuse; }

void on_line_read(void (*hook)(const char *line)) { line_read_hook = hook; }

bool port_drained() {
    std::uint8_t ignored;
    return unplugged || next_event(&ignored, false) == DRAINED;
}

const std::string &log() { return log_text; }
const std::string &written() { return written_text; }
const std::string &owed_to_log() { return owed; }

void check_nothing_lost() {
    std::size_t at = 0;
    for (char c : owed) {
        at = log_text.find(c, at);
        require(at != std::string::npos, "a line read from the interface or the device is missing from the log");
        ++at;
    }
}

void fail(const char *what) {
    std::fprintf(stderr, "\n*** bridge invariant broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace fake

// ---------------------------------------------------------------- platform

void plat_init() {}

int plat_stop_requested() { return 0; }

const char *plat_port_from_environment() { return "COM1"; }

int plat_list_ports(PortEntry *out, int max) {
    if (max < 1)
        return 0;
    std::snprintf(out[0].name, PORT_NAME_SIZE, "COM1");
    out[0].modem_class = false;
    return 1;
}

int plat_port_open(const char *name) {
    fake::require(name != nullptr && name[0] != '\0', "a port without a name was opened");
    port_open = true;
    return 0;
}

int plat_port_is_open() { return port_open; }

int plat_same_port(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

void plat_port_close() { port_open = false; }

void plat_port_set_timeout(int ms) { fake::require(ms > 0, "a read time-out of 0 ms or less reached the port"); }

int plat_port_read_byte(char *byte) {
    if (!port_open)
        return 0;  // no device: nothing comes
    if (unplugged)
        return -EIO;
    for (;;) {
        std::uint8_t got = 0;
        switch (next_event(&got, true)) {
        case BYTE:
            if (log_open)
                owed.push_back(static_cast<char>(got));
            *byte = static_cast<char>(got);
            return 1;
        case TIME_OUT: return 0;
        case READ_ERROR: return -EIO;
        case UNPLUG: unplugged = true; return -EIO;
        case INTERFACE_FIRST: continue;  // only a wait takes notice of it
        case WAIT_TIME_OUT: continue;
        case DRAINED: return 0;
        }
    }
}

void plat_port_write(const char *data, std::size_t length) {
    if (!port_open)
        return;  // no device: nothing goes
    fake::require(length <= LONGEST_DEVICE_WRITE, "an overlong command went to the device");
    written_text.append(data, length);
}

int plat_stdin_peek_line(char *dst, std::size_t size) {
    fake::require(size > 0, "an interface line was read into no room at all");
    if (interface_lines.empty())
        return 0;
    const std::string &line = interface_lines.front();
    std::size_t copied = line.size() < size - 1 ? line.size() : size - 1;
    std::memcpy(dst, line.data(), copied);
    dst[copied] = '\0';
    return 1;
}

int plat_stdin_read_line(char *dst, std::size_t size) {
    if (!plat_stdin_peek_line(dst, size))
        return 0;
    if (!log_refused)
        owed.append(dst);  // the text as far as its first NUL is what can be logged
    interface_lines.pop_front();
    if (line_read_hook != nullptr)
        line_read_hook(dst);
    return 1;
}

int plat_wait_input_or_port(int timeout_ms) {
    (void)timeout_ms;  // negative: for as long as it takes
    if (!port_open)
        return 1;  // no device: only the interface can end the wait
    std::uint8_t ignored;
    if (unplugged)
        return interface_lines.empty() ? 2 : 1;
    Event event = next_event(&ignored, false);
    if (event == INTERFACE_FIRST) {
        next_event(&ignored, true);
        return 1;
    }
    if (event == WAIT_TIME_OUT) {
        next_event(&ignored, true);
        return 0;
    }
    if (event != DRAINED)
        return 2;
    // Nothing more from the device: the interface's next line, or its end,
    // is what wakes the wait.
    return 1;
}

int plat_wait_port(int timeout_ms) {
    // With the interface unwatched, only the clock can end a wait for a
    // device that says nothing.
    fake::require(timeout_ms >= 0, "the device alone was waited for without a time-out");
    if (!port_open)
        return 0;
    std::uint8_t ignored;
    if (unplugged)
        return 2;
    Event event = next_event(&ignored, false);
    while (event == INTERFACE_FIRST) {
        next_event(&ignored, true);  // the interface is not watched here
        event = next_event(&ignored, false);
    }
    if (event == WAIT_TIME_OUT) {
        next_event(&ignored, true);
        return 0;
    }
    // Nothing more will ever come: a wait without a time-out would never end.
    if (event == DRAINED)
        return 0;
    return 2;
}

int plat_log_open(const char *name) {
    fake::require(name != nullptr && name[0] != '\0', "the log has no name");
    fake::require(!log_open, "the log was opened twice");
    if (log_refused)
        return 0;
    log_open = true;
    return 1;
}

void plat_log_write(const char *data, std::size_t length) {
    fake::require(log_open, "the log was written while closed");
    log_text.append(data, length);
}

void plat_log_close() {
    fake::require(log_open, "the log was closed twice");
    log_open = false;
}

void plat_sleep_ms(int ms) { fake::require(ms >= 0, "a negative pause"); }

const char *plat_error_text(int) { return "fake error"; }
PortRefusal plat_port_refusal(int) { return PORT_REFUSED_OTHER; }

long long plat_time_seconds() { return 1000000000; }

// Time stands still: only the stream's wait time-outs end a wait.
long long plat_monotonic_ms() { return 1000000000000LL; }

void plat_local_time(int *weekday, int *month, int *day, int *hour, int *minute, int *second,
                     int *year) {
    *weekday = 6;
    *month = 11;
    *day = 5;
    *hour = 14;
    *minute = 3;
    *second = 9;
    *year = 1998;
}
