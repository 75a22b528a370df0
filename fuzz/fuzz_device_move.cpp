// parse_device_move on any device line.
//
// Input: the line (up to the first NUL).
#include <cstring>

#include "fuzz_common.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"

namespace {

bool is_whole_coordinate_move(const char *text) {
    std::size_t length = std::strlen(text);
    if (length != 4 && length != 5)
        return false;
    bool squares = text[0] >= 'a' && text[0] <= 'h' && text[1] >= '1' && text[1] <= '8' &&
                   text[2] >= 'a' && text[2] <= 'h' && text[3] >= '1' && text[3] <= '8';
    return squares && (length == 4 || std::strchr("qrbn", text[4]) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::start();
    fuzz::Parts parts = fuzz::split_at_nul(data, size);
    // The caller's line holds at least 6 bytes.
    std::unique_ptr<char[]> line = fuzz::c_string(parts.head, parts.head_size, 6);
    std::size_t room = parts.head_size + 1 > 6 ? parts.head_size + 1 : 6;
    std::unique_ptr<char[]> before = fuzz::c_string(reinterpret_cast<std::uint8_t *>(line.get()), room - 1, room);

    const int untouched = -12345;
    int number = untouched;
    int book = 7;
    if (parse_device_move(&number, line.get(), &book)) {
        fake::require(is_whole_coordinate_move(line.get()), "a move reply became no coordinate move");
        fake::require(book == 0 || book == 1 || (book == 7 && before[0] == 'm'),
                      "the book flag took a value other than 0 or 1");
    } else {
        fake::require(std::memcmp(line.get(), before.get(), room) == 0,
                      "a refused line was changed");
        fake::require(number == untouched, "a refused line set the move number");
    }
    return 0;
}
