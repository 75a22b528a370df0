// Interface lines through the command loop's dispatcher, with the device's
// answers from the same input.
//
// Input: interface text (lines separated by LF), a NUL byte, then the
// device's byte stream (escapes in fake_platform.h). Interface text that
// begins with the byte 0x01 runs without a log: another writer holds it.
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"
#include "platform.h"

namespace {

// "test" opens the file it names; only files in the scratch directory may
// be reached, so that no input names a device or pipe that never ends.
bool stays_in_scratch(const std::string &line) {
    return line.compare(0, 4, "test") != 0 || line.find('/') == std::string::npos;
}

void write_suite() {
    std::FILE *file = std::fopen("suite", "w");
    if (file == nullptr)
        fake::fail("cannot write the scratch test suite");
    std::fputs("title Back-rank mate\n"
               "setboard 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -\n"
               "solution d1d8\n"
               "setboard 8/8/8/4k3/8/8/4P3/4K3 b\n"
               "solution e5e4, e5d5\n",
               file);
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static bool suite_written = false;
    fuzz::InScratch in_scratch;
    if (!suite_written) {
        write_suite();
        suite_written = true;
    }
    fuzz::reset_bridge();
    fuzz::Parts parts = fuzz::split_at_nul(data, size);
    bool log_held = parts.head_size > 0 && parts.head[0] == 0x01;
    if (log_held) {
        close_log();
        fake::refuse_log(true);
        ++parts.head;
        --parts.head_size;
    }
    fake::set_interface_text(parts.head, parts.head_size, stays_in_scratch);
    fake::set_port_stream(parts.tail, parts.tail_size);

    // The command loop's own reading, without its start-up and shutdown.
    while (!game.quit_requested && plat_stdin_read_line(command_line, sizeof command_line)) {
        dispatch_command();
        fuzz::check_shared_buffers();
        fake::require(log_held || log_is_open() || std::strncmp(command_line, "force", 5) == 0,
                      "the log stayed closed after a line other than force");
    }
    fake::check_nothing_lost();
    return 0;
}
