#!/usr/bin/env bash
# Runs a command against a fresh emulator:
#   with_emulator.sh EMULATOR [emulator options] -- COMMAND [arguments]
# The emulator's port is linked in a temporary directory, which is also the
# command's working directory, and is handed over as PAWNBRIDGE_COM1. The
# run fails when the command fails, or when the emulator does not end cleanly
# on SIGTERM and take its link with it.
set -u
emulator=$1
shift
emulator_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    emulator_args+=("$1")
    shift
done
shift
dir=$(mktemp -d /tmp/pawnbridge-tools-XXXXXX)
"$emulator" --link "$dir/com1" "${emulator_args[@]}" >"$dir/emulator.out" 2>"$dir/emulator.err" &
emulator_pid=$!
trap 'kill -TERM $emulator_pid 2>/dev/null; rm -rf "$dir"' EXIT
# The emulator links its port once the line is up; on a busy machine that
# can take a while, so only the emulator's end cuts the wait short.
for _ in $(seq 600); do
    [ -L "$dir/com1" ] && break
    kill -0 $emulator_pid 2>/dev/null || break
    sleep 0.05
done
if [ ! -L "$dir/com1" ]; then
    echo "the emulator did not start:" >&2
    cat "$dir/emulator.err" >&2
    exit 1
fi

(cd "$dir" && PAWNBRIDGE_COM1="$dir/com1" "$@")
status=$?

kill -TERM $emulator_pid
wait $emulator_pid
emulator_status=$?
if [ $emulator_status -ne 0 ]; then
    echo "emulator ended with status $emulator_status" >&2
    cat "$dir/emulator.err" >&2
    status=1
fi
if [ -e "$dir/com1" ] || [ -L "$dir/com1" ]; then
    echo "emulator left its link behind" >&2
    status=1
fi
exit $status
