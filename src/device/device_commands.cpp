// The device's fixed commands and the small operations that send them. Each
// answer is read (and so logged) even where nothing in it is used.
#include <cstdio>
#include <cstring>

#include "core.h"
#include "device.h"
#include "platform.h"

namespace {

// The digit (fifth character) is written in before each send.
char level_commands[5][6] = {"L TR1", "L AT1", "L SD1", "L FD1", "L AN8"};
char detail_command[3] = "S1";

// "N" is repeated after an answer-less round; a device that stays silent
// this many rounds in a row is taken as gone, so the bridge keeps answering
// the interface instead of waiting for ever.
constexpr int NEW_GAME_SILENT_ROUNDS = 3;
// A device that talks but never says "New Game" is given up on after this
// many lines.
constexpr int NEW_GAME_MAX_LINES = 64;

// Counts the answers of the start-up sequence.
int startup_answers = 0;

void send_and_read(const char *command) {
    send_device(command);
    read_device(reply_line);
    if (reply_line[0] != '\0')
        ++startup_answers;
}

}  // namespace

int is_device_answer(const char *line, const char *command) {
    std::size_t length = std::strlen(line);
    if (length == 0 || line[length - 1] != '\n')
        return 0;
    std::size_t text = std::strcspn(line, "\r\n");
    if (text == 0)
        return 0;
    return !(text == std::strlen(command) && std::strncmp(line, command, text) == 0);
}

int init_device() {
    begin_start_up();
    return finish_start_up();
}

int begin_start_up() {
    startup_answers = 0;
    send_device(" ");
    plat_sleep_ms(55);
    set_force_mode(0);
    return is_device_answer(reply_line, "U OFF");
}

int identify_device(int wait_ms) {
    send_device(" ");
    plat_sleep_ms(55);
    send_device("I");
    int kept = set_read_timeout(wait_ms);
    read_device(reply_line);
    set_read_timeout(kept);
    return is_device_answer(reply_line, "I");
}

int finish_start_up() {
    plat_sleep_ms(55);
    send_and_read("I");
    plat_sleep_ms(55);
    set_post_mode(0);
    plat_sleep_ms(55);
    send_and_read("A OFF");
    plat_sleep_ms(55);
    send_and_read("X ON");
    return startup_answers;
}

void new_device_game() {
    end_code = 0;
    set_read_timeout(500);
    plat_sleep_ms(55);
    send_device("N");
    int silent_rounds = 0;
    for (int lines = 0; lines < NEW_GAME_MAX_LINES; ++lines) {
        read_device(reply_line);
        if (reply_line[0] == '\0') {
            if (++silent_rounds >= NEW_GAME_SILENT_ROUNDS)
                return;
            send_device("");
            send_device("N");
            continue;
        }
        silent_rounds = 0;
        // The whisper carries the device's text whole; only its line end is
        // replaced by our own, so that a cut line never leaves the output
        // line open. A CR inside the text is the device's and stays.
        std::size_t text = std::strlen(reply_line);
        if (text > 0 && reply_line[text - 1] == '\n')
            --text;
        if (text > 0 && reply_line[text - 1] == '\r')
            --text;
        front_end->whisper(reply_line, text);
        if (std::strncmp(reply_line, "New Game", 8) == 0)
            return;
    }
}

void set_device_level(int kind, int number) {
    if (kind < 0 || kind > 4 || number < 1 || number > 8)
        return;
    char *command = level_commands[kind];
    command[4] = static_cast<char>('0' + number);
    send_device(command);
    read_device(reply_line);
    read_device(reply_line);
    front_end->whisper(command, std::strlen(command));
}

int display_detail = 0;

void reset_device_state() { display_detail = 0; }

void set_post_mode(int detail) {
    if (detail <= 0) {
        send_and_read("V");
        display_detail = 0;
        return;
    }
    send_and_read("H");
    // Detail 5 or more leaves the device's own detail: at least "on".
    display_detail = detail <= 4 ? detail : display_detail > 0 ? display_detail : 1;
    if (detail <= 4) {
        detail_command[1] = static_cast<char>('0' + detail);
        send_and_read(detail_command);
    }
}

void set_force_mode(int on) { send_and_read(on ? "U ON" : "U OFF"); }

void move_now() { send_device("J"); }

void take_back() { send_and_read("T"); }
