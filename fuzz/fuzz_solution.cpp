// check_solution judging a run of device lines against one solution list.
//
// Input: the time limit as a signed byte, the solution list up to the first
// LF, then device lines separated by LF.
#include <cstring>

#include "fuzz_common.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"

namespace {

// The runner's placement / solution area.
constexpr std::size_t SOLUTION_AREA = 80;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    fuzz::start();
    fuzz::reset_bridge();
    int limit = static_cast<std::int8_t>(data[0]);
    ++data;
    --size;
    const void *lf = std::memchr(data, '\n', size);
    std::size_t list_size = lf ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(lf) - data) : size;
    std::unique_ptr<char[]> solutions(new char[SOLUTION_AREA]);
    std::memset(solutions.get(), 0, SOLUTION_AREA);
    std::memcpy(solutions.get(), data, list_size < SOLUTION_AREA - 1 ? list_size : SOLUTION_AREA - 1);

    std::size_t start = list_size + 1;
    while (start <= size) {
        lf = std::memchr(data + start, '\n', size - start);
        std::size_t end = lf ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(lf) - data) : size;
        std::unique_ptr<char[]> line = fuzz::c_string(data + start, end - start);
        line[std::strcspn(line.get(), "\r")] = '\0';
        bool listed = solutions[0] != '\0';
        int verdicts = solved_count + failed_count;
        int over = check_solution(line.get(), solutions.get(), limit);
        fake::require(std::memchr(solutions.get(), 0, SOLUTION_AREA) != nullptr,
                      "the solution list lost its terminating zero");
        int now = solved_count + failed_count;
        fake::require(now - verdicts <= (listed ? 1 : 0), "a verdict without a solution list");
        if (now != verdicts)
            fake::require(solutions[0] == '\0' && over == 0, "a verdict left the list or ended the wait");
        if (over)
            break;
        start = end + 1;
    }
    fake::require(solved_count + failed_count <= 1, "more than one verdict for one problem");
    return 0;
}
