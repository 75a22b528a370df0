"""The emulated device and the bridge, for the tests with real clients.

Starts sapphire-emu on a pseudo-terminal linked in a scratch directory, and
gives the environment and working directory that make pawnbridge use it.
The python-chess used is the unmodified release in ../shared/clients.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
CLIENTS = ROOT.parent / "shared" / "clients" / "python-chess"
sys.path.insert(0, str(CLIENTS))

import chess  # noqa: E402  (from the shared clients folder)
import chess.engine  # noqa: E402


class Rig:
    """trace=True keeps the emulator's record of every line on the port, each
    stamped with the wall clock's seconds within the minute, for trace()."""

    def __init__(self, build, speed=10, seed=1, extra=(), trace=False):
        self.build = pathlib.Path(build).resolve()
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="pawnbridge-client-"))
        self.port = self.dir / "sapphire"
        self.trace_path = self.dir / "port-trace.txt" if trace else None
        with open(self.trace_path, "wb") if trace else open(os.devnull, "wb") as errors:
            self.emulator = subprocess.Popen(
                [str(self.build / "tools" / "sapphire-emu"), "--link", str(self.port),
                 "--speed", str(speed), "--seed", str(seed), *(["--trace"] if trace else []), *extra],
                stdout=subprocess.PIPE, stderr=errors, text=True)
        self.emulator.stdout.readline()  # the port's path: it is up
        deadline = time.monotonic() + 10
        while not self.port.exists():
            if time.monotonic() > deadline:
                raise RuntimeError("the emulator made no port")
            time.sleep(0.05)
        self.env = dict(os.environ, PAWNBRIDGE_COM1=str(self.port))

    @property
    def bridge(self):
        return [str(self.build / "pawnbridge")]

    def popen_xboard(self):
        return chess.engine.SimpleEngine.popen_xboard(self.bridge, env=self.env, cwd=str(self.dir))

    def popen_uci(self):
        return chess.engine.SimpleEngine.popen_uci(self.bridge, env=self.env, cwd=str(self.dir))

    def log(self):
        return (self.dir / "NovagLog.txt").read_bytes().decode("latin-1")

    def trace(self):
        return self.trace_path.read_bytes().decode("latin-1")

    def leftovers(self):
        """Processes of this rig still running: the emulator (its port on its
        command line) or a bridge (the port in its environment)."""
        port = str(self.port).encode()
        found = []
        for entry in pathlib.Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                cmdline = (entry / "cmdline").read_bytes().split(b"\0")
                environ = (entry / "environ").read_bytes().split(b"\0")
            except OSError:
                continue  # gone meanwhile, or not ours to read
            if port in cmdline or b"PAWNBRIDGE_COM1=" + port in environ:
                found.append(f"{entry.name} {cmdline[0].decode(errors='replace')}")
        return found

    def close(self):
        self.emulator.terminate()
        try:
            self.emulator.wait(10)
        except subprocess.TimeoutExpired:
            self.emulator.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def opponent_move(board, rng):
    """A weak but purposeful opponent: takes the biggest capture, else a
    random move; enough to let the device win every game in good time."""
    values = {chess.PAWN: 1, chess.KNIGHT: 3, chess.BISHOP: 3, chess.ROOK: 5, chess.QUEEN: 9}
    moves = list(board.legal_moves)
    captures = [m for m in moves if board.is_capture(m) and board.piece_type_at(m.to_square)]
    if captures:
        return max(captures, key=lambda m: values.get(board.piece_type_at(m.to_square), 0))
    return rng.choice(moves)


def check(condition, message):
    if not condition:
        raise AssertionError(message)
