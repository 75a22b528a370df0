// A whole test run: run_test_suite on a file written from the input, the
// device's answers from the same input.
//
// Input: the test file's text, a NUL byte, then the device's byte stream.
#include <cstdio>
#include <cstring>

#include "fuzz_common.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::InScratch in_scratch;
    fuzz::reset_bridge();
    fuzz::Parts parts = fuzz::split_at_nul(data, size);
    std::FILE *file = std::fopen("suite", "wb");
    if (file == nullptr)
        fake::fail("cannot write the test file");
    std::fwrite(parts.head, 1, parts.head_size, file);
    std::fclose(file);
    fake::set_port_stream(parts.tail, parts.tail_size);

    // At most one verdict per solution line (a piece of a long line counts).
    int solution_lines = 0;
    for (std::size_t at = 0; at + 8 <= parts.head_size; ++at)
        if (std::memcmp(parts.head + at, "solution", 8) == 0)
            ++solution_lines;

    run_test_suite("suite 10");
    fuzz::check_shared_buffers();
    fake::require(solved_count >= 0 && failed_count >= 0 &&
                      solved_count + failed_count <= solution_lines,
                  "more verdicts than problems");
    fake::check_nothing_lost();
    return 0;
}
