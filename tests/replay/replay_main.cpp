// Replays a fuzz target's corpus in-process, through the fake platform, as
// a quick test: every input must keep the bridge's invariants, and where a
// golden directory is given, the session log and the commands sent to the
// device must be byte for byte those recorded there.
//
//   replay_TARGET CORPUS_DIR [GOLDEN_DIR [--record]]
//
// --record writes the golden files afresh (NAME.log, NAME.dev) instead of
// comparing: done once, deliberately, when the bridge's behaviour is meant
// to change, and the difference read before it is committed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

std::string read_file(const std::filesystem::path &path, bool &found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::filesystem::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Where two texts first part, with a little of each around it.
void report_difference(const std::string &name, const char *what, const std::string &want,
                       const std::string &got) {
    std::size_t at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at])
        ++at;
    std::size_t from = at > 60 ? at - 60 : 0;
    std::fprintf(stderr, "%s: the %s differs at byte %zu\n  recorded: ...%s...\n  now:      ...%s...\n",
                 name.c_str(), what, at, want.substr(from, 120).c_str(), got.substr(from, 120).c_str());
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [GOLDEN_DIR [--record]]\n", argv[0]);
        return 2;
    }
    std::filesystem::path corpus = std::filesystem::absolute(argv[1]);
    std::filesystem::path golden = argc > 2 ? std::filesystem::absolute(argv[2]) : std::filesystem::path();
    bool record = argc > 3 && std::strcmp(argv[3], "--record") == 0;
    std::vector<std::filesystem::path> inputs;
    for (const auto &entry : std::filesystem::directory_iterator(corpus))
        if (entry.is_regular_file())
            inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    if (record)
        std::filesystem::create_directories(golden);

    int differing = 0;
    for (const auto &input : inputs) {
        bool found = false;
        std::string bytes = read_file(input, found);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
        if (golden.empty())
            continue;
        std::string name = input.filename().string();
        const struct {
            const char *what, *suffix;
            const std::string &now;
        } parts[] = {{"session log", ".log", fake::log()}, {"device commands", ".dev", fake::written()}};
        for (const auto &part : parts) {
            std::filesystem::path file = golden / (name + part.suffix);
            if (record) {
                write_file(file, part.now);
                continue;
            }
            bool there = false;
            std::string want = read_file(file, there);
            if (!there) {
                std::fprintf(stderr, "%s: no recorded %s (%s)\n", name.c_str(), part.what, file.c_str());
                ++differing;
            } else if (want != part.now) {
                report_difference(name, part.what, want, part.now);
                ++differing;
            }
        }
    }
    std::fprintf(stderr, "%zu inputs replayed%s; %d differences\n", inputs.size(),
                 record ? " and recorded" : "", differing);
    return differing == 0 ? 0 : 1;
}
