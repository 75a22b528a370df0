"""Whole games through python-chess's UCI engine layer (popen_uci), as
lichess-bot and most Python chess tools drive a UCI engine: in one session,
a game on a 60 s + 1 s clock with engine.play(), a game at a fixed time a
move with Limit(time=), then engine.analyse() of a set-up position for a
fixed time.

    python3 tests/clients/uci_games_test.py BUILD_DIR

Every device move must be taken, every move out of the book must come with
the device's thinking (depth, score and principal variation) and a book
move with "info string book", the device's clock must never run out, each
position the GUI sends in a game must cost the device one command at most
(the opponent's move), nothing of the rig may be left running, and the
session log must end with "Session ends".
"""
import collections
import logging
import random
import re
import sys
import time

from rig import Rig, check, chess, opponent_move

MAX_PLIES = 300
ANALYSIS_SECONDS = 2
# A set-up middle game, far from any book line.
ANALYSIS_FEN = "r2q1rk1/pp2bppp/2n1bn2/3p4/3P4/2NB1N2/PP3PPP/R1BQR1K1 w - - 4 11"


class EngineLines(logging.Handler):
    """The lines python-chess read from the bridge, and what it complained
    of (its warnings and errors)."""

    def __init__(self):
        super().__init__(logging.DEBUG)
        self.read = []
        self.complaints = []

    def emit(self, record):
        text = record.getMessage()
        if record.levelno >= logging.WARNING:
            self.complaints.append(f"{record.levelname}: {text}")
        elif ": >> " in text:
            self.read.append(text.split(": >> ", 1)[1])


def watch_engine_layer():
    lines = EngineLines()
    logger = logging.getLogger("chess.engine")
    logger.setLevel(logging.DEBUG)
    logger.addHandler(lines)
    # The complaints still reach standard error as they come.
    shown = logging.StreamHandler(sys.stderr)
    shown.setLevel(logging.WARNING)
    shown.setFormatter(logging.Formatter("%(levelname)s:%(name)s:%(message)s"))
    logger.addHandler(shown)
    return lines


def is_search_info(line):
    return line.startswith("info ") and not line.startswith("info string")


def play_game(engine, lines, limit_for, device_white, rng, label):
    board = chess.Board()
    game = object()
    moves = thought = book = infos = 0
    clocks = {chess.WHITE: 60.0, chess.BLACK: 60.0}
    while not board.is_game_over(claim_draw=True) and len(board.move_stack) < MAX_PLIES:
        if board.turn == (chess.WHITE if device_white else chess.BLACK):
            read_before = len(lines.read)
            started = time.monotonic()
            result = engine.play(board, limit_for(clocks), game=game, info=chess.engine.INFO_ALL)
            clocks[board.turn] -= time.monotonic() - started
            check(clocks[board.turn] > 0, f"{label}: the device lost on time at move {board.fullmove_number}")
            clocks[board.turn] += 1
            check(result.move is not None, f"{label}: no move at {board.fen()}")
            check(result.move in board.legal_moves, f"{label}: illegal {result.move} at {board.fen()}")
            read = lines.read[read_before:]
            searched = [line for line in read if is_search_info(line)]
            infos += len(searched)
            if "info string book" in read:
                check(not result.info.get("pv"), f"{label}: a book move with a variation: {read}")
                book += 1
            else:
                info = result.info
                check(info.get("pv") and "depth" in info and "score" in info,
                      f"{label}: a move out of book without the device's thinking: {read}")
                check(info["pv"][0] == result.move,
                      f"{label}: the variation {info['pv']} does not start with the move {result.move}")
                thought += 1
            board.push(result.move)
            moves += 1
        else:
            board.push(opponent_move(board, rng))
    outcome = board.outcome(claim_draw=True)
    text = outcome.result() if outcome else "adjudicated after %d plies" % len(board.move_stack)
    device = chess.WHITE if device_white else chess.BLACK
    return board, text, moves, thought, book, infos, clocks[device]


def analyse(engine, lines):
    board = chess.Board(ANALYSIS_FEN)
    read_before = len(lines.read)
    started = time.monotonic()
    info = engine.analyse(board, chess.engine.Limit(time=ANALYSIS_SECONDS))
    took = time.monotonic() - started
    searched = [line for line in lines.read[read_before:] if is_search_info(line)]
    check(info.get("pv") and "depth" in info and "score" in info, f"analysis: no thinking in {info}")
    check(info["pv"][0] in board.legal_moves, f"analysis: the variation {info['pv']} starts illegally")
    check(took < ANALYSIS_SECONDS + 3, f"analysis: {ANALYSIS_SECONDS} s took {took:.1f} s")
    return info, took, len(searched)


def commands_per_position(log):
    """For each game (cut at "==> ucinewgame"), the device commands sent for
    each "==> position" line, up to the next line from the GUI."""
    games = []
    counting = None
    for mark, text in re.findall(r"(==> |<== | --> | <-- )([^\r\n]*?)(?=\r\n|==> |<== | --> | <-- |$)", log):
        if mark == "==> ":
            counting = None
            if text.startswith("ucinewgame"):
                games.append([])
            elif text.startswith("position") and games:
                games[-1].append(0)
                counting = games[-1]
        elif mark == " --> " and counting is not None:
            counting[-1] += 1
    return games


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rng = random.Random(11)
    lines = watch_engine_layer()
    rig = Rig(build)
    closing = []
    try:
        started = time.monotonic()
        engine = rig.popen_uci()
        closing.append(engine)
        print(f"uci-games: start-up to uciok {1000 * (time.monotonic() - started):.0f} ms; "
              f"the engine says it is {engine.id.get('name')!r}")
        games = [
            ("60 s + 1 s, device White",
             lambda c: chess.engine.Limit(white_clock=c[chess.WHITE], black_clock=c[chess.BLACK],
                                          white_inc=1, black_inc=1), True),
            ("1 s a move, device Black", lambda c: chess.engine.Limit(time=1), False),
        ]
        for label, limit_for, device_white in games:
            board, text, moves, thought, book, infos, clock = play_game(engine, lines, limit_for, device_white,
                                                                        rng, label)
            check(board.is_game_over(claim_draw=True), f"{label}: no result ({text})")
            print(f"uci-games: {label}: {text} after {len(board.move_stack)} plies; device moves {moves}, "
                  f"with thinking {thought}, from book {book}; info lines read {infos}; "
                  f"device clock left {clock:.1f} s")
        info, took, infos = analyse(engine, lines)
        print(f"uci-games: analyse {ANALYSIS_SECONDS} s: depth {info['depth']}, score {info['score']}, "
              f"pv {' '.join(m.uci() for m in info['pv'])}; {infos} info lines in {took:.1f} s")
        engine.quit()
        closing.clear()
        log = rig.log()
    finally:
        # A failed check must not leave python-chess waiting on the bridge.
        for engine in closing:
            engine.close()
        rig.close()
    check(not rig.leftovers(), f"left running: {rig.leftovers()}")
    check(log.rstrip("\r\n").splitlines()[-1].startswith("Session ends: "), "the log does not end with Session ends")

    per_game = commands_per_position(log)
    check(len(per_game) == 3, f"{len(per_game)} ucinewgame in the log, not one a game and one for the analysis")
    for (label, _, _), counts in zip(games, per_game):
        spread = ", ".join(f"{n} command(s) x{k}" for n, k in sorted(collections.Counter(counts).items()))
        print(f"uci-games: {label}: device commands per position: {spread}")
        check(max(counts) <= 1, f"{label}: a position cost the device more than the opponent's move: {counts}")
    print(f"uci-games: analysis: device commands for its position: {per_game[2]}")

    # An info string line that comes after bestmove (a report that follows
    # the move) reaches python-chess between commands; it warns of those.
    late = [c for c in lines.complaints if "Unexpected engine output: 'info string " in c]
    told = collections.Counter(re.sub(r"\(pid=\d+\)", "", c)[:200] for c in lines.complaints if c not in late)
    print(f"uci-games: python-chess warned of {len(late)} info string line(s) between commands")
    for complaint, times in sorted(told.items()):
        print(f"uci-games: python-chess complained {times}x: {complaint}")
    check(not any(c.startswith(("ERROR", "CRITICAL")) for c in lines.complaints),
          "python-chess could not read a line of the bridge")
    print("uci-games: ok")


if __name__ == "__main__":
    main()
