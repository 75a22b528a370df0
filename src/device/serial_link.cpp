// The serial line to the device: one line at a time in each direction, every
// line logged, end-of-game reports taken up wherever they arrive.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "device.h"
#include "platform.h"

char reply_line[REPLY_LINE_SIZE];
int end_code = 0;

namespace {

int read_timeout = 0;
// The port open now, "" for none.
char port_name[PORT_NAME_SIZE];

// A device line is logged whole, in one entry, up to this many bytes; the
// rest of a line that never ends follows in pieces of this size.
constexpr std::size_t LOGGED_LINE_SIZE = 1024;

// Reads and logs one line; never stores more than size - 1 bytes.
void read_one_line(char *buffer, std::size_t size) {
    int error = 0;
    std::size_t stored = 0;
    // Whether the line went past the reader's buffer: its error note, if
    // any, then follows the bytes rather than the marker.
    bool overflowed = false;
    char logged[LOGGED_LINE_SIZE];
    std::size_t kept = 0;
    bool head_out = false;  // the entry's head has gone to the log already
    for (;;) {
        char byte = 0;
        int got = plat_port_read_byte(&byte);
        if (got < 0)
            error = -got;
        if (got <= 0)
            break;
        if (stored + 1 < size)
            buffer[stored++] = byte;
        else
            overflowed = true;
        if (kept == sizeof logged) {
            if (head_out) {
                log_piece(logged, kept);
            } else {
                log_entry(" <-- ", logged, kept, "");
                head_out = true;
            }
            kept = 0;
        }
        logged[kept++] = byte;
        if (byte == '\n')
            break;
    }
    if (size > 0)
        buffer[stored < size ? stored : size - 1] = '\0';

    char note[32] = "";
    if (error)
        std::snprintf(note, sizeof note, "(err: %d)", error);
    if (head_out) {
        log_piece(logged, kept);
        log_piece(note, std::strlen(note));
    } else if (kept == 0 && !error) {
        note_no_answer(read_timeout);
    } else if (overflowed) {
        log_entry(" <-- ", logged, kept, note);
    } else {
        char marker[40];
        std::snprintf(marker, sizeof marker, " <-- %s", note);
        log_entry(marker, logged, kept, "");
    }
}

}  // namespace

void note_no_answer(int waited_ms) {
    // Short time-outs are routine (polling the device); only long ones are
    // worth a note.
    char note[48] = "";
    if (waited_ms > 500)
        std::snprintf(note, sizeof note, "(Timeout %d msecs)\r\n", waited_ms);
    log_entry(" <-- ", note, std::strlen(note), "");
}

void port_refusal_reason(int error, char *out, std::size_t size) {
    switch (plat_port_refusal(error)) {
    case PORT_IN_USE:
        std::snprintf(out, size, "in use by another program");
        break;
    case PORT_NOT_PERMITTED:
        // Serial ports belong to the dialout group on Debian and Ubuntu.
        std::snprintf(out, size,
                      "%s (the usual mend: join the dialout group with "
                      "\"sudo usermod -aG dialout $USER\", then log in again)",
                      plat_error_text(error));
        break;
    default:
        std::snprintf(out, size, "%s", plat_error_text(error));
        break;
    }
}

void describe_port_refusal(const char *name, int error, char *out, std::size_t size) {
    char why[256];
    port_refusal_reason(error, why, sizeof why);
    if (plat_port_refusal(error) == PORT_IN_USE)
        std::snprintf(out, size, "%s is %s", name, why);
    else
        std::snprintf(out, size, "cannot open %s: %s", name, why);
}

int open_port(const char *name) {
    close_port();
    int error = plat_port_open(name);
    if (error != 0)
        return error;
    std::snprintf(port_name, sizeof port_name, "%s", name);
    set_read_timeout(500);
    return 0;
}

void close_port() {
    plat_port_close();
    port_name[0] = '\0';
}

const char *port_in_use() { return port_name; }

void open_link(const char *name) {
    int error = open_port(name);
    if (error != 0) {
        // Nothing on standard output: the interface must not take this for
        // protocol. Standard error carries the one line a person needs.
        char text[PORT_NAME_SIZE + 256];
        describe_port_refusal(name, error, text, sizeof text);
        std::fprintf(stderr, "pawnbridge: %s\n", text);
        std::exit(error);
    }
    open_log(1);
}

void close_link() {
    close_log_final();
    close_port();
}

int set_read_timeout(int ms) {
    int previous = read_timeout;
    if (ms == 0)
        return previous;
    read_timeout = ms;
    plat_port_set_timeout(ms);
    return previous;
}

void send_device(const char *text) {
    log_entry(" --> ", text, std::strlen(text), "\r\n");
    plat_port_write(text, std::strlen(text));
    plat_port_write("\r\n", 2);
}

void read_device(char *buffer, std::size_t size) {
    // A run of end-of-game reports is taken one after another at 110 ms each;
    // the caller's time-out is restored once the run is over.
    int kept = -1;
    for (;;) {
        read_one_line(buffer, size);
        if (size < 3 || buffer[0] != 'M' || buffer[1] != '#')
            break;
        int previous = set_read_timeout(110);
        if (kept < 0)
            kept = previous;
        end_code = buffer[2] - '0';
    }
    if (kept >= 0)
        set_read_timeout(kept);
}
