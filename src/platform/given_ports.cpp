#include "given_ports.h"

#include <cstdlib>
#include <cstring>

int given_port_names(char separator, PortEntry *names, int max) {
    const char *at = std::getenv("PAWNBRIDGE_SEARCH_PORTS");
    if (!at)
        return -1;
    int count = 0;
    while (*at && count < max) {
        const char *end = std::strchr(at, separator);
        std::size_t length = end ? static_cast<std::size_t>(end - at) : std::strlen(at);
        if (length > 0 && length < PORT_NAME_SIZE) {
            std::memcpy(names[count].name, at, length);
            names[count].name[length] = '\0';
            names[count].modem_class = false;
            ++count;
        }
        at += length + (end ? 1 : 0);
    }
    return count;
}
