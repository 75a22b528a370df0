// What the session log shows of the device's part in each position change
// of an analysis.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct ChangeTraffic {
    std::vector<std::string> commands;  // as the bridge sent them
    long bytes = 0;                     // commands and device lines, both ways, CR LF included
};

// For each of the GUI's lines in `sent`, in order, the device commands and
// the bytes on the line between its "==> " entry in the log and the next
// "==> " entry or the first thinking line printed. A line not found, and
// every line after it, has no entry in the result.
std::vector<ChangeTraffic> change_traffic(const std::string &log, const std::vector<std::string> &sent);

}  // namespace bench
