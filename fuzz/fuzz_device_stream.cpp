// The device's byte stream through read_device: line framing into buffers of
// every size the bridge uses (and smaller), end-of-game reports taken up on
// the way and handed to report_result.
//
// Input: one byte of settings (bits 0-2 the buffer size, bits 3-4 the read
// time-out, bit 5 the side flag, bit 6 the clocks), then the device stream.
#include <cstring>

#include "fuzz_common.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"

namespace {

constexpr std::size_t BUFFER_SIZES[] = {1, 2, 3, 4, 6, 16, REPLY_LINE_SIZE, LINE_BUFFER_SIZE};
constexpr int TIMEOUTS[] = {110, 500, 1000, 60000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    fuzz::start();
    fuzz::reset_bridge();
    std::uint8_t settings = data[0];
    std::size_t buffer_size = BUFFER_SIZES[settings & 7];
    int timeout = TIMEOUTS[(settings >> 3) & 3];
    int side = (settings >> 5) & 1;
    int own = (settings & 0x40) ? 100 : 50;
    fake::set_port_stream(data + 1, size - 1);
    set_read_timeout(timeout);

    while (!fake::port_drained()) {
        std::unique_ptr<char[]> buffer(new char[buffer_size]);
        std::memset(buffer.get(), 'z', buffer_size);
        read_device(buffer.get(), buffer_size);
        fake::require(std::memchr(buffer.get(), 0, buffer_size) != nullptr,
                      "a device line was left without its terminating zero");
        fake::require(set_read_timeout(0) == timeout,
                      "the read time-out was not set back after a run of reports");
        report_result(side, own, 100);
        fake::require(end_code == 0, "report_result left a code pending");
    }
    fake::check_nothing_lost();
    return 0;
}
