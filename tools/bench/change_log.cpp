#include "change_log.hpp"

#include <cctype>

namespace bench {

namespace {

bool starts_with(const std::string &text, std::size_t at, const char *head) {
    return text.compare(at, std::char_traits<char>::length(head), head) == 0;
}

// Where an entry of the log starts.
bool is_entry(const std::string &text, std::size_t at) {
    return starts_with(text, at, " --> ") || starts_with(text, at, " <-- ") || starts_with(text, at, "==> ") ||
           starts_with(text, at, "<== ");
}

// The log's entries, one a line. A read that got nothing writes its " <-- "
// with no line end, so the next entry follows on the same line: it is
// split off, and the empty read left as " <-- ".
std::vector<std::string> entries(const std::string &log) {
    std::vector<std::string> found;
    for (std::size_t start = 0; start < log.size();) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        std::string line = log.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        while (starts_with(line, 0, " <-- ") && is_entry(line, 5)) {
            found.push_back(" <-- ");
            line.erase(0, 5);
        }
        found.push_back(line);
        start = end + 1;
    }
    return found;
}

}  // namespace

std::vector<ChangeTraffic> change_traffic(const std::string &log, const std::vector<std::string> &sent) {
    std::vector<ChangeTraffic> traffic;
    bool collecting = false;
    for (const std::string &line : entries(log)) {
        if (collecting) {
            ChangeTraffic &change = traffic.back();
            bool thinking = starts_with(line, 0, "<== ") && line.size() > 4 &&
                            std::isdigit(static_cast<unsigned char>(line[4]));
            if (starts_with(line, 0, " --> ")) {
                change.commands.push_back(line.substr(5));
                change.bytes += static_cast<long>(line.size() - 5 + 2);
            } else if (starts_with(line, 0, " <-- ")) {
                // The bridge's notes of a read that timed out or failed are
                // no bytes from the device.
                if (line.size() > 5 && !starts_with(line, 5, "(Timeout ") && !starts_with(line, 5, "(err: "))
                    change.bytes += static_cast<long>(line.size() - 5 + 2);
            } else if (starts_with(line, 0, "==> ") || thinking) {
                collecting = false;
            }
        }
        if (!collecting && traffic.size() < sent.size() && line == "==> " + sent[traffic.size()]) {
            traffic.emplace_back();
            collecting = true;
        }
    }
    return traffic;
}

}  // namespace bench
