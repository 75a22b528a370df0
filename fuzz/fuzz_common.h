// What every fuzz target shares: a bridge started once per process and put
// back into its start state before each input, and helpers to cut an input
// into its parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fake_platform.h"

namespace fuzz {

// Once per process: standard output to /dev/null, a scratch directory
// (removed at exit), the link opened on the fake port.
void start();

// The scratch directory as the working directory for one input, so that the
// files a target opens by bare name are its own. The fuzzer's own working
// directory (where it reads and writes its corpus) is restored afterwards.
class InScratch {
public:
    InScratch();
    ~InScratch();
    InScratch(const InScratch &) = delete;
    InScratch &operator=(const InScratch &) = delete;
};

// The session's state and the fake's streams as at start-up, with the log
// open and empty.
void reset_bridge();

// An input of two parts: the text before the first NUL byte, and the bytes
// after it (empty when there is no NUL).
struct Parts {
    const std::uint8_t *head;
    std::size_t head_size;
    const std::uint8_t *tail;
    std::size_t tail_size;
};
Parts split_at_nul(const std::uint8_t *data, std::size_t size);

// A zero-terminated copy of the bytes in a heap block of exactly
// max(size + 1, room) bytes, so that AddressSanitizer sees any write past it.
std::unique_ptr<char[]> c_string(const std::uint8_t *data, std::size_t size, std::size_t room = 0);

// reply_line and command_line still end within their areas.
void check_shared_buffers();

// The scratch directory's path, with a trailing slash.
const std::string &work_dir();

}  // namespace fuzz
