// A whole UCI session: the GUI's lines (position and go lines of any length
// and content among them) through the UCI front end, with the device's
// answers from the same input; what the GUI is told is read back as a GUI
// reads it, in order with the lines it sent.
//
// Input: interface text (lines separated by LF; the opening "uci" is given),
// a NUL byte, then the device's byte stream (escapes in fake_platform.h).
// Interface text that begins with the byte 0x01 runs without a log: another
// writer holds it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "uci.h"
#include "xboard.h"

namespace {

// What the GUI is told during one input, kept in memory: the C library
// here lets standard output be replaced, and the bridge writes to the GUI
// through it alone.
char *told_text = nullptr;
std::size_t told_size = 0;

// An interface line taken by the bridge, and how much it had told the GUI
// at that moment.
struct Taken {
    std::size_t told_before;
    std::string line;
};
std::vector<Taken> taken;

void note_taken(const char *line) {
    std::fflush(stdout);
    taken.push_back({told_size, line});
}

bool blank(char c) { return c == ' ' || c == '\t'; }

// The words of a line, split at blanks.
std::vector<std::string> words(const std::string &line) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && blank(line[at]))
            ++at;
        std::size_t start = at;
        while (at < line.size() && !blank(line[at]))
            ++at;
        if (at > start)
            out.push_back(line.substr(start, at - start));
    }
    return out;
}

// The word a GUI line starts with, as the UCI loop reads it.
std::string first_word(const std::string &line) {
    std::vector<std::string> all = words(line);
    return all.empty() ? std::string() : all.front();
}

bool starts_with(const std::string &line, const char *head) { return line.rfind(head, 0) == 0; }

bool is_uci_move(const std::string &word) {
    if (word.size() != 4 && word.size() != 5)
        return false;
    auto file = [](char c) { return c >= 'a' && c <= 'h'; };
    auto rank = [](char c) { return c >= '1' && c <= '8'; };
    if (!file(word[0]) || !rank(word[1]) || !file(word[2]) || !rank(word[3]))
        return false;
    return word.size() == 4 || std::strchr("qrbn", word[4]) != nullptr;
}

// Lines the GUI is told, checked in order against the lines it sent: each
// "isready" answered before anything else, each "go" with one "bestmove",
// analysis only during a search, nothing after "quit" but the bestmove of
// the search it ended, and nothing in a form UCI does not have.
class Dialogue {
public:
    void sent(const std::string &line) {
        fake::require(!quit_sent_, "a line was read after quit");
        fake::require(!ready_owed_, "isready was not answered before the next line was read");
        std::string word = first_word(line);
        if (word == "isready") {
            ready_owed_ = true;
        } else if (word == "quit") {
            quit_sent_ = true;
        } else if (word == "uci") {
            ++uciok_owed_;
        } else if (word == "go") {
            fake::require(!searching_, "a go was read before the last search's bestmove");
            searching_ = true;
        }
    }

    void told(const std::string &line) {
        // After quit only the bestmove of a search that quit cut short: a
        // GUI may still wait for it (python-chess does, after stop).
        fake::require(!quit_sent_ || (searching_ && line == "bestmove 0000"),
                      "the GUI was told something after quit");
        fake::require(!ready_owed_ || line == "readyok", "isready was answered late");
        if (line == "readyok") {
            fake::require(ready_owed_, "readyok without isready");
            ready_owed_ = false;
        } else if (line == "uciok") {
            fake::require(uciok_owed_ > 0, "uciok without uci");
            --uciok_owed_;
        } else if (starts_with(line, "bestmove ")) {
            fake::require(searching_, "bestmove without go");
            std::vector<std::string> all = words(line);
            fake::require(all.size() == 2 && (all[1] == "0000" || is_uci_move(all[1])),
                          "bestmove without one move in UCI's form");
            searching_ = false;
        } else if (starts_with(line, "option name ")) {
            fake::require(uciok_owed_ > 0, "an option declared outside the answer to uci");
        } else if (starts_with(line, "info string ") || starts_with(line, "id name ") ||
                   starts_with(line, "id author ")) {
            // Free text.
        } else if (starts_with(line, "info ")) {
            fake::require(searching_, "analysis outside a search");
            std::vector<std::string> all = words(line);
            std::size_t pv = 0;
            while (pv < all.size() && all[pv] != "pv")
                ++pv;
            fake::require(pv + 1 != all.size(), "an info line with an empty pv");
            for (std::size_t i = pv + 1; i < all.size(); ++i)
                fake::require(is_uci_move(all[i]), "a pv word that is no move in UCI's form");
        } else {
            fake::fail("the GUI was told a line that UCI has no form for");
        }
    }

    void session_over() {
        fake::require(!ready_owed_, "isready was never answered");
        fake::require(uciok_owed_ == 0, "uci was never answered with uciok");
        // A search can only be left unanswered by the session's end.
        fake::require(!searching_ || game.quit_requested, "a go was never answered with bestmove");
    }

private:
    bool ready_owed_ = false;
    bool quit_sent_ = false;
    bool searching_ = false;
    int uciok_owed_ = 1;  // the opening "uci"
};

// The GUI's lines and what it was told, merged in the order they happened.
void check_dialogue(const std::string &told) {
    Dialogue dialogue;
    std::size_t next_taken = 0;
    std::size_t start = 0;
    while (start < told.size()) {
        std::size_t end = told.find('\n', start);
        fake::require(end != std::string::npos, "a line to the GUI was left without its line end");
        while (next_taken < taken.size() && taken[next_taken].told_before <= start)
            dialogue.sent(taken[next_taken++].line);
        dialogue.told(told.substr(start, end - start));
        start = end + 1;
    }
    while (next_taken < taken.size())
        dialogue.sent(taken[next_taken++].line);
    dialogue.session_over();
}

// Out of force mode the device only searches: between "U OFF" and the next
// "U ON" it is told nothing but to move now, so that no move or position
// the GUI sends ever starts it thinking. A port chosen anew is the one
// exception: from its wake-up (a space) the device there gets its start-up
// sequence, then force mode again.
void check_device_commands(const std::string &written) {
    bool searching = false;
    bool starting_up = false;
    std::size_t start = 0;
    while (start < written.size()) {
        std::size_t end = written.find("\r\n", start);
        if (end == std::string::npos)
            end = written.size();
        std::string command = written.substr(start, end - start);
        if (command == " ") {
            starting_up = true;
            searching = false;
        } else if (command == "U OFF") {
            searching = !starting_up;
        } else if (command == "U ON") {
            searching = false;
            starting_up = false;
        } else if (starting_up) {
            fake::require(command == "I" || command == "V" || command == "A OFF" || command == "X ON" ||
                              command == "H" || command.rfind("S", 0) == 0 || command.rfind("L ", 0) == 0,
                          "a command other than the start-up reached a device on a port chosen anew");
        } else {
            fake::require(!searching || command == "J", "a command other than J reached the device out of force mode");
        }
        start = end + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::InScratch in_scratch;
    fuzz::reset_bridge();
    fuzz::Parts parts = fuzz::split_at_nul(data, size);
    bool log_held = parts.head_size > 0 && parts.head[0] == 0x01;
    if (log_held) {
        close_log();
        fake::refuse_log(true);
        ++parts.head;
        --parts.head_size;
    }
    fake::set_interface_text(parts.head, parts.head_size);
    fake::set_port_stream(parts.tail, parts.tail_size);
    taken.clear();
    fake::on_line_read(note_taken);

    std::FILE *memory = open_memstream(&told_text, &told_size);
    if (memory == nullptr)
        fake::fail("cannot keep standard output in memory");
    std::FILE *kept = stdout;
    stdout = memory;
    run_uci_session("uci");
    std::fflush(memory);
    stdout = kept;
    std::string told(told_text, told_size);
    std::fclose(memory);
    std::free(told_text);
    told_text = nullptr;
    told_size = 0;
    fake::on_line_read(nullptr);

    fuzz::check_shared_buffers();
    fake::require(log_held || log_is_open(), "the log was closed during the session");
    fake::require(game.force_mode || game.quit_requested, "the device was left out of force mode between searches");
    check_dialogue(told);
    check_device_commands(fake::written());
    fake::check_nothing_lost();
    return 0;
}
