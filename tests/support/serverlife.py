"""What the test servers share: their common options and how they stop."""

import os
import signal
import threading


def add_common_arguments(parser):
    """The options every test server takes (each adds its own --mode)."""
    parser.add_argument("--root", required=True, help="folder to serve")
    parser.add_argument("--user", default="velth")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--port", type=int, default=0, help="0: a free port")
    parser.add_argument("--log", help="file that receives the commands")
    parser.add_argument("--rate", type=int, default=0, help="bytes per second per transfer, 0: no limit")
    parser.add_argument("--exit-on-eof", action="store_true", help="stop when standard input closes")


def stop_on(stop, exit_on_eof):
    """Calls stop on SIGTERM and SIGINT, and with exit_on_eof once standard
    input closes: the test process that started the server is gone."""
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    def watch_stdin():
        try:
            while os.read(0, 4096):
                pass
        except OSError:
            pass
        stop()

    if exit_on_eof:
        threading.Thread(target=watch_stdin, daemon=True).start()
