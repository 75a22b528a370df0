"""Whole games through python-chess's xboard engine layer, as lichess-bot and
most Python chess tools drive an engine: one on a 60 s + 1 s clock with
engine.play(), one at a fixed time a move with Limit(time=), and one at 40
moves in 60 s as match runners set it.

    python3 tests/clients/xboard_games_test.py BUILD_DIR

Every device move must be taken, every move out of the book must come with
the device's thinking (depth, score and principal variation), the device's
clock must never run out, and the session log must end with "Session ends".
"""
import random
import sys
import time

from rig import Rig, check, chess, opponent_move

MAX_PLIES = 300


def play_game(engine, limit_for, device_white, rng, label, per_control=0):
    board = chess.Board()
    game = object()
    moves = thought = book = 0
    clocks = {chess.WHITE: 60.0, chess.BLACK: 60.0}
    while not board.is_game_over(claim_draw=True) and len(board.move_stack) < MAX_PLIES:
        if board.turn == (chess.WHITE if device_white else chess.BLACK):
            started = time.monotonic()
            result = engine.play(board, limit_for(clocks), game=game, info=chess.engine.INFO_ALL)
            used = time.monotonic() - started
            clocks[board.turn] -= used
            check(clocks[board.turn] > 0, f"{label}: the device lost on time at move {board.fullmove_number}")
            if per_control:
                # A new control of 60 s after every per_control moves.
                if (moves + 1) % per_control == 0:
                    clocks[board.turn] += 60
            else:
                clocks[board.turn] += 1
            check(result.move is not None, f"{label}: no move at {board.fen()}")
            check(result.move in board.legal_moves, f"{label}: illegal {result.move} at {board.fen()}")
            board.push(result.move)
            info = result.info
            if info.get("pv"):
                check("depth" in info and "score" in info, f"{label}: thinking without depth or score: {info}")
                thought += 1
            else:
                # The book line: "1 0 100 0 (Book)" has no moves of its own.
                check(info.get("depth") == 1 and info.get("nodes") == 0,
                      f"{label}: a move out of book without the device's thinking: {info}")
                book += 1
            moves += 1
            if result.resigned:
                return board, moves, thought, book, "device resigned", clocks
        else:
            board.push(opponent_move(board, rng))
    outcome = board.outcome(claim_draw=True)
    text = outcome.result() if outcome else "adjudicated after %d plies" % len(board.move_stack)
    return board, moves, thought, book, text, clocks


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rng = random.Random(7)
    games = [
        ("60 s + 1 s, device White",
         lambda c: chess.engine.Limit(white_clock=c[chess.WHITE], black_clock=c[chess.BLACK],
                                      white_inc=1, black_inc=1), True, 0),
        ("1 s a move, device Black", lambda c: chess.engine.Limit(time=1), False, 0),
        # As cutechess-cli sets it: "level 40 1 0" once, then the clocks.
        ("40 moves in 60 s, device Black",
         lambda c: chess.engine.Limit(white_clock=c[chess.WHITE], black_clock=c[chess.BLACK],
                                      remaining_moves=40, clock_id="40/60"), False, 40),
    ]
    for label, limit_for, device_white, per_control in games:
        rig = Rig(build)
        try:
            engine = rig.popen_xboard()
            board, moves, thought, book, text, clocks = play_game(engine, limit_for, device_white, rng, label,
                                                                  per_control)
            engine.quit()
            log = rig.log()
            check(log.rstrip("\r\n").splitlines()[-1].startswith("Session ends: "),
                  f"{label}: the log does not end with Session ends")
            check(board.is_game_over(claim_draw=True), f"{label}: no result ({text})")
            device = chess.WHITE if device_white else chess.BLACK
            print(f"xboard-games: {label}: {text} after {len(board.move_stack)} plies; device moves {moves}, "
                  f"with thinking {thought}, from book {book}; device clock left {clocks[device]:.1f} s")
        finally:
            rig.close()
    print("xboard-games: ok")


if __name__ == "__main__":
    main()
