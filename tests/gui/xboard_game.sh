#!/usr/bin/env bash
# One short game in the real xboard, in its default protocol (it opens with
# "protover 2"), under Xvfb: pawnbridge with the emulated device against
# fairymax. Passes only when xboard's next command came within 2 s of
# "protover 2", the saved game has a result, neither xboard nor the bridge
# saw an illegal move or an engine line xboard could not use, and the
# session log ends with "Session ends".
#
#   tests/gui/xboard_game.sh BUILD_DIR
#
# Needs xboard, fairymax, xvfb and xauth (Debian's packages);
# scripts/test-xboard installs them and runs this.
set -u
build=$(cd "${1:?build directory}" && pwd)
work=$(mktemp -d /tmp/pawnbridge-xboard-XXXXXX)
fail() {
    echo "xboard game: FAILED: $*" >&2
    echo "  (kept in $work)" >&2
    exit 1
}

"$build/tools/sapphire-emu" --link "$work/com1" --speed 20 >"$work/emulator.out" 2>"$work/emulator.err" &
emulator=$!
trap 'kill $emulator 2>/dev/null; wait $emulator 2>/dev/null' EXIT
for _ in $(seq 100); do
    [ -L "$work/com1" ] && break
    sleep 0.05
done
[ -L "$work/com1" ] || fail "the emulator did not start"

# A one-minute game, adjudicated a draw after 40 moves if nothing decides it
# sooner, so that the run stays short on a busy machine.
started=$(date +%s)
# HOME is the run's own: xboard keeps its settings there on exit, and
# none from an earlier run may change its defaults.
HOME=$work PAWNBRIDGE_COM1=$work/com1 timeout 150 xvfb-run -a -s "-screen 0 1024x768x24" \
    /usr/games/xboard -fcp "$build/pawnbridge" -fd "$work" -scp /usr/games/fairymax \
    -mg 1 -tc 1 -inc 0 -adjudicateDrawMoves 40 -xexit -size Small \
    -debug -nameOfDebugFile "$work/debug.txt" -sgf "$work/game.pgn" \
    >"$work/xboard.out" 2>"$work/xboard.err" || fail "xboard ended with status $?"
echo "xboard game: played in $(($(date +%s) - started)) s"

debug=$work/debug.txt
[ -s "$debug" ] || fail "no debug log"
# The debug log stamps each line to an engine with milliseconds since start;
# "protover 2" goes out in one write with "xboard", so the stamp of the
# first engine's "xboard" line is when it was sent.
sent=$(grep -m1 -E '^[0-9]+ >first : xboard$' "$debug" | cut -d' ' -f1)
next=$(grep -E '^[0-9]+ >first : ' "$debug" | sed -n 2p | cut -d' ' -f1)
[ -n "$sent" ] && [ -n "$next" ] || fail "no handshake in the debug log"
wait_ms=$((next - sent))
echo "xboard game: next command $wait_ms ms after protover 2"
[ "$wait_ms" -lt 2000 ] || fail "xboard waited $wait_ms ms for the features"

result=$(grep -m1 -o '^\[Result "[^"]*"\]' "$work/game.pgn" 2>/dev/null)
echo "xboard game: ${result:-no result}"
case $result in
*'"1-0"'* | *'"0-1"'* | *'"1/2-1/2"'*) ;;
*) fail "the saved game has no result" ;;
esac

if grep -E 'Illegal move|IllegalMove|ImpossibleMove|out of turn|Failed to parse|could not be parsed' "$debug"; then
    fail "xboard saw an illegal move or a line it could not use"
fi
if grep -a -E '^<== Illegal move' "$work/NovagLog.txt"; then
    fail "the device refused a move of the game"
fi
tail -n 1 "$work/NovagLog.txt" | grep -q '^Session ends: ' || fail "the session log does not end with Session ends"
rm -rf "$work"
echo "xboard game: passed"
