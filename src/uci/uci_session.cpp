// The UCI reader: a session whose GUI opens with "uci". Between searches
// the device stays in force mode, so that nothing but "go" makes it think.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "translate.h"
#include "uci.h"
#include "uci_parts.h"

namespace {

// What "Move Overhead" may be set to, in ms.
constexpr long long MOVE_OVERHEAD_MAX_MS = 5000;

char uci_line[UCI_LINE_SIZE];

// Letters compared without their case, in ASCII whatever the locale.
int strncasecmp_ascii(const char *a, const char *b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        int x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        x = x >= 'A' && x <= 'Z' ? x + 32 : x;
        y = y >= 'A' && y <= 'Z' ? y + 32 : y;
        if (x != y || x == 0)
            return x - y;
    }
    return 0;
}

// "setoption name Move Overhead value N": the GUI's side of the reserve
// kept on every move. Option names are not case-sensitive; an option the
// bridge does not have is only logged.
void handle_setoption(const char *line) {
    const char *at = line + 9;  // after "setoption"
    int length = 0;
    const char *word = next_word(at, length);
    if (!word_is(word, length, "name"))
        return;
    const char *name = next_word(at, length);
    const char *name_end = name + length;
    const char *value = nullptr;
    for (;;) {
        const char *before = at;
        word = next_word(at, length);
        if (length == 0)
            break;
        if (word_is(word, length, "value")) {
            value = at;
            at = before;
            break;
        }
        name_end = word + length;
    }
    static const char OVERHEAD[] = "Move Overhead";
    std::size_t name_length = static_cast<std::size_t>(name_end - name);
    if (name_length != sizeof OVERHEAD - 1 || strncasecmp_ascii(name, OVERHEAD, name_length) != 0 ||
        value == nullptr)
        return;
    char *end = nullptr;
    long long ms = std::strtoll(value, &end, 10);
    if (end == value)
        return;
    game_move_overhead(ms < 0 ? 0 : ms > MOVE_OVERHEAD_MAX_MS ? MOVE_OVERHEAD_MAX_MS : ms);
}

void new_game() {
    game_force_on();
    // A new game may come with another time control: its level is chosen
    // afresh.
    reset_search_clock();
    start_from_the_start();
    relay_forget_score();
}

void handle_uci() {
    send_interface("id name Pawnbridge");
    send_interface("id author the Pawnbridge developers");
    send_interface("option name Move Overhead type spin default 100 min 0 max 5000");
    send_interface("uciok");
    std::fflush(stdout);
}

void dispatch_uci_line(const char *line) {
    take_gui_line(line);
    while (*line == ' ' || *line == '\t')
        ++line;
    if (is_first_word(line, "isready"))
        send_interface("readyok");
    else if (is_first_word(line, "position"))
        uci_position(line);
    else if (is_first_word(line, "go"))
        uci_go(line);
    else if (is_first_word(line, "ucinewgame"))
        new_game();
    else if (is_first_word(line, "quit"))
        game_request_quit();
    else if (is_first_word(line, "uci"))
        handle_uci();
    else if (is_first_word(line, "setoption"))
        handle_setoption(line);
    // "stop" with nothing to stop, "debug", "register", "ponderhit" and
    // anything else: logged, nothing more.
}

}  // namespace

int is_uci_opening(const char *line) {
    while (*line == ' ' || *line == '\t')
        ++line;
    return is_first_word(line, "uci");
}

void run_uci_session(const char *first_line) {
    use_uci_front_end();
    reset_held_game();
    reset_search_clock();
    dispatch_uci_line(first_line);
    // The device shows its thinking, which UCI's info lines carry, and
    // waits in force mode for the first search.
    set_post_mode(3);
    game_force_on();
    while (!game.quit_requested) {
        std::fflush(stdout);
        wait_for_interface();
        if (!plat_stdin_read_line(uci_line, sizeof uci_line))
            break;
        dispatch_uci_line(uci_line);
    }
}
