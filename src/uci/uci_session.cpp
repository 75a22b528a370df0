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
// kept on every move; "setoption name Port value NAME": the device's port.
// An option the bridge does not have is only logged.
void handle_setoption(const char *line) {
    char name[64];
    const char *value = nullptr;
    if (!read_setoption(line, name, sizeof name, &value) || value == nullptr)
        return;
    if (strncasecmp_ascii(name, "Move Overhead", sizeof "Move Overhead") == 0) {
        char *end = nullptr;
        long long ms = std::strtoll(value, &end, 10);
        if (end != value)
            game_move_overhead(ms < 0 ? 0 : ms > MOVE_OVERHEAD_MAX_MS ? MOVE_OVERHEAD_MAX_MS : ms);
    } else if (strncasecmp_ascii(name, "Port", sizeof "Port") == 0) {
        choose_port(value);
        // The device on the port starts its own game: the next position
        // is given afresh.
        reset_held_game();
    }
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
    char port[PORT_NAME_SIZE + 48];
    std::snprintf(port, sizeof port, "option name Port type string default %s", port_option_value());
    send_interface(port);
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

int read_setoption(const char *line, char *name, std::size_t name_size, const char **value) {
    const char *at = line + 9;  // after "setoption"
    int length = 0;
    const char *word = next_word(at, length);
    if (!word_is(word, length, "name"))
        return 0;
    // The name runs to "value" (or the end), blanks inside it kept.
    const char *start = next_word(at, length);
    const char *end = start + length;
    *value = nullptr;
    for (;;) {
        const char *before = at;
        word = next_word(at, length);
        if (length == 0)
            break;
        if (word_is(word, length, "value")) {
            while (*at == ' ' || *at == '\t')
                ++at;
            *value = at;
            at = before;
            break;
        }
        end = word + length;
    }
    std::size_t size = static_cast<std::size_t>(end - start);
    if (size == 0 || size >= name_size)
        return 0;
    std::memcpy(name, start, size);
    name[size] = '\0';
    return 1;
}

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
