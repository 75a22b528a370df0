"""The engine options as the real python-chess reads and sets them, and the
search for the device, in both protocols.

    python3 tests/clients/options_test.py BUILD_DIR

python-chess refuses to set an option an engine does not declare, and
lichess-bot sets "Move Overhead" (from its default uci_options) through
it: the bridge must declare it in a form python-chess takes, and "Port"
likewise. No port is named here: the bridge searches a list of the test's
own (a port that is not there, then the emulator's), as a test aid.
"""
import os
import sys

from rig import Rig, chess, check


def searching(rig):
    env = dict(rig.env)
    env["PAWNBRIDGE_COM1"] = ""
    env["PAWNBRIDGE_SEARCH_PORTS"] = f"{rig.dir / 'ttyS0'}:{rig.port}"
    return env


def uci(build):
    rig = Rig(build)
    try:
        engine = chess.engine.SimpleEngine.popen_uci(rig.bridge, env=searching(rig), cwd=str(rig.dir))
        try:
            port = engine.options["Port"]
            check(port.type == "string" and port.default == str(rig.port),
                  f"Port option: {port}")
            overhead = engine.options["Move Overhead"]
            check(overhead.type == "spin" and overhead.default == 100, f"Move Overhead option: {overhead}")
            # lichess-bot's default, less the options the device has none of.
            engine.configure({"Move Overhead": 300})
            # The same line by another name: python-chess sends only a value
            # other than the one it holds, and the bridge opens that port anew.
            engine.configure({"Port": os.path.realpath(rig.port)})
            result = engine.play(chess.Board(), chess.engine.Limit(time=1))
            check(result.move is not None, "no move after the options were set")
        finally:
            engine.quit()
        log = rig.log()
        check(f"(port {rig.dir / 'ttyS0'}: cannot be opened" in log, "the log does not name the port tried")
        check("==> setoption name Port value " + os.path.realpath(rig.port) in log, "Port was not sent")
        print(f"options: uci: Port default {port.default}; Move Overhead and Port set; a move in "
              f"{'book' if 'Book' in log else 'play'}")
    finally:
        rig.close()


def xboard(build):
    rig = Rig(build)
    try:
        engine = chess.engine.SimpleEngine.popen_xboard(rig.bridge, env=searching(rig), cwd=str(rig.dir))
        try:
            port = engine.options["Port"]
            check(port.type == "string" and port.default == str(rig.port), f"Port option: {port}")
            engine.configure({"Port": os.path.realpath(rig.port)})
            result = engine.play(chess.Board(), chess.engine.Limit(time=1))
            check(result.move is not None, "no move after the option was set")
        finally:
            engine.quit()
        check("==> option Port=" + os.path.realpath(rig.port) in rig.log(), "Port was not sent")
        print(f"options: xboard: Port default {port.default}; set; a move")
    finally:
        rig.close()


if __name__ == "__main__":
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    uci(build)
    xboard(build)
    print("options: ok")
