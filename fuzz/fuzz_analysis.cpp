// relay_analysis on a run of device lines, as the device's turn hands them
// over: cut at the first CR.
//
// Input: device lines separated by LF.
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"

namespace {

// The interface gets thinking lines of at most 127 characters.
constexpr std::size_t LONGEST_THINKING_LINE = 127;

void check_sent_lines(const std::string &log) {
    for (std::size_t at = log.find("<== "); at != std::string::npos; at = log.find("<== ", at + 1)) {
        std::size_t end = log.find("\r\n", at);
        fake::require(end != std::string::npos, "a line to the interface has no line end in the log");
        fake::require(end - at - 4 <= LONGEST_THINKING_LINE, "a thinking line passed 127 characters");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::start();
    fuzz::reset_bridge();
    std::size_t start = 0;
    while (start <= size) {
        const void *lf = std::memchr(data + start, '\n', size - start);
        std::size_t end = lf ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(lf) - data) : size;
        std::unique_ptr<char[]> line = fuzz::c_string(data + start, end - start);
        line[std::strcspn(line.get(), "\r")] = '\0';

        std::size_t logged = fake::log().size();
        float score_before = last_score;
        int book_before = in_book;
        if (relay_analysis(line.get()) == 0) {
            fake::require(fake::log().size() == logged, "a line that is no analysis was relayed");
            fake::require(in_book == book_before, "a line that is no analysis changed in_book");
            fake::require(std::memcmp(&last_score, &score_before, sizeof last_score) == 0,
                          "a line that is no analysis changed last_score");
        } else {
            fake::require(fake::log().size() > logged, "a relayed line did not reach the interface");
        }
        start = end + 1;
    }
    check_sent_lines(fake::log());
    return 0;
}
