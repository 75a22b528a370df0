"""The device as an analyser, through python-chess's engine layer: the xboard
protocol's analyze mode, and UCI's go infinite / stop.

    python3 tests/clients/analysis_test.py BUILD_DIR

engine.analyse() with a fixed time (over UCI, engine.analysis() for the same
time) on three positions in a row (the start position, a middlegame given by
FEN, that position one move on): each result must have a depth, a score and
a principal variation legal in its position.
engine.analysis() on a position, then on the next one: the thinking read
must fit each position, and no move of the device may stay in its game (in
the log, every move reply during an analysis is taken back at once). The
session must end with "Session ends".
"""
import re
import sys

from rig import Rig, check, chess

MIDDLEGAME = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4"


def check_result(info, board, label):
    check("depth" in info and "score" in info, f"{label}: no depth or score in {info}")
    pv = info.get("pv") or []
    check(pv, f"{label}: no principal variation in {info}")
    walk = board.copy()
    for move in pv:
        check(move in walk.legal_moves, f"{label}: {move} is not legal in {walk.fen()}")
        walk.push(move)


def infinite_for(engine, position, seconds):
    """UCI's go infinite, stopped after so many seconds of the device's
    own thinking time (the emulator reports the device's time)."""
    last = {}
    with engine.analysis(position) as running:
        for info in running:
            if "pv" in info:
                last = info
            if info.get("time", 0) >= seconds:
                break
    return last


def analyse_three(engine, label, uci):
    board = chess.Board()
    results = []
    for name, position in (("start", chess.Board()), ("middlegame", chess.Board(MIDDLEGAME)), ("one move on", None)):
        if position is None:
            position = chess.Board(MIDDLEGAME)
            position.push_san("O-O")
        # Over xboard analyse() is "analyze" and "exit"; over UCI it would
        # be go movetime, a search in which the device may play from its
        # book: its analysis is go infinite and stop.
        if uci:
            info = infinite_for(engine, position, 2)
        else:
            info = engine.analyse(position, chess.engine.Limit(time=2))
        check_result(info, position, f"{label} analyse {name}")
        results.append(f"{name}: depth {info['depth']} {info['score'].white()} {position.variation_san(info['pv'][:3])}")
        board = position
    return board, results


def analysis_with_a_change(engine, label):
    seen = []
    board = chess.Board(MIDDLEGAME)
    for step in range(2):
        lines = 0
        with engine.analysis(board) as running:
            for info in running:
                if "pv" in info:
                    check_result(info, board, f"{label} analysis step {step}")
                    lines += 1
                if lines >= 3:
                    break
        seen.append(lines)
        board.push_san("O-O" if step == 0 else "Nxe4")
    return seen


def moves_left_in_the_game(log, uci):
    """Device move replies that were not taken back at once."""
    lines = log.splitlines()
    kept = []
    for i, line in enumerate(lines):
        if not re.match(r" <-- M \d+, ", line):
            continue
        # The next command to the device must take the move back.
        after = next((l for l in lines[i + 1:] if l.startswith(" --> ")), "")
        if after != " --> T":
            kept.append(line)
    return kept


def run(build, protocol):
    rig = Rig(build)
    label = protocol
    try:
        engine = rig.popen_uci() if protocol == "uci" else rig.popen_xboard()
        _, results = analyse_three(engine, label, protocol == "uci")
        seen = analysis_with_a_change(engine, label)
        engine.quit()
        log = rig.log()
        check(log.rstrip("\r\n").splitlines()[-1].startswith("Session ends: "), f"{label}: no Session ends")
        if protocol == "xboard":
            kept = moves_left_in_the_game(log, False)
            check(not kept, f"{label}: moves left in the device's game: {kept}")
        else:
            # go movetime plays its move into the device's game (the next
            # position takes it back); go infinite must take it back at once.
            blocks = log.split("==> go infinite")[1:]
            for block in blocks:
                kept = moves_left_in_the_game(block.split("==> position")[0], True)
                check(not kept, f"{label}: go infinite left a move in the device's game: {kept}")
        print(f"analysis ({label}): " + "; ".join(results) + f"; analysis() lines read: {seen}")
    finally:
        rig.close()


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    for protocol in ("xboard", "uci"):
        run(build, protocol)
    print("analysis: ok")


if __name__ == "__main__":
    main()
