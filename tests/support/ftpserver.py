"""A pyftpdlib server for the tests: 127.0.0.1, a port the system picks
(printed as "PORT n" once it listens), one user with full rights on --root.

--login-dir puts the user in a folder below the root after login, so PWD
answers a deeper login folder. --extra-line adds raw LIST lines to the
listing of the root folder (names no real file system can hold).
"""
import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
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
    args = parser.parse_args()

    logging.basicConfig(level=logging.CRITICAL)
    root = os.path.realpath(args.root)

    class FS(AbstractedFS):
        def format_list(self, basedir, listing, ignore_err=True):
            yield from super().format_list(basedir, listing, ignore_err)
            if os.path.realpath(basedir) == root:
                for line in args.extra_line:
                    yield (line + "\r\n").encode("utf8", "surrogateescape")

    class Handler(FTPHandler):
        abstracted_fs = FS
        timeout = args.idle_timeout
        # Real servers delay a refused login; short here to keep tests quick.
        auth_failed_timeout = 0.2

        def on_login(self, username):
            if args.login_dir != "/":
                self.fs.cwd = args.login_dir

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), Handler)
    if args.max_cons > 0:
        server.max_cons = args.max_cons
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
