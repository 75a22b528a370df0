// load_position on any placement and side character.
//
// Input: the side character, the placement (up to the first NUL), then the
// device's answer stream.
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"

namespace {

// "PCW", up to 64 pieces of 3 characters with 12 kind letters, "B" and the
// side marker.
constexpr std::size_t LONGEST_POSITION_COMMAND = 3 + 12 + 64 * 2 + 1 + 1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    fuzz::start();
    fuzz::reset_bridge();
    char side = static_cast<char>(data[0]);
    fuzz::Parts parts = fuzz::split_at_nul(data + 1, size - 1);
    std::unique_ptr<char[]> placement = fuzz::c_string(parts.head, parts.head_size);
    fake::set_port_stream(parts.tail, parts.tail_size);

    if (!load_position(placement.get(), side)) {
        fake::require(fake::written().empty(), "a refused placement reached the device");
        return 0;
    }
    const std::string &sent = fake::written();
    fake::require(sent.size() >= 6 && sent.compare(0, 3, "PCW") == 0 &&
                      sent.compare(sent.size() - 2, 2, "\r\n") == 0,
                  "the position command is malformed");
    std::string command = sent.substr(0, sent.size() - 2);
    fake::require(command.size() <= LONGEST_POSITION_COMMAND, "the position command is too long");
    fake::require(command.find('B', 3) != std::string::npos, "the position command has no B");
    fake::require(command.find_first_not_of("PCWBNRQKpnbrqkabcdefgh12345678+-") == std::string::npos,
                  "the position command holds a stray character");
    fake::check_nothing_lost();
    return 0;
}
