// The GUI's lines as they come in: each is logged in one form, wherever it
// is read, and timed, since a move it hands the device is timed from then.
#include <cstring>

#include "core.h"
#include "platform.h"

char command_line[LINE_BUFFER_SIZE];
long long line_arrived_at = 0;

void log_gui_line(const char *line, bool during_turn) {
    log_entry("==> ", line, std::strlen(line), during_turn ? " !!!\r\n" : "\r\n");
}

void take_gui_line(const char *line) {
    line_arrived_at = plat_monotonic_ms();
    note_gui_went_on();
    // A log closed by "force" is taken up again by the next line.
    if (!log_is_open())
        open_log(0);
    log_gui_line(line, false);
}

int starts_with(const char *line, const char *word) {
    return std::strncmp(line, word, std::strlen(word)) == 0;
}

int is_first_word(const char *line, const char *word) {
    std::size_t n = std::strlen(word);
    return std::strncmp(line, word, n) == 0 && (line[n] == '\0' || line[n] == ' ' || line[n] == '\t');
}
