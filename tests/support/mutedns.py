#!/usr/bin/python3
"""A name server that never answers, for the tests.

Takes DNS queries over UDP on --address, port 53 (the port a resolv.conf
names no other), and answers none of them. Prints "READY" on its own line
once it listens and "QUERY" for each query it receives, and runs until its
standard input is closed (so it never outlives the test that started it).
"""

import argparse
import os
import socket
import sys
import threading


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", required=True, help="a loopback address, such as 127.53.0.1")
    args = parser.parse_args()
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((args.address, 53))

    def watch_stdin():
        try:
            while os.read(0, 4096):
                pass
        except OSError:
            pass
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    print("READY", flush=True)
    while True:
        sock.recvfrom(4096)
        print("QUERY", flush=True)


if __name__ == "__main__":
    sys.exit(main())
