// Moves in both directions: the interface's coordinate moves into the
// device's move command, and the device's move replies back into
// coordinate moves.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "translate.h"

namespace {

// The device's answer to a move comes within a second when it takes it.
constexpr int MOVE_ANSWER_TIMEOUT_MS = 1000;
// Gap the server needs between "flag" and "adjourn".
constexpr int SERVER_PAUSE_MS = 55;

// A move token is read into 16 bytes, so at most 15 characters; the scans
// read one more so an overlong token shows itself by filling the area.
constexpr std::size_t MOVE_TOKEN_SIZE = 16;

// Squares and moves, whoever writes them: a file letter and a rank digit.
bool is_file(char c) { return c >= 'a' && c <= 'h'; }
bool is_rank(char c) { return c >= '1' && c <= '8'; }
bool is_square(const char *at) { return is_file(at[0]) && is_rank(at[1]); }

// The device writes a promotion's piece in either case: q, r, b or n in
// the GUI's form, '\0' for any other letter.
char promotion_letter(char piece) {
    char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(piece)));
    return letter == 'q' || letter == 'r' || letter == 'b' || letter == 'n' ? letter : '\0';
}

// The device's move token (squares at 0-1 and 3-4) as a coordinate move,
// in 6 bytes at out.
void write_coordinate_move(char *out, const char *token, char promotion) {
    out[0] = token[0];
    out[1] = token[1];
    out[2] = token[3];
    out[3] = token[4];
    out[4] = promotion;
    out[5] = '\0';
}

}  // namespace

int begins_with_squares(const char *line) { return is_square(line) && is_square(line + 2); }

int is_uci_move_word(const char *word, int length) {
    if (length != 4 && length != 5)
        return 0;
    if (!is_square(word) || !is_square(word + 2))
        return 0;
    return length == 4 || std::strchr("qrbn", word[4]) != nullptr;
}

int uci_move(const char *device_move, char *out) {
    const char *m = device_move;
    out[0] = '\0';
    // The third character is the device's separator, whatever it is.
    if (!is_square(m) || m[2] == '\0' || !is_square(m + 3))
        return 0;
    int length = 5;
    char promotion = '\0';
    if (m[5] == '/') {
        promotion = promotion_letter(m[6]);
        if (promotion == '\0')
            return 0;
        length = 7;
    }
    char after = m[length];
    if (after != '\0' && after != ' ' && after != '\t')
        return 0;
    write_coordinate_move(out, m, promotion);
    return length;
}

int send_move(const char *move) {
    // "M", the four square characters, and "/" with an upper-case promotion
    // letter: at most 7 characters.
    char command[8];
    std::size_t length = 0;
    command[length++] = 'M';
    std::size_t i = 0;
    for (; i < 4 && move[i] != '\0'; ++i)
        command[length++] = move[i];
    if (i == 4 && move[4] != '\0') {
        command[length++] = '/';
        command[length++] = static_cast<char>(std::toupper(static_cast<unsigned char>(move[4])));
    }
    command[length] = '\0';
    send_device(command);

    int previous = set_read_timeout(MOVE_ANSWER_TIMEOUT_MS);
    read_device(reply_line);
    set_read_timeout(previous);

    if (reply_line[0] == '\0')
        return 0;
    if (std::strncmp(reply_line, "New Game", 8) == 0) {
        // The device has started a new game on its own: on a server that
        // means the game cannot go on, so claim the flag and adjourn.
        front_end->result("flag");
        plat_sleep_ms(SERVER_PAUSE_MS);
        front_end->result("adjourn");
        plat_sleep_ms(SERVER_PAUSE_MS);
        return 0;
    }
    return 1;
}

int parse_device_move(int *number_out, char *line, int *book_out) {
    static_assert(MOVE_TOKEN_SIZE == 16, "the scan widths below follow the token area");
    int number = 0;
    char token[MOVE_TOKEN_SIZE + 1] = {};
    char marker = '\0';

    bool book_layout = false;
    if (std::sscanf(line, "m %d %16s", &number, token) == 2) {
        book_layout = false;
    } else if (std::sscanf(line, "M %d, %16s %c", &number, token, &marker) >= 2 ||
               std::sscanf(line, "M %d %16s %c", &number, token, &marker) >= 2) {
        book_layout = true;
    } else {
        return 0;
    }
    if (std::strlen(token) >= MOVE_TOKEN_SIZE)
        return 0;

    // Character 2 is the device's separator ("-", "x", ...) and is not looked at.
    if (!is_square(token) || !is_square(token + 3))
        return 0;

    if (book_layout)
        *book_out = marker == '|' ? 1 : 0;

    char promotion = '\0';
    if (token[5] == '/') {
        promotion = promotion_letter(token[6]);
        if (promotion == '\0')
            return 0;
    }

    write_coordinate_move(line, token, promotion);
    *number_out = number;
    return 1;
}
