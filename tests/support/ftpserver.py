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
Uploads (STOR, APPE) and renames: --refuse-rename-onto-existing answers an
RNTO onto an existing file with 550 and renames nothing;
--refuse-hidden-names answers STOR, APPE, RNFR and RNTO of a name starting
with "." with 553 before any data moves; --disk-full-after-bytes N keeps
the first N bytes an upload sends, reads and drops the rest, and then
answers 452, as a server that read all the client sent (a file of at most
N bytes goes through); --drop-upload-after-bytes N cuts the control
and data connections once an upload has received N bytes, which stay in
the file.
--drop-control-after-transfers K closes the control connection right after
the 226 of the K-th file transfer (RETR, STOR, APPE) of that connection.
--drop-once makes --drop-after-bytes, --drop-upload-after-bytes and
--drop-control-after-transfers act the first time they trigger only.
--command-log FILE appends every command line received to FILE, with the
argument of PASS written as "****".
--tls-cert FILE (and --tls-key FILE when the key is apart) serves explicit
FTPS instead: AUTH TLS and PROT P are required, so nothing crosses in clear
text; every option above works the same over TLS.
"""
import argparse
import logging
import os
import posixpath
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.ioloop import RetryError
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
    parser.add_argument("--refuse-rename-onto-existing", action="store_true")
    parser.add_argument("--refuse-hidden-names", action="store_true")
    parser.add_argument("--disk-full-after-bytes", type=int, default=-1)
    parser.add_argument("--drop-upload-after-bytes", type=int, default=-1)
    parser.add_argument("--drop-control-after-transfers", type=int, default=0)
    parser.add_argument("--drop-once", action="store_true")
    parser.add_argument("--command-log", default="")
    args = parser.parse_args()

    logging.basicConfig(level=logging.CRITICAL)
    root = os.path.realpath(args.root)
    command_log = None
    if args.command_log:
        command_log = open(args.command_log, "a", encoding="utf8",
                           errors="surrogateescape")

    dropped = set()  # the drops that have happened (for --drop-once)

    def armed(drop):
        return not (args.drop_once and drop in dropped)

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
        disk_full = False

        def send(self, data):
            if (args.drop_after_bytes >= 0 and getattr(self, "cmd", None) == "RETR"
                    and armed("download")):
                left = args.drop_after_bytes - self.tot_bytes_sent
                if left <= 0:
                    dropped.add("download")
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
            elif self.disk_full and not self._closed:
                self._resp = ("452 Insufficient storage space (test server).",
                              logging.info)
                self.close()
            else:
                super().handle_close()

        def upload_limits(self):
            if not self.receive or self.cmd not in ("STOR", "APPE"):
                return -1, -1
            drop = args.drop_upload_after_bytes if armed("upload") else -1
            return args.disk_full_after_bytes, drop

        def recv(self, buffer_size):
            full, drop = self.upload_limits()
            if self.disk_full:
                chunk = super().recv(buffer_size)
                if chunk:
                    raise RetryError  # read and dropped: the disk is full
                return chunk
            got = self.tot_bytes_received
            # Never read past a drop; read one byte past a full disk, to
            # tell a file that just fits from one that does not.
            if drop >= 0:
                buffer_size = min(buffer_size, max(1, drop - got))
            if full >= 0:
                buffer_size = min(buffer_size, full - got + 1)
            chunk = super().recv(buffer_size)
            if full >= 0 and got + len(chunk) > full:
                self.disk_full = True
                chunk = chunk[:full - got]
                if not chunk:
                    raise RetryError  # nothing to write
            return chunk

        def handle_read_event(self):
            # DTPHandler binds handle_read_event to its own handle_read, so
            # the upload checks go here.
            if not self.stop_upload():
                super().handle_read_event()
                self.stop_upload()

        def stop_upload(self):
            if self._closed or getattr(self, "_ssl_accepting", False):
                return False
            _, drop = self.upload_limits()
            if drop >= 0 and self.tot_bytes_received >= drop:
                dropped.add("upload")
                cut(self.cmd_channel)
                return True
            return False

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
        transfers = 0  # completed on this control connection
        hang_up = False
        idle_call = None

        # pyftpdlib 1.5.7's own idle timer never fires once a user is logged
        # in; this one does, after the same time without a command.
        def on_connect(self):
            self.watch_idle()

        def watch_idle(self):
            if self.idle_call is not None and not self.idle_call.cancelled:
                self.idle_call.cancel()
            self.idle_call = self.ioloop.call_later(
                args.idle_timeout, self.idle_out, _errback=self.handle_error)

        def idle_out(self):
            if not self.connected:
                return
            if self.data_channel is not None:  # a transfer is no idle time
                self.watch_idle()
                return
            self.respond("421 Control connection timed out.")
            self.close_when_done()

        def pre_process_command(self, line, cmd, arg):
            self.watch_idle()
            if command_log is not None:  # flushed: tests read it meanwhile
                command_log.write("PASS ****\n" if cmd == "PASS" else line + "\n")
                command_log.flush()
            if args.stall_after_pasv and cmd in ("LIST", "MLSD", "NLST", "RETR"):
                return  # the data connection is open; no reply ever comes
            if cmd == args.refuse:
                self.respond("550 Refused by the test server.")
                return
            if (args.refuse_hidden_names and self.authenticated
                    and cmd in ("STOR", "APPE", "RNFR", "RNTO")
                    and posixpath.basename(arg.rstrip("/")).startswith(".")):
                if cmd == "RNTO":
                    self._rnfr = None
                self.respond("553 Hidden names refused by the test server.")
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

        def ftp_RNTO(self, path):
            if args.refuse_rename_onto_existing and self._rnfr and self.fs.isfile(path):
                self._rnfr = None
                self.respond("550 Target exists: refused by the test server.")
                return
            return super().ftp_RNTO(path)

        def on_file_sent(self, file):
            self.count_transfer()

        def on_file_received(self, file):
            self.count_transfer()

        def count_transfer(self):
            # Called while the data connection that ended with 226 closes.
            channel = getattr(self, "data_channel", None)
            if (args.drop_control_after_transfers <= 0 or channel is None
                    or channel.cmd not in ("RETR", "STOR", "APPE")):
                return
            self.transfers += 1
            if self.transfers == args.drop_control_after_transfers and armed("control"):
                dropped.add("control")
                self.hang_up = True

        def _on_dtp_close(self):
            super()._on_dtp_close()
            if self.hang_up:
                self.close_when_done()  # once the 226 has gone out

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
