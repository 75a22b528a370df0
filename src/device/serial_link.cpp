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

void open_link() {
    int error = plat_port_open();
    if (error != 0) {
        // Nothing on standard output: the interface must not take this for
        // protocol. Standard error carries the one line a person needs.
        const char *port = plat_port_name();
        switch (plat_port_refusal(error)) {
        case PORT_IN_USE:
            std::fprintf(stderr, "pawnbridge: %s is in use by another program\n", port);
            break;
        case PORT_NOT_PERMITTED:
            // Serial ports belong to the dialout group on Debian and Ubuntu.
            std::fprintf(stderr,
                         "pawnbridge: cannot open %s: %s (the usual mend: join the dialout group with "
                         "\"sudo usermod -aG dialout $USER\", then log in again)\n",
                         port, plat_error_text(error));
            break;
        default:
            std::fprintf(stderr, "pawnbridge: cannot open %s: %s\n", port, plat_error_text(error));
            break;
        }
        std::exit(error);
    }
    set_read_timeout(500);
    open_log(1);
}

void close_link() {
    close_log_final();
    plat_port_close();
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
