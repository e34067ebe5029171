#!/usr/bin/python3
"""A real FTP server for the tests and the benchmark, on pyftpdlib.

Serves one folder on 127.0.0.1 to one user with a password, prints
"PORT <number>" on its own line once it listens, and runs until it gets
SIGTERM or SIGINT, or, with --exit-on-eof, until its standard input is closed
(so it never outlives the test that started it).

--mode picks a fault, built from pyftpdlib's handler classes:
  none            a plain server
  refuse-login    every login is answered "530 Login incorrect."
  refuse-cwd      every CWD is answered "550 Permission denied."
  missing-retr    SIZE and RETR answer "550 No such file or directory." even
                  for files that exist
  drop-transfer   the control and data connections are closed in the middle
                  of the first RETR or STOR (half of the first block moves)
  mute-greeting   the connection is accepted but nothing is ever sent
  mute-after-login  after a successful login no command gets a reply
  mute-at-cwd     from the first CWD on no command gets a reply
  stall-transfer  a RETR or STOR moves its first block, then the server stops
                  moving data and never replies, keeping both connections open
  hold-stor-reply a STOR moves all its data, but its final reply ("226") is
                  never sent; the connection stays open
  hold-retr-reply the same after a RETR
  endless-list    LIST sends listing lines without end
  trickle         a RETR or STOR moves one byte every 0.2 seconds
  multiline-error every CWD is refused with a three-line 550 reply
  long-greeting   the greeting is about 400 KB long (400 lines)
  foreign-data    active-mode data connections come from 127.0.0.2 instead of
                  the server's own address
  no-active       the client's address in PORT and EPRT cannot be reached (as
                  behind a home router): the server tries a closed port and
                  answers "425 Can't connect to specified address."
  early-epsv      every successful CWD opens a passive data port at once, and
                  the reply to the EPSV that will come ("229 ...") goes out in
                  the same write as the CWD reply; the EPSV itself then gets
                  no reply of its own. The client finds the EPSV reply already
                  waiting when it looks for it, as a fast server on a short
                  path makes it by chance.

--glob makes LIST expand a file pattern ("*.log") as most servers do; plain
pyftpdlib answers 550 to a pattern, and so does this server without --glob.

--log FILE appends every command line the server receives, one per line as
"<session> <command line>" (the password of PASS replaced by "******"),
written before the server acts on the command.

--rate N limits each data connection to N bytes per second in both
directions (0: no limit).

--cwd-reply LINE answers every CWD with LINE as it stands (code and text,
e.g. a 550 whose text is markup), whatever the mode.
--tls explicit|implicit serves FTPS through pyftpdlib's TLS handler:
explicit waits for "AUTH TLS" on the plain control connection, implicit
speaks TLS from the first byte. --cert FILE names the server's certificate
and key (PEM); a missing FILE is filled with a new self-signed certificate
for "localhost" and 127.0.0.1, so each test makes its own.

--listing FILE makes LIST answer with the lines of FILE (raw bytes, one line
per LF, each sent with CR LF) instead of the folder's own listing, so that
tests can play the listing layouts of other servers (vsftpd, DOS-style,
"total" lines, names no file system holds such as "../x.log"). A pattern
argument is still refused with 550 unless --glob is given.
"""

import argparse
import fnmatch
import logging
import os
import signal
import sys

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, BufferedIteratorProducer, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

import serverlife

MODES = ("none", "refuse-login", "refuse-cwd", "missing-retr", "drop-transfer",
         "mute-greeting", "mute-after-login", "mute-at-cwd", "stall-transfer",
         "hold-stor-reply", "hold-retr-reply", "endless-list", "trickle", "multiline-error",
         "long-greeting", "foreign-data", "no-active", "early-epsv")
MULTILINE_ERROR = "550-The folder is not there.\r\n550-It was removed.\r\n550 Ask the server's owner."
TRICKLE_PAUSE = 0.2


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    serverlife.add_common_arguments(parser)
    parser.add_argument("--mode", choices=MODES, default="none")
    parser.add_argument("--glob", action="store_true")
    parser.add_argument("--listing", help="file whose lines LIST answers with")
    parser.add_argument("--cwd-reply", help="reply line to every CWD")
    parser.add_argument("--tls", choices=("explicit", "implicit"), help="serve FTPS")
    parser.add_argument("--cert", help="certificate and key (PEM); made when missing")
    parser.add_argument("--read-only", action="append", default=[],
                        help="a folder under the root the user may read but not write (repeatable)")
    return parser.parse_args()


class Authorizer(DummyAuthorizer):
    refuse_all = False

    def validate_authentication(self, username, password, handler):
        if self.refuse_all:
            raise AuthenticationFailed("Login incorrect.")
        try:
            super().validate_authentication(username, password, handler)
        except AuthenticationFailed:
            raise AuthenticationFailed("Login incorrect.")


class FaultDTPHandler(ThrottledDTPHandler):
    """A data channel that breaks off after its first block."""

    fault = "none"

    def _break_off(self):
        if self.fault == "drop-transfer":
            self.ioloop.call_later(0, self.cmd_channel.close, _errback=self.handle_error)
        # Both faults stop moving data; a stall keeps the sockets open.
        self.del_channel()

    def _file_transfer(self):
        return getattr(self.cmd_channel, "current_cmd", None) in ("RETR", "STOR", "APPE", "STOU")

    def _faulty(self):
        # Only file transfers break; listings move as usual.
        return self.fault in ("drop-transfer", "stall-transfer") and self._file_transfer()

    def _trickling(self):
        return self.fault == "trickle" and self._file_transfer()

    def _pause(self):
        def resume():
            if not self._closed:
                self.add_channel(events=self.ioloop.READ if self.receive else self.ioloop.WRITE)

        self.del_channel()
        self._cancel_throttler()
        self._throttler = self.ioloop.call_later(TRICKLE_PAUSE, resume, _errback=self.handle_error)

    def send(self, data):
        if self._trickling():
            sent = super().send(data[:1])
            self._pause()
            return sent
        if self._faulty():
            half = data[:max(1, len(data) // 2)]
            sent = super().send(half)
            self._break_off()
            return sent
        return super().send(data)

    def recv(self, buffer_size):
        if self._trickling():
            chunk = super().recv(1)
            if chunk:
                self._pause()
            return chunk
        chunk = super().recv(buffer_size)
        if self._faulty() and chunk:
            self._break_off()
        return chunk


class ForeignActiveDTP(ActiveDTP):
    """An active-mode data connection from another local address."""

    def connect_af_unspecified(self, addr, source_address=None):
        return super().connect_af_unspecified(addr, ("127.0.0.2", 0))


def endless_listing():
    number = 0
    while True:
        lines = []
        for _ in range(100):
            number += 1
            lines.append("-rw-r--r--   1 velth    velth         130 Dec 07 22:59 L%08d.log\r\n" % number)
        yield "".join(lines).encode("ascii")


class Handler(FTPHandler):
    mode = "none"
    glob = False
    listing = None
    cwd_reply = None
    log_file = None
    sessions = 0
    muted = False
    # Wrong passwords are answered at once: tests need no 3 s penalty.
    auth_failed_timeout = 0
    banner = "velth test server ready."

    def on_connect(self):
        Handler.sessions += 1
        self.session = Handler.sessions

    def handle(self):
        if self.mode == "mute-greeting":
            self.on_connect()
            self.log_line("(connected, no greeting)")
            return
        super().handle()

    def log_line(self, text):
        if self.log_file is not None:
            self.log_file.write("%d %s\n" % (getattr(self, "session", 0), text))
            self.log_file.flush()

    epsv_answered = False
    cwd_reply_waiting = None

    def respond(self, resp, logfun=None):
        held = {"hold-stor-reply": "STOR", "hold-retr-reply": "RETR"}.get(self.mode)
        if held and resp.startswith("226") and getattr(self, "current_cmd", None) == held:
            self.log_line("(226 withheld)")
            return
        if self.mode == "early-epsv":
            if self.cwd_reply_waiting is not None and resp.startswith("229"):
                # The passive port below is open: both replies in one write.
                resp = self.cwd_reply_waiting + "\r\n" + resp
                self.cwd_reply_waiting = None
                self.epsv_answered = True
                self.log_line("(229 sent with the CWD reply)")
            elif resp.startswith("250") and getattr(self, "current_cmd", None) in ("CWD", "XCWD"):
                self.cwd_reply_waiting = resp
                self._make_epasv(extmode=True)
                if self.cwd_reply_waiting is None:
                    return
                resp, self.cwd_reply_waiting = self.cwd_reply_waiting, None
        if logfun is None:
            super().respond(resp)
        else:
            super().respond(resp, logfun)

    def pre_process_command(self, line, cmd, arg):
        self.current_cmd = cmd
        self.log_line(cmd + " ******" if cmd == "PASS" else line)
        if self.mode == "mute-after-login" and self.authenticated:
            return
        if self.cwd_reply is not None and cmd in ("CWD", "XCWD"):
            self.respond(self.cwd_reply)
            return
        if self.mode == "mute-at-cwd" and (self.muted or cmd in ("CWD", "XCWD")):
            self.muted = True
            return
        if self.mode == "refuse-cwd" and cmd in ("CWD", "XCWD"):
            self.respond("550 Permission denied.")
            return
        if self.mode == "multiline-error" and cmd in ("CWD", "XCWD"):
            self.respond(MULTILINE_ERROR)
            return
        if self.mode == "early-epsv" and cmd == "EPSV" and self.epsv_answered:
            self.epsv_answered = False
            return
        if self.mode == "missing-retr" and cmd in ("SIZE", "RETR"):
            self.respond("550 No such file or directory.")
            return
        super().pre_process_command(line, cmd, arg)

    def _make_eport(self, ip, port):
        if self.mode == "no-active":
            # Port 9 of the loopback address: nothing listens there.
            port = 9
        return super()._make_eport(ip, port)

    def ftp_LIST(self, path):
        # pyftpdlib hands LIST the argument already joined to the current
        # folder; a pattern in its last part is expanded here.
        folder, pattern = os.path.split(path)
        if self.mode == "endless-list":
            self.push_dtp_data(BufferedIteratorProducer(endless_listing()), isproducer=True, cmd="LIST")
            return path
        if self.listing is not None and (self.glob or not any(c in pattern for c in "*?[")):
            self.push_dtp_data(b"".join(line + b"\r\n" for line in self.listing), cmd="LIST")
            return path
        if not self.glob or not any(c in pattern for c in "*?["):
            return super().ftp_LIST(path)
        try:
            names = sorted(n for n in self.run_as_current_user(self.fs.listdir, folder)
                           if fnmatch.fnmatchcase(n, pattern))
            iterator = self.fs.format_list(folder, names)
        except OSError as err:
            self.respond("550 %s." % (err.strerror or str(err)))
            return None
        self.push_dtp_data(BufferedIteratorProducer(iterator), isproducer=True, cmd="LIST")
        return path


def make_certificate(path):
    """Writes a new self-signed certificate and its key to path (PEM)."""
    from OpenSSL import crypto
    key = crypto.PKey()
    key.generate_key(crypto.TYPE_RSA, 2048)
    cert = crypto.X509()
    cert.set_version(2)
    cert.get_subject().CN = "localhost"
    cert.set_issuer(cert.get_subject())
    cert.set_serial_number(int.from_bytes(os.urandom(8), "big"))
    cert.gmtime_adj_notBefore(-3600)
    cert.gmtime_adj_notAfter(30 * 86400)
    cert.add_extensions([crypto.X509Extension(b"subjectAltName", False, b"DNS:localhost,IP:127.0.0.1")])
    cert.set_pubkey(key)
    cert.sign(key, "sha256")
    with open(path, "wb") as out:
        out.write(crypto.dump_certificate(crypto.FILETYPE_PEM, cert))
        out.write(crypto.dump_privatekey(crypto.FILETYPE_PEM, key))


REFUSED_DATA_TLS = "425 Unable to build data connection: TLS session not resumed."


def resumes_session(data, control):
    """Whether a data connection's TLS session resumed the control
    connection's (pyOpenSSL has no call for it; its OpenSSL binding does)."""
    from OpenSSL._util import ffi, lib

    def session_id(connection):
        session = lib.SSL_get_session(connection._ssl)
        if session == ffi.NULL:
            return None
        length = ffi.new("unsigned int *")
        return bytes(ffi.buffer(lib.SSL_SESSION_get_id(session, length), length[0]))

    return bool(lib.SSL_session_reused(data._ssl)) and session_id(data) == session_id(control)


def tls_handlers(mode, handler, dtp_handler):
    """FTPS versions of the control and data handlers."""
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    class TLSData(TLS_DTPHandler, dtp_handler):
        # pyftpdlib 1.5.7 closes a data connection that is not readable
        # before its transfer command arrived, also while its TLS handshake
        # is being accepted: libcurl opens the data connection and shakes
        # hands before it sends RETR, and gets a reset.
        def readable(self):
            return self._ssl_accepting or super().readable()

        # Like proftpd and vsftpd by default, take a data connection only when
        # its TLS session resumes the control connection's.
        # The transfer command gets "425", whether it came before the
        # handshake ended or comes after it.
        def handle_ssl_established(self):
            if resumes_session(self.socket, self.cmd_channel.socket):
                return super().handle_ssl_established()
            self.cmd_channel.log_line("(data connection refused: its TLS session is not the control connection's)")
            if getattr(self, "cmd", None):
                self._resp = (REFUSED_DATA_TLS, logging.debug)
            else:
                self.cmd_channel.refuse_next_transfer = True
            self.close()

    class TLSControl(handler, TLS_FTPHandler):
        dtp_handler = TLSData
        refuse_next_transfer = False

        def process_command(self, cmd, *args, **kwargs):
            if self.refuse_next_transfer and cmd in ("RETR", "STOR", "APPE", "STOU", "LIST", "NLST", "MLSD"):
                self.refuse_next_transfer = False
                return self.respond(REFUSED_DATA_TLS)
            return super().process_command(cmd, *args, **kwargs)

        def handle(self):
            if mode != "implicit":
                return super().handle()
            # Implicit TLS: the handshake first, the greeting over it.
            self.secure_connection(self.ssl_context)

        def handle_ssl_established(self):
            if mode == "implicit" and not getattr(self, "greeted", False):
                self.greeted = True
                handler.handle(self)

    return TLSControl


def main():
    args = parse_args()
    authorizer = Authorizer()
    authorizer.refuse_all = args.mode == "refuse-login"
    authorizer.add_user(args.user, args.password, os.path.realpath(args.root), perm="elradfmwMT")
    for folder in args.read_only:
        authorizer.override_perm(args.user, os.path.realpath(os.path.join(args.root, folder)), "elr", recursive=True)

    Handler.authorizer = authorizer
    Handler.mode = args.mode
    Handler.glob = args.glob
    if args.listing:
        with open(args.listing, "rb") as listing:
            data = listing.read()
        Handler.listing = data.split(b"\n") if data else []
    Handler.cwd_reply = args.cwd_reply
    Handler.permit_foreign_addresses = False
    Handler.permit_privileged_ports = args.mode == "no-active"
    if args.log:
        Handler.log_file = open(args.log, "a", encoding="utf-8", errors="surrogateescape")
    if args.mode == "long-greeting":
        Handler.banner = "\r\n".join("greeting line %03d %s" % (i, "x" * 980) for i in range(400))
    if args.mode == "foreign-data":
        Handler.active_dtp = ForeignActiveDTP
    if args.mode in ("drop-transfer", "stall-transfer", "trickle") or args.rate:
        FaultDTPHandler.fault = args.mode
        FaultDTPHandler.read_limit = args.rate
        FaultDTPHandler.write_limit = args.rate
        Handler.dtp_handler = FaultDTPHandler

    # pyftpdlib logs every command on stderr at INFO; only problems matter here.
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    handler = Handler
    if args.tls:
        if not os.path.exists(args.cert):
            make_certificate(args.cert)
        handler = tls_handlers(args.tls, Handler, Handler.dtp_handler)
        handler.certfile = args.cert

    server = FTPServer(("127.0.0.1", args.port), handler)

    def stop(*signal_and_frame):
        if not signal_and_frame:
            # Standard input closed: the loop runs in the main thread, which
            # the signal reaches.
            os.kill(os.getpid(), signal.SIGTERM)
            return
        raise SystemExit(0)

    serverlife.stop_on(stop, args.exit_on_eof)

    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
