# Sourced by scripts/demo and scripts/test: installs what a fresh Debian or
# Ubuntu machine lacks from the distribution's packages, in one line of
# output, or says what to type when it cannot.

# The packages for the build tools that are missing: a C++ compiler, cmake,
# make; with "gtest" also GoogleTest.
missing_packages() {
    local need=()
    command -v c++ >/dev/null 2>&1 || command -v g++ >/dev/null 2>&1 || need+=(g++)
    command -v cmake >/dev/null 2>&1 || need+=(cmake)
    command -v make >/dev/null 2>&1 || need+=(make)
    if [ "${1:-}" = gtest ] && [ ! -f /usr/include/gtest/gtest.h ]; then
        need+=(libgtest-dev)
    fi
    echo "${need[@]}"
}

# install_missing WHO PACKAGE...: installs the packages through apt-get, as
# root or through sudo; exits when that cannot be done.
install_missing() {
    local who=$1
    shift
    [ $# -gt 0 ] || return 0
    local command="apt-get install -y --no-install-recommends $*"
    local runner=()
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "$who: needs $* (a C++20 compiler, cmake 3.22 or later, make); install them with your system's package manager" >&2
        exit 1
    fi
    if [ "$(id -u)" -ne 0 ]; then
        # sudo may ask for a password in a terminal; elsewhere it must not.
        if command -v sudo >/dev/null 2>&1 && { [ -t 0 ] || sudo -n true 2>/dev/null; }; then
            runner=(sudo)
        else
            echo "$who: needs $*; install them, then run this again:" >&2
            if command -v sudo >/dev/null 2>&1; then
                echo "    sudo $command" >&2
            else
                echo "    su -c 'apt-get update && $command'" >&2
            fi
            exit 1
        fi
    fi
    echo "$who: installing $* (apt-get)"
    local log
    log=$(mktemp /tmp/pawnbridge-apt-XXXXXX)
    if ! { "${runner[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
        "${runner[@]}" env DEBIAN_FRONTEND=noninteractive $command; } >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        echo "$who: installing $* failed; the command was: ${runner[*]} $command" >&2
        rm -f "$log"
        exit 1
    fi
    rm -f "$log"
}
