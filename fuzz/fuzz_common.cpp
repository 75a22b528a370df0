#include "fuzz_common.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"

namespace fuzz {

namespace {

std::string scratch;
int home_dir = -1;

void remove_scratch() {
    std::error_code ignored;
    if (!scratch.empty())
        std::filesystem::remove_all(scratch, ignored);
}

}  // namespace

void start() {
    static bool started = false;
    if (started)
        return;
    started = true;
    // Thinking lines, whispers and test echoes are of no interest here, and
    // writing them to a terminal would only slow the run down.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        fake::fail("cannot send standard output to /dev/null");
    char pattern[] = "/tmp/pawnbridge-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        fake::fail("cannot make a scratch directory");
    scratch = std::string(pattern) + "/";
    std::atexit(remove_scratch);
    home_dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home_dir < 0)
        fake::fail("cannot keep the working directory");
    open_link("COM1");
}

InScratch::InScratch() {
    start();
    if (chdir(scratch.c_str()) != 0)
        fake::fail("cannot enter the scratch directory");
}

InScratch::~InScratch() {
    if (fchdir(home_dir) != 0)
        fake::fail("cannot leave the scratch directory");
}

void reset_bridge() {
    // Everything the session keeps, and the xboard protocol's own state
    // (a UCI input then begins its own session).
    reset_session();
    begin_xboard_session();
    // A port chosen anew by the last input, or none at all: COM1 again.
    if (std::strcmp(port_in_use(), "COM1") != 0)
        open_port("COM1");
    fake::reset();
    set_read_timeout(500);
    if (!log_is_open())
        open_log(0);
    fake::reset();
}

Parts split_at_nul(const std::uint8_t *data, std::size_t size) {
    const void *nul = std::memchr(data, 0, size);
    if (nul == nullptr)
        return {data, size, data + size, 0};
    std::size_t head = static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - data);
    return {data, head, data + head + 1, size - head - 1};
}

std::unique_ptr<char[]> c_string(const std::uint8_t *data, std::size_t size, std::size_t room) {
    std::size_t total = size + 1 > room ? size + 1 : room;
    std::unique_ptr<char[]> copy(new char[total]);
    std::memset(copy.get(), 0, total);
    std::memcpy(copy.get(), data, size);
    return copy;
}

void check_shared_buffers() {
    fake::require(std::memchr(reply_line, 0, sizeof reply_line) != nullptr,
                  "reply_line lost its terminating zero");
    fake::require(std::memchr(command_line, 0, sizeof command_line) != nullptr,
                  "command_line lost its terminating zero");
}

const std::string &work_dir() { return scratch; }

}  // namespace fuzz
