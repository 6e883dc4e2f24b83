"""A pyftpdlib server for the tests: 127.0.0.1, a port the system picks
(printed as "PORT n" once it listens), one user with full rights on --root.

--login-dir puts the user in a folder below the root after login, so PWD
answers a deeper login folder. --extra-line and --extra-mlsd-line add raw
LIST and MLSD lines to the listing of the root folder (names no real file
system can hold). --no-mlst leaves MLST/MLSD out, so clients use LIST.
Misbehaviour on demand: --drip S waits S seconds before each listing line,
--endless-listing never ends a listing, --stall-after-pasv answers PASV and
then nothing, --drop-after CMD carries out CMD and closes the connection
without a reply, --drop-after-bytes N closes the connection once a RETR has
sent N bytes, --refuse CMD answers CMD with 550, --rate B limits each data
connection to B bytes a second.
--tls-cert FILE (and --tls-key FILE when the key is apart) serves explicit
FTPS instead: AUTH TLS and PROT P are required, so nothing crosses in clear
text; every option above works the same over TLS.
"""
import argparse
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--login-dir", default="/")
    parser.add_argument("--idle-timeout", type=int, default=300)
    parser.add_argument("--extra-line", action="append", default=[])
    parser.add_argument("--max-cons", type=int, default=0)
    parser.add_argument("--extra-mlsd-line", action="append", default=[])
    parser.add_argument("--no-mlst", action="store_true")
    parser.add_argument("--drip", type=float, default=0)
    parser.add_argument("--endless-listing", action="store_true")
    parser.add_argument("--stall-after-pasv", action="store_true")
    parser.add_argument("--drop-after", default="")
    parser.add_argument("--drop-after-bytes", type=int, default=-1)
    parser.add_argument("--refuse", default="")
    parser.add_argument("--rate", type=int, default=0)
    parser.add_argument("--tls-cert", default="")
    parser.add_argument("--tls-key", default="")
    args = parser.parse_args()

    logging.basicConfig(level=logging.CRITICAL)
    root = os.path.realpath(args.root)

    def misbehave(lines):
        for line in lines:
            if args.drip:
                time.sleep(args.drip)
            yield line
        n = 0
        while args.endless_listing:
            n += 1
            yield ("-rw-r--r-- 1 u g %d Jan 02  2020 endless%d.txt\r\n" % (n, n)).encode()

    def extra(basedir, lines):
        if os.path.realpath(basedir) == root:
            for line in lines:
                line = line.replace("<NUL>", "\0")  # argv cannot carry a NUL
                yield (line + "\r\n").encode("utf8", "surrogateescape")

    class FS(AbstractedFS):
        def format_list(self, basedir, listing, ignore_err=True):
            yield from misbehave(super().format_list(basedir, listing, ignore_err))
            yield from extra(basedir, args.extra_line)

        def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
            yield from misbehave(
                super().format_mlsx(basedir, listing, perms, facts, ignore_err))
            yield from extra(basedir, args.extra_mlsd_line)

    def cut(handler):
        # Gone at once, as if the network failed: no TLS goodbye first, which
        # would wait for the client's.
        for channel in (handler, handler.data_channel):
            if channel is not None:
                channel._error = True  # makes SSLConnection.close skip it
        handler.close()

    if args.tls_cert:
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

        class DTPBase(TLS_DTPHandler, ThrottledDTPHandler):
            # pyftpdlib 1.5.7 closes a data connection that has something
            # to read before its transfer starts, which is where a client's
            # TLS handshake begins (pyftpdlib #604, fixed upstream later).
            def readable(self):
                return self._ssl_accepting or super().readable()

        HandlerBase = TLS_FTPHandler
    else:
        DTPBase, HandlerBase = ThrottledDTPHandler, FTPHandler

    class DTP(DTPBase):
        read_limit = args.rate
        write_limit = args.rate

        def send(self, data):
            if args.drop_after_bytes >= 0 and getattr(self, "cmd", None) == "RETR":
                left = args.drop_after_bytes - self.tot_bytes_sent
                if left <= 0:
                    cut(self.cmd_channel)  # takes the data connection along
                    return 0
                data = data[:left]
            return super().send(data)

        def handle_close(self):
            # A data connection the client closes before any transfer (after
            # a refused STOR, say) goes without a reply, as it does without
            # TLS; over TLS its broken handshake would answer a stray 226.
            if not self._initialized:
                self.close()
            else:
                super().handle_close()

    class Handler(HandlerBase):
        abstracted_fs = FS
        dtp_handler = DTP
        # Throttling and cutting a download short need the data to pass send().
        use_sendfile = args.rate == 0 and args.drop_after_bytes < 0
        timeout = args.idle_timeout
        # Real servers delay a refused login; short here to keep tests quick.
        auth_failed_timeout = 0.2

        if args.no_mlst:
            proto_cmds = {k: v for k, v in HandlerBase.proto_cmds.items()
                          if k not in ("MLST", "MLSD")}

        def pre_process_command(self, line, cmd, arg):
            if args.stall_after_pasv and cmd in ("LIST", "MLSD", "NLST", "RETR"):
                return  # the data connection is open; no reply ever comes
            if cmd == args.refuse:
                self.respond("550 Refused by the test server.")
                return
            if cmd == args.drop_after:
                self.dropping = True  # carried out, the reply is lost
                super().pre_process_command(line, cmd, arg)
                cut(self)
                return
            super().pre_process_command(line, cmd, arg)

        def respond(self, resp, logfun=None):
            if getattr(self, "dropping", False):
                return
            if logfun is None:
                super().respond(resp)
            else:
                super().respond(resp, logfun)

        def on_login(self, username):
            if args.login_dir != "/":
                self.fs.cwd = args.login_dir

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    if args.tls_cert:
        Handler.certfile = args.tls_cert
        Handler.keyfile = args.tls_key or None
        Handler.tls_control_required = True
        Handler.tls_data_required = True
    server = FTPServer(("127.0.0.1", 0), Handler)
    if args.max_cons > 0:
        server.max_cons = args.max_cons
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
