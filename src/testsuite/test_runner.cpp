// Test suites: a file of positions with their solution moves, each set up on
// the device and judged from the device's own analysis lines.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core.h"
#include "device.h"
#include "testsuite.h"
#include "translate.h"

int solved_count = 0;
int failed_count = 0;

namespace {

constexpr int DEFAULT_LIMIT_SECONDS = 30;
constexpr std::size_t NAME_SIZE = 256;
// Placement and solution list share one 80-byte area; the castling word,
// read only to get past it, has 8.
constexpr std::size_t FIELD_SIZE = 80;
constexpr std::size_t CASTLING_SIZE = 8;

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool is_separator(char c) { return c == ',' || is_space(c); }

// Copies the solution list that follows "solution" and its blanks, cut to
// fit the area.
void copy_solutions(char *solutions, const char *line) {
    const char *list = line + 8;
    while (is_space(*list))
        ++list;
    std::size_t length = std::strlen(list);
    if (length > FIELD_SIZE - 1)
        length = FIELD_SIZE - 1;
    std::memcpy(solutions, list, length);
    solutions[length] = '\0';
}

// Reads one line of the test file as text mode reads it on Windows, where
// such files are often written: CR LF becomes LF, a CR alone stays. Like
// fgets: at most size - 1 characters, the LF included, then the zero;
// nullptr at the end of the file with nothing read.
char *read_text_line(char *line, std::size_t size, std::FILE *file) {
    std::size_t length = 0;
    while (length + 1 < size) {
        int c = std::getc(file);
        if (c == EOF)
            break;
        if (c == '\r') {
            int next = std::getc(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    if (length == 0)
        return nullptr;
    line[length] = '\0';
    return line;
}

// The device's search for one problem: reads its lines until one ends the
// wait.
void run_problem(char *line, std::size_t line_size, char *solutions, int limit) {
    // An empty list can never give a verdict, and at the analysis level the
    // device searches until it is told to move. Once its search time reaches
    // the limit it is told so (once), and the problem ends uncounted with its
    // move instead of never. A list of separators alone is not empty: it
    // fails at the limit like any other, and the verdict's own move-now is
    // the only one then; a second would reach the device after its move and
    // start a search for the other side.
    bool undecidable = solutions[0] == '\0';
    move_now();
    for (;;) {
        read_device(line, line_size);
        if (char *cr = std::strchr(line, '\r'))
            *cr = '\0';
        if (check_solution(line, solutions, limit))
            return;
        AnalysisLine fields;
        if (undecidable && parse_analysis_line(line, &fields) && analysis_seconds(fields) >= limit) {
            move_now();
            undecidable = false;
        }
    }
}

}  // namespace

void run_test_suite(const char *argument) {
    static_assert(NAME_SIZE == 256 && FIELD_SIZE == 80 && CASTLING_SIZE == 8,
                  "the scan widths below follow the areas");
    int limit = DEFAULT_LIMIT_SECONDS;
    int skip = 0;
    char name[NAME_SIZE + 1] = {};
    // A name that fills its area may have been cut: no file is opened then.
    if (std::sscanf(argument, "%256s %d", name, &limit) < 1 || std::strlen(name) >= NAME_SIZE)
        return;

    std::FILE *file = std::fopen(name, "r");
    if (file == nullptr)
        return;

    set_post_mode(4);
    send_test_suite_level();
    failed_count = 0;
    solved_count = 0;

    char line[LINE_BUFFER_SIZE];
    char field[FIELD_SIZE + 1];  // placement, then solution list; one spare byte
    char castling[CASTLING_SIZE];
    char side = '\0';
    char en_passant = '\0';
    while (read_text_line(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, "title", 5) == 0) {
            // The title keeps its own newline, so an empty line follows it.
            send_interface(std::strlen(line) >= 6 ? line + 6 : "");
            skip = 0;
        } else if (std::sscanf(line, "setboard %80s %c %7s %c", field, &side, castling,
                               &en_passant) >= 2) {
            // A placement too long for its area is refused, not loaded cut.
            if (std::strlen(field) >= FIELD_SIZE ||
                !load_position(field, static_cast<char>(std::tolower(
                                          static_cast<unsigned char>(side))))) {
                send_interface("Illegal forsythe position!");
                skip = 1;
            }
        } else if (std::strncmp(line, "solution", 8) == 0 && !skip) {
            std::puts(line);
            copy_solutions(field, line);
            run_problem(line, sizeof line, field, limit);
        }
    }

    std::printf("Test complete: %d out of %d problems solved within %d seconds\n\n", solved_count,
                solved_count + failed_count, limit);
    std::fclose(file);
}

int check_solution(const char *line, char *solutions, int limit) {
    std::puts(line);
    // A run takes minutes: the interface sees each device line as it comes,
    // not all of them when the command loop reads again.
    std::fflush(stdout);
    if (std::strstr(line, "Book"))
        return 0;

    AnalysisLine fields;
    if (!parse_analysis_line(line, &fields))
        return 1;
    long long elapsed = analysis_seconds(fields);
    const char *pv = line + fields.pv_offset;
    bool pv_complete = pv[0] && pv[1] && pv[2] && pv[3] && pv[4];

    const char *entry = solutions;
    for (;;) {
        if (*entry == '\0')
            return 0;
        if (elapsed >= limit)
            break;
        // The device writes a separator between the two squares of its
        // moves; the solution entries have none.
        if (pv_complete && entry[0] == pv[0] && entry[1] == pv[1] && entry[2] == pv[3] &&
            entry[3] == pv[4])
            break;
        while (*entry != '\0' && !is_separator(*entry))
            ++entry;
        while (is_separator(*entry))
            ++entry;
    }

    if (elapsed < limit) {
        send_interface("Solved!");
        ++solved_count;
    } else {
        send_interface("Failed!");
        ++failed_count;
    }
    // One verdict per problem; the device moves and ends its search.
    solutions[0] = '\0';
    move_now();
    return 0;
}

void reset_test_counts() {
    solved_count = 0;
    failed_count = 0;
}
