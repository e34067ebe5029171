#!/usr/bin/python3
"""A real SFTP server for the tests and the benchmark, on paramiko.

Serves one folder on 127.0.0.1 over SSH to one user with a password (the
folder is the user's home and "/"), prints "PORT <number> <host key
fingerprint>" on its own line once it listens (the fingerprint as OpenSSH
shows it, "SHA256:..."), and runs until it gets SIGTERM or SIGINT, or, with
--exit-on-eof, until its standard input is closed.

--host-key FILE names the server's host key (an ECDSA key in OpenSSH's PEM
form); a missing FILE is filled with a new key, so each test makes its own.

Directory entries carry the long names OpenSSH's sftp-server writes
("-rw-r--r--    1 velth    velth         130 Dec  7 23:25 name").

--mode picks a fault, named as the FTP test server names its own:
  none            a plain server
  refuse-login    every password is refused
  refuse-cwd      reading any folder is refused (permission denied)
  missing-retr    opening a file for reading answers "no such file"
  drop-transfer   the connection is closed in the middle of the first file
                  read or write (half of the first block moves)
  mute-greeting   the connection is accepted but nothing is ever sent
  mute-after-login  after a successful login no request gets an answer
  mute-at-cwd     from the first folder read on no request gets an answer
  stall-transfer  a file read or write moves its first block, then the
                  server stops answering, keeping the connection open

--log FILE appends one line per request as "<session> <REQUEST> <path>"
(OPENDIR, OPEN-READ, OPEN-WRITE, STAT, ...), written before the server acts.

--rate N limits file reads and writes of each session to N bytes per second.
"""

import argparse
import base64
import hashlib
import os
import posixpath
import socket
import stat
import sys
import threading
import time

import paramiko
from paramiko.sftp import SFTP_NO_SUCH_FILE, SFTP_OK, SFTP_PERMISSION_DENIED

import serverlife

MODES = ("none", "refuse-login", "refuse-cwd", "missing-retr", "drop-transfer",
         "mute-greeting", "mute-after-login", "mute-at-cwd", "stall-transfer")


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    serverlife.add_common_arguments(parser)
    parser.add_argument("--mode", choices=MODES, default="none")
    parser.add_argument("--host-key", required=True, help="host key file; made when missing")
    return parser.parse_args()


ARGS = None
LOG = None
LOG_LOCK = threading.Lock()
SESSIONS = [0]


def log_line(session, text):
    if LOG is None:
        return
    with LOG_LOCK:
        LOG.write("%d %s\n" % (session, text))
        LOG.flush()


def hang():
    threading.Event().wait()


class LongNameAttributes(paramiko.SFTPAttributes):
    """Entries with the long name OpenSSH's sftp-server gives them."""

    def _as_text(self):
        mode = self.st_mode or 0
        kinds = {stat.S_IFDIR: "d", stat.S_IFLNK: "l", stat.S_IFREG: "-"}
        text = kinds.get(stat.S_IFMT(mode), "?")
        for shift in (6, 3, 0):
            bits = (mode >> shift) & 7
            text += ("r" if bits & 4 else "-") + ("w" if bits & 2 else "-") + ("x" if bits & 1 else "-")
        mtime = self.st_mtime or 0
        recent = abs(time.time() - mtime) < 182 * 86400
        date = time.strftime("%b %e %H:%M" if recent else "%b %e  %Y", time.localtime(mtime))
        # strmode() leaves a blank after the ten mode characters.
        return "%s  %3u %-8.8s %-8.8s %8u %s %s" % (
            text, 1, "velth", "velth", self.st_size or 0, date, getattr(self, "filename", "?"))


class Handle(paramiko.SFTPHandle):
    def __init__(self, session, flags, path):
        super().__init__(flags)
        self.session = session
        self.path = path
        self.moved = False

    def _fault(self, data_len):
        """Applies the transfer faults; returns how much of the block moves."""
        if ARGS.rate:
            time.sleep(data_len / float(ARGS.rate))
        if self.moved:
            if ARGS.mode == "stall-transfer":
                hang()
            return data_len
        self.moved = True
        if ARGS.mode == "drop-transfer":
            return max(1, data_len // 2)
        return data_len

    def _drop(self):
        if ARGS.mode == "drop-transfer" and self.moved:
            self.session.transport.close()

    def read(self, offset, length):
        data = super().read(offset, length)
        if isinstance(data, bytes) and data:
            data = data[:self._fault(len(data))]
            if ARGS.mode == "drop-transfer":
                threading.Timer(0.05, self.session.transport.close).start()
        return data

    def write(self, offset, data):
        keep = self._fault(len(data))
        result = super().write(offset, data[:keep])
        self._drop()
        if ARGS.mode == "stall-transfer":
            # The first block is written; its answer never comes.
            hang()
        return result


class Files(paramiko.SFTPServerInterface):
    def __init__(self, server, *args, **kwargs):
        super().__init__(server, *args, **kwargs)
        self.session = server

    def session_started(self):
        if ARGS.mode == "mute-after-login":
            hang()

    def _local(self, path):
        return os.path.join(ARGS.root, self.canonicalize(path).lstrip("/"))

    def _log(self, what, path):
        log_line(self.session.number, "%s %s" % (what, self.canonicalize(path)))

    def canonicalize(self, path):
        if not path.startswith("/"):
            path = "/" + path
        return posixpath.normpath(path).replace("//", "/")

    def _folder_fault(self):
        if ARGS.mode == "mute-at-cwd":
            hang()
        if ARGS.mode == "refuse-cwd":
            return SFTP_PERMISSION_DENIED
        return None

    def list_folder(self, path):
        self._log("OPENDIR", path)
        fault = self._folder_fault()
        if fault is not None:
            return fault
        folder = self._local(path)
        try:
            entries = []
            for name in sorted(os.listdir(folder)):
                attr = LongNameAttributes.from_stat(os.lstat(os.path.join(folder, name)))
                attr.filename = name
                entries.append(attr)
            return entries
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)

    def _stat(self, path, follow):
        self._log("STAT", path)
        local = self._local(path)
        try:
            st = os.stat(local) if follow else os.lstat(local)
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)
        if stat.S_ISDIR(st.st_mode):
            fault = self._folder_fault()
            if fault is not None:
                return fault
        return LongNameAttributes.from_stat(st)

    def stat(self, path):
        return self._stat(path, True)

    def lstat(self, path):
        return self._stat(path, False)

    def open(self, path, flags, attr):
        writing = flags & (os.O_WRONLY | os.O_RDWR)
        self._log("OPEN-WRITE" if writing else "OPEN-READ", path)
        if not writing and ARGS.mode == "missing-retr":
            return SFTP_NO_SUCH_FILE
        local = self._local(path)
        try:
            fd = os.open(local, flags | getattr(os, "O_BINARY", 0), 0o644)
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)
        if flags & os.O_CREAT and attr is not None:
            attr._flags &= ~attr.FLAG_PERMISSIONS
            paramiko.SFTPServer.set_file_attr(local, attr)
        if flags & os.O_WRONLY:
            mode = "ab" if flags & os.O_APPEND else "wb"
        elif flags & os.O_RDWR:
            mode = "a+b" if flags & os.O_APPEND else "r+b"
        else:
            mode = "rb"
        try:
            handle_file = os.fdopen(fd, mode)
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)
        handle = Handle(self.session, flags, local)
        handle.filename = local
        handle.readfile = handle_file
        handle.writefile = handle_file
        return handle

    def remove(self, path):
        self._log("REMOVE", path)
        try:
            os.remove(self._local(path))
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)
        return SFTP_OK

    def rename(self, oldpath, newpath):
        self._log("RENAME", oldpath)
        try:
            os.rename(self._local(oldpath), self._local(newpath))
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)
        return SFTP_OK

    def posix_rename(self, oldpath, newpath):
        return self.rename(oldpath, newpath)

    def mkdir(self, path, attr):
        self._log("MKDIR", path)
        try:
            os.mkdir(self._local(path))
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)
        return SFTP_OK

    def rmdir(self, path):
        self._log("RMDIR", path)
        try:
            os.rmdir(self._local(path))
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)
        return SFTP_OK

    def chattr(self, path, attr):
        self._log("SETSTAT", path)
        try:
            paramiko.SFTPServer.set_file_attr(self._local(path), attr)
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)
        return SFTP_OK


class Session(paramiko.ServerInterface):
    def __init__(self, number):
        self.number = number
        self.transport = None

    def get_allowed_auths(self, username):
        return "password"

    def check_auth_password(self, username, password):
        log_line(self.number, "LOGIN %s" % username)
        if ARGS.mode != "refuse-login" and username == ARGS.user and password == ARGS.password:
            return paramiko.AUTH_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def check_channel_request(self, kind, chanid):
        if kind == "session":
            return paramiko.OPEN_SUCCEEDED
        return paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    def check_channel_subsystem_request(self, channel, name):
        return super().check_channel_subsystem_request(channel, name)


def serve(conn, host_key):
    SESSIONS[0] += 1
    number = SESSIONS[0]
    if ARGS.mode == "mute-greeting":
        log_line(number, "(connected, no greeting)")
        hang()
    session = Session(number)
    transport = paramiko.Transport(conn)
    session.transport = transport
    transport.add_server_key(host_key)
    transport.set_subsystem_handler("sftp", paramiko.SFTPServer, Files)
    try:
        transport.start_server(server=session)
    except (paramiko.SSHException, EOFError, OSError):
        return
    # The transport runs in its own thread; this one only waits for it.
    transport.join()


def main():
    global ARGS, LOG
    ARGS = parse_args()
    ARGS.root = os.path.realpath(ARGS.root)
    if not os.path.exists(ARGS.host_key):
        paramiko.ECDSAKey.generate(bits=256).write_private_key_file(ARGS.host_key)
    host_key = paramiko.ECDSAKey(filename=ARGS.host_key)
    if ARGS.log:
        LOG = open(ARGS.log, "a", encoding="utf-8", errors="surrogateescape")

    import logging
    logging.basicConfig(level=logging.CRITICAL, stream=sys.stderr)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", ARGS.port))
    listener.listen(16)

    def stop(*_):
        os._exit(0)

    serverlife.stop_on(stop, ARGS.exit_on_eof)

    digest = hashlib.sha256(host_key.asbytes()).digest()
    fingerprint = "SHA256:" + base64.b64encode(digest).decode("ascii").rstrip("=")
    print("PORT %d %s" % (listener.getsockname()[1], fingerprint), flush=True)
    while True:
        conn, _ = listener.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=serve, args=(conn, host_key), daemon=True).start()


if __name__ == "__main__":
    main()
