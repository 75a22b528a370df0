// The serial line to the device: one line at a time in each direction, every
// line logged, end-of-game reports taken up wherever they arrive.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pawnbridge.h"
#include "platform.h"

char reply_line[REPLY_LINE_SIZE];
int end_code = 0;

namespace {

int read_timeout = 0;

// Bytes of an overlong device line that do not fit the reader's buffer are
// dropped up to the line end, but still logged, in pieces of this size.
constexpr std::size_t SPILL_SIZE = 256;

void log_read_error(int error) {
    char note[32];
    int length = std::snprintf(note, sizeof note, "(err: %d)", error);
    log_write(note, static_cast<std::size_t>(length));
}

// Reads and logs one line; never stores more than size - 1 bytes.
void read_one_line(char *buffer, std::size_t size) {
    int error = 0;
    std::size_t stored = 0;
    bool overflowed = false;
    char spill[SPILL_SIZE];
    std::size_t spilled = 0;
    for (;;) {
        char byte = 0;
        int got = plat_port_read_byte(&byte);
        if (got < 0)
            error = -got;
        if (got <= 0)
            break;
        if (stored + 1 < size) {
            buffer[stored++] = byte;
        } else {
            if (!overflowed) {
                // The head of the line is logged now; its tail follows as it comes.
                overflowed = true;
                log_text(" <-- ");
                log_write(buffer, stored);
            }
            spill[spilled++] = byte;
            if (spilled == SPILL_SIZE) {
                log_write(spill, spilled);
                spilled = 0;
            }
        }
        if (byte == '\n')
            break;
    }
    if (size > 0)
        buffer[stored < size ? stored : size - 1] = '\0';

    if (overflowed) {
        log_write(spill, spilled);
        if (error) {
            log_read_error(error);
        }
        return;
    }
    if (stored == 0 && !error) {
        note_no_answer(read_timeout);
        return;
    }
    log_text(" <-- ");
    if (error) {
        log_read_error(error);
        log_write(buffer, stored);
    } else {
        log_write(buffer, stored);
    }
}

}  // namespace

void note_no_answer(int waited_ms) {
    log_text(" <-- ");
    // Short time-outs are routine (polling the device); only long ones are
    // worth a note.
    if (waited_ms > 500) {
        char note[48];
        int length = std::snprintf(note, sizeof note, "(Timeout %d msecs)\r\n", waited_ms);
        log_write(note, static_cast<std::size_t>(length));
    }
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
    log_text(" --> ");
    log_text(text);
    log_text("\r\n");
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
