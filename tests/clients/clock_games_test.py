"""Whole games on the clock at the device's own pace, through python-chess as
the match runner, played past the first time control.

    python3 tests/clients/clock_games_test.py BUILD_DIR

The emulator runs at --speed 1, so each of its levels takes the device's
real time (AT1 2 s a move, TR1 7.5 s): the bridge has to make the device
move in time, with "J", wherever the level alone would overrun the clock.
python-chess keeps the device's clock from its own wall time, as a GUI does:
each engine.play() is timed and deducted, the increment added, a new
control's time added when a control of so many moves is completed; the
device has lost on time when its clock is below zero as its move arrives.

The games, all at once, each with its own emulator, bridge and opponent:
  40 moves in 60 s, xboard and UCI: to device move 45, past the control;
  60 s sudden death, xboard and UCI: 50 device moves or the end;
  30 s + 0.5 s, xboard without "post" (the device thinks silently) and UCI:
      50 device moves or the end;
  1 s a move, xboard "st 1" and UCI "go movetime 1000": 30 device moves,
      each to arrive within 1 s of the "go";
  a fixed depth and no clock, as KDE Knights plays it: "sd 8", no "post",
      no "time": 10 device moves, each to come (at most 120 s);
  depth 8 on a 30 s clock, xboard and UCI: 30 device moves or the end; the
      depth takes what it takes, so here the bridge's "J" has to act.
The opponent is fairymax at depth 5, outside python-chess (which takes no
engine without setboard): about as strong as the device, so the games run
long. It never repeats a position (the device would end the game as a draw)
and never mates the device before the game has its device moves.

Each game prints one line: control, protocol, how it ended, device moves,
the longest device move, the least clock it had left after a move, how many
of its moves needed the bridge's "J" (a "J" sent while it searched, from
the session log) and the longest time from such a "J" (stamped by the
emulator's --trace) to the move reaching python-chess. Any game lost on
time, any move that does not come, or any move line python-chess cannot
take fails the run.
"""
import asyncio
import concurrent.futures
import logging
import os
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from rig import Rig, chess

OPPONENT_DEPTH = 5
# A move that has not come this long after its clock ran out never will.
HANG_AFTER_FLAG = 15
NO_CLOCK_BOUND = 120
ALL_GAMES_BOUND = 540


class Game:
    def __init__(self, name, protocol, device_white, seed, moves, **kind):
        self.name = name
        self.protocol = protocol
        self.device_white = device_white
        self.seed = seed
        self.moves = moves  # device moves to play, unless the game ends first
        self.base = kind.get("base")  # seconds on each clock at the start
        self.per_control = kind.get("per_control", 0)  # moves in a control
        self.increment = kind.get("increment")
        self.move_time = kind.get("move_time")
        self.depth = kind.get("depth")
        self.post = kind.get("post", True)
        self.must_pass_control = bool(self.per_control)

    def limit(self, clocks, device_moves):
        L = chess.engine.Limit
        if self.move_time is not None:
            return L(time=self.move_time)
        if self.base is None:
            return L(depth=self.depth)
        white, black = (max(0.01, clocks[c]) for c in (chess.WHITE, chess.BLACK))
        # One clock id for the game: over xboard the control goes out once,
        # as "level", and each move then only brings "time" and "otim".
        if self.per_control:
            # The moves still to play in this control (UCI's movestogo);
            # xboard's "level" takes the control's size.
            to_go = self.per_control - device_moves % self.per_control
            return L(white_clock=white, black_clock=black, depth=self.depth,
                     remaining_moves=to_go if self.protocol == "uci" else self.per_control, clock_id=self.name)
        return L(white_clock=white, black_clock=black, white_inc=self.increment, black_inc=self.increment,
                 depth=self.depth, clock_id=self.name)


GAMES = [
    Game("40/60 s", "xboard", True, 1, 45, base=60, per_control=40),
    Game("40/60 s", "uci", True, 2, 45, base=60, per_control=40),
    Game("60 s", "xboard", False, 3, 50, base=60),
    Game("60 s", "uci", True, 4, 50, base=60),
    Game("30 s + 0.5 s", "xboard nopost", True, 5, 50, base=30, increment=0.5, post=False),
    Game("30 s + 0.5 s", "uci", False, 6, 50, base=30, increment=0.5),
    Game("1 s a move", "xboard", False, 7, 30, move_time=1),
    Game("1 s a move", "uci", True, 8, 30, move_time=1),
    Game("depth 8, no clock", "xboard nopost", False, 9, 10, depth=8, post=False),
    # A depth on a clock (xboard's -sd with -tc, cutechess-cli's depth= with
    # tc=) holds the device to that depth, which takes what it takes: only
    # the bridge's "J" keeps it within the clock.
    Game("depth 8 on 30 s", "xboard", True, 10, 30, base=30, depth=8),
    Game("depth 8 on 30 s", "uci", False, 11, 30, base=30, depth=8),
]


class EngineLines(logging.Handler):
    """Every line python-chess writes to and reads from each engine, with
    the wall time it was logged, by the engine's process id."""

    LINE = re.compile(r"\(pid=(\d+)\)>: (<<|>>) (.*)$", re.S)

    def __init__(self):
        super().__init__(logging.DEBUG)
        self.by_pid = {}
        self.guard = threading.Lock()

    def emit(self, record):
        found = self.LINE.search(record.getMessage())
        if found:
            with self.guard:
                self.by_pid.setdefault(int(found.group(1)), []).append(
                    (record.created, found.group(2), found.group(3)))

    def lines(self, pid):
        with self.guard:
            return self.by_pid.setdefault(pid, [])


class Fairymax:
    """fairymax over the xboard protocol, kept in force mode between its
    moves and given the game's moves as they come."""

    def __init__(self, depth):
        program = shutil.which("fairymax") or "/usr/games/fairymax"
        self.proc = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.pending = b""
        self.known = []
        self.send("xboard", "protover 2")
        if self.read_until(lambda line: line.startswith("feature") and "done=1" in line, 10) is None:
            raise RuntimeError("fairymax did not start")
        self.send("new", "force", "nopost", "easy", f"sd {depth}", "st 30")

    def send(self, *lines):
        self.proc.stdin.write("".join(line + "\n" for line in lines).encode())
        self.proc.stdin.flush()

    def read_until(self, wanted, seconds):
        deadline = time.monotonic() + seconds
        while True:
            while b"\n" in self.pending:
                raw, self.pending = self.pending.split(b"\n", 1)
                line = raw.decode("latin-1").strip()
                if wanted(line):
                    return line
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                return None
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                return None
            self.pending += chunk

    def move(self, board):
        """Its move in the board's position, or None (it claimed a result
        instead, or said something that is no legal move)."""
        stack = board.move_stack
        same = 0
        while same < min(len(stack), len(self.known)) and stack[same] == self.known[same]:
            same += 1
        self.send(*["undo"] * (len(self.known) - same), *(m.uci() for m in stack[same:]), "go")
        self.known = list(stack)
        line = self.read_until(lambda l: l.startswith("move ") or l.split(" ")[0] in ("1-0", "0-1", "1/2-1/2"), 30)
        self.send("force")
        if line is None or not line.startswith("move "):
            return None
        try:
            move = chess.Move.from_uci(line.split()[1])
        except ValueError:
            return None
        if move not in board.legal_moves:
            return None
        self.known.append(move)
        return move

    def close(self):
        try:
            self.send("quit")
            self.proc.wait(5)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()


def opponent_move(fairymax, board, rng, spare_the_device):
    """fairymax's move, unless it repeats a position or (while the game
    still needs device moves) mates the device: then another legal move
    that does neither, where there is one."""

    def unwanted(move):
        after = board.copy(stack=False)
        after.push(move)
        return after.is_repetition(2) or (spare_the_device and after.is_checkmate())

    move = fairymax.move(board)
    if move is None or unwanted(move):
        others = [m for m in board.legal_moves if not unwanted(m)]
        move = rng.choice(others or list(board.legal_moves))
    return move


def play_within(engine, board, limit, seconds, **options):
    """engine.play() that gives up after so many seconds (python-chess's
    own bound applies to Limit(time=) alone)."""
    coroutine = asyncio.wait_for(engine.protocol.play(board, limit, **options), seconds)
    return asyncio.run_coroutine_threadsafe(coroutine, engine.protocol.loop).result()


LOG_ENTRY = re.compile(r"(==> |<== | --> | <-- )([^\r\n]*?)(?=\r\n|==> |<== | --> | <-- |$)")
TRACE_LINE = re.compile(r"^\[(\d\d)\.(\d{3})\] (<-|->) (.*)$", re.M)
MOVE_REPLY = re.compile(r"M \d+, ")
GAME_OVER_REPORT = re.compile(r"M#[1-5]")


def move_now_per_search(events):
    """For each move reply of the device, in order, the stamps of the "J"s
    it was sent while it searched for that move. events: (to_device, text,
    stamp) in the order the line carried them."""
    force = searching = False
    move_nows = []
    per_reply = []
    for to_device, text, stamp in events:
        if to_device:
            if text == "J":
                if searching:
                    move_nows.append(stamp)
                else:
                    searching, move_nows = True, []  # a search begins
            elif text in ("U ON", "U OFF"):
                force = text == "U ON"
            elif text == "N" or text.startswith("PCW"):
                searching, move_nows = False, []  # the search is abandoned
            elif text.startswith("M") and not force:
                searching, move_nows = True, []  # the device answers the move
        elif MOVE_REPLY.match(text):
            per_reply.append(move_nows)
            searching, move_nows = False, []
        elif GAME_OVER_REPORT.match(text):
            searching, move_nows = False, []
    return per_reply


def log_events(log):
    return [(mark == " --> ", text.strip(), None) for mark, text in LOG_ENTRY.findall(log)
            if mark in (" --> ", " <-- ")]


def trace_events(trace):
    return [(way == "<-", text.strip(), int(sec) + int(ms) / 1000) for sec, ms, way, text in TRACE_LINE.findall(trace)]


class Record:
    def __init__(self, game):
        self.game = game
        self.device_moves = 0
        self.longest = 0.0
        self.least_left = None
        self.least_left_at = 0  # the device move that left it
        self.end = ""
        self.failure = None
        self.arrivals = []  # wall time each device move reached python-chess
        self.sent = []  # what python-chess sent for the first device move
        self.needed_j = self.j_lines = 0
        self.j_to_move = None
        self.late = 0
        self.kept = None  # where a failed game's log and port trace are kept
        self.rig = self.engine = self.fairymax = None
        self.done = threading.Event()

    def abandon(self):
        """Ends what a game still running has started: it must not outlive
        the run."""
        for part in (self.engine, self.fairymax, self.rig):
            if part is not None:
                try:
                    part.close()
                except Exception:  # noqa: BLE001  (the rest are closed all the same)
                    pass

    def line(self):
        g = self.game
        side = "White" if g.device_white else "Black"
        least = "-" if self.least_left is None else f"{self.least_left:.2f} s (move {self.least_left_at})"
        j_delay = "-" if self.j_to_move is None else f"{self.j_to_move:.3f} s"
        late = f", moves over {g.move_time} s: {self.late}" if g.move_time else ""
        return (f"clock-games: {g.name}, {g.protocol}, device {side}: {self.end}; device moves {self.device_moves}, "
                f"longest {self.longest:.2f} s, least left {least}{late}, moves needing J {self.needed_j} "
                f"(J lines {self.j_lines}), longest J to move {j_delay}")


def play_game(game, build, lines, record):
    rng = random.Random(game.seed)
    rig = record.rig = Rig(build, speed=1, seed=game.seed, trace=True)
    engine = fairymax = None
    try:
        engine = record.engine = rig.popen_uci() if game.protocol == "uci" else rig.popen_xboard()
        pid = engine.transport.get_pid()
        fairymax = record.fairymax = Fairymax(OPPONENT_DEPTH)
        device = chess.WHITE if game.device_white else chess.BLACK
        board = chess.Board()
        session = object()
        clocks = {chess.WHITE: game.base, chess.BLACK: game.base}
        opponent_moves = 0
        info = chess.engine.INFO_ALL if game.post else chess.engine.INFO_NONE
        while not board.is_game_over() and record.device_moves < game.moves:
            if board.turn != device:
                started = time.monotonic()
                board.push(opponent_move(fairymax, board, rng,
                                         record.device_moves < game.moves and game.must_pass_control))
                if game.base is not None:
                    opponent_moves += 1
                    clocks[not device] -= time.monotonic() - started
                    clocks[not device] = max(clocks[not device], 0.1) + tick(game, opponent_moves)
                continue
            limit = game.limit(clocks, record.device_moves)
            if game.base is not None:
                bound = max(clocks[device], 0) + HANG_AFTER_FLAG
            elif game.move_time is not None:
                bound = game.move_time + HANG_AFTER_FLAG
            else:
                bound = NO_CLOCK_BOUND
            seen = len(lines.lines(pid))
            started = time.monotonic()
            try:
                result = play_within(engine, board, limit, bound, game=session, info=info)
            except (asyncio.TimeoutError, concurrent.futures.TimeoutError, TimeoutError):
                what = "lost on time, no move" if game.base is not None else "no move"
                record.end = f"{what} within {bound:.0f} s at device move {record.device_moves + 1}"
                record.failure = record.end
                return
            except chess.engine.EngineError as error:
                record.end = f"python-chess could not take the move: {error}"
                record.failure = record.end
                return
            used = time.monotonic() - started
            exchanged = lines.lines(pid)[seen:]
            if not record.sent:
                record.sent = [text for _, way, text in exchanged if way == "<<" and not text.startswith(
                    ("ping", "isready", "position", "force", "new", "ucinewgame")) and not
                    re.fullmatch(r"[a-h][1-8][a-h][1-8][qrbn]?", text)]
                if game.depth is not None and game.base is None and (
                        f"sd {game.depth}" not in record.sent or "nopost" not in record.sent
                        or any(text.startswith(("time", "otim", "level", "post")) for text in record.sent)):
                    record.end = f"not the game meant: python-chess sent {record.sent}"
                    record.failure = record.end
                    return
            arrival = next((t for t, way, text in exchanged if way == ">>" and text.startswith(("move ", "bestmove "))),
                           None)
            go_sent = next((t for t, way, text in exchanged if way == "<<" and text.startswith("go")), None)
            if result.move is None or result.move not in board.legal_moves:
                # The device may end the game itself, by its own rules (a
                # draw by repetition counted as it counts them): a natural
                # end, as a mate is, where the game need not pass a control.
                reported = next((text for _, way, text in exchanged if way == ">>" and
                                 re.match(r"(1-0|0-1|1/2-1/2) ", text)), None)
                if reported is not None:
                    record.end = f"the device ended the game: {reported}"
                    record.failure = record.end if game.must_pass_control and \
                        record.device_moves < game.per_control else None
                    return
                record.end = f"no legal move from python-chess ({result.move}, resigned: {result.resigned})"
                record.failure = None if result.resigned and not game.must_pass_control else record.end
                return
            board.push(result.move)
            record.device_moves += 1
            record.arrivals.append(arrival)
            if game.move_time is not None:
                # A move's time runs from the "go" until its line is read.
                used = arrival - go_sent
                left = game.move_time - used
                record.late += left < 0
            elif game.base is not None:
                clocks[device] -= used
                left = clocks[device]
            else:
                left = None
            record.longest = max(record.longest, used)
            if left is not None and (record.least_left is None or left < record.least_left):
                record.least_left, record.least_left_at = left, record.device_moves
            if game.base is not None:
                if clocks[device] < 0:
                    record.end = f"lost on time at device move {record.device_moves} ({clocks[device]:.2f} s)"
                    record.failure = record.end
                    return
                clocks[device] += tick(game, record.device_moves)
        outcome = board.outcome()
        if outcome:
            record.end = f"{outcome.result()} {outcome.termination.name.lower()}"
            if game.must_pass_control and record.device_moves <= game.per_control:
                record.failure = f"the game ended before the control was passed: {record.end}"
        else:
            record.end = f"stopped after {record.device_moves} device moves"
        if game.move_time is not None and record.late:
            record.failure = f"{record.late} moves came later than {game.move_time} s"
    finally:
        if engine is not None:
            try:
                if record.failure is None:
                    engine.quit()
            except Exception:  # noqa: BLE001  (a bridge that does not quit is closed below)
                pass
            engine.close()
        if fairymax is not None:
            fairymax.close()
        time.sleep(0.2)  # the log's last lines
        try:
            count_move_nows(rig, record)
            if record.failure is not None:
                record.kept = tempfile.mkdtemp(prefix="pawnbridge-clock-game-")
                for name in ("NovagLog.txt", "port-trace.txt"):
                    if (rig.dir / name).exists():
                        shutil.copy(rig.dir / name, record.kept)
        finally:
            rig.close()


def tick(game, moves_made):
    """What the clock gains after a move: the increment, or the next
    control's time once a control's moves are made."""
    if game.per_control:
        return game.base if moves_made % game.per_control == 0 else 0
    return game.increment or 0


def count_move_nows(rig, record):
    try:
        in_log = move_now_per_search(log_events(rig.log()))
    except OSError:
        in_log = []
    on_port = move_now_per_search(trace_events(rig.trace()))
    moves = record.device_moves
    record.needed_j = sum(1 for js in in_log[:moves] if js)
    record.j_lines = sum(len(js) for js in in_log[:moves])
    for js, arrival in zip(on_port[:moves], record.arrivals):
        if js and arrival is not None:
            # The emulator stamps seconds within the minute: the "J" came
            # less than a minute before the move it asked for.
            delay = (arrival % 60 - js[0]) % 60
            record.j_to_move = delay if record.j_to_move is None else max(record.j_to_move, delay)


def run_game(game, build, lines, record):
    try:
        play_game(game, build, lines, record)
    except Exception as error:  # noqa: BLE001  (reported as the game's failure)
        record.end = record.end or f"{type(error).__name__}: {error}"
        record.failure = record.failure or record.end
    finally:
        record.done.set()


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    lines = EngineLines()
    logger = logging.getLogger("chess.engine")
    logger.setLevel(logging.DEBUG)
    logger.addHandler(lines)
    # python-chess's complaints (lines it has no use for) still show.
    shown = logging.StreamHandler(sys.stderr)
    shown.setLevel(logging.WARNING)
    logger.addHandler(shown)

    started = time.monotonic()
    records = [Record(game) for game in GAMES]
    threads = [threading.Thread(target=run_game, args=(r.game, build, lines, r), daemon=True) for r in records]
    # A run stopped from outside still ends its games. timeout(1) signals
    # the process and then its whole group: the second must not cut the
    # ending short.
    def stop(*_):
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        sys.exit(143)

    signal.signal(signal.SIGTERM, stop)
    try:
        for thread in threads:
            thread.start()
        for record in records:
            # Waited for by an event, not by join(): a join cut short by the
            # signal would take the game's thread for finished.
            record.done.wait(max(0, ALL_GAMES_BOUND - (time.monotonic() - started)))
    finally:
        for record in records:
            if not record.done.is_set():
                record.abandon()
    failed = 0
    for record in records:
        if not record.done.is_set():
            record.end = record.failure = "still playing when the games' time was up"
        print(record.line())
        print(f"clock-games:     python-chess sent: {' | '.join(record.sent)}")
        if record.failure:
            failed += 1
            print(f"clock-games:     FAILED: {record.failure}")
            if record.kept:
                print(f"clock-games:     its session log and port trace: {record.kept}")
    print(f"clock-games: all games in {time.monotonic() - started:.0f} s")
    print(f"clock-games: {len(records) - failed} passed, {failed} failed")
    sys.stdout.flush()
    if failed:
        sys.exit(1)


if __name__ == "__main__":
    main()
