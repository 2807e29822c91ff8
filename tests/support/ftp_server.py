#!/usr/bin/python3
"""Loopback FTP server for the tests (pyftpdlib).

Listens on --host/--port (port 0: the OS picks one), lets one user with a password read and
write inside --root, prints "PORT <n>" on stdout once it accepts connections, and serves until
it gets SIGTERM or its stdin reaches end of file (so it never outlives the test process that
started it, even when that one crashes).

Debian's python3-pyftpdlib is installed for /usr/bin/python3 only: start it with that.
"""
import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--perm", default="elradfmwMT",
                        help="pyftpdlib permission letters of the user")
    parser.add_argument("--refuse-stor", default="",
                        help="answer STOR of names holding this text with 553")
    parser.add_argument("--no-stdin-watch", action="store_true",
                        help="keep serving when stdin closes")
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    root = os.path.abspath(args.root)
    os.makedirs(root, exist_ok=True)
    authorizer = DummyAuthorizer()
    # By default every permission: list, change folder, read, append, delete, rename, make
    # folder, write, change mode and set modification time.
    authorizer.add_user(args.user, args.password, root, perm=args.perm)

    class Handler(FTPHandler):
        def ftp_STOR(self, file, mode="w"):
            if args.refuse_stor and args.refuse_stor in os.path.basename(file):
                self.respond("553 Could not create file.")
                return None
            return FTPHandler.ftp_STOR(self, file, mode)

    Handler.authorizer = authorizer
    # Names travel as raw bytes: a client that sends GBK file names gets exactly those bytes
    # on disk instead of replacement characters.
    Handler.unicode_errors = "surrogateescape"
    Handler.banner = "tarvex test ftp ready"
    # A refused login answers at once; the default 3 s pause only slows the tests down.
    Handler.auth_failed_timeout = 0.1

    server = FTPServer((args.host, args.port), Handler)
    server.max_cons = 64
    port = server.socket.getsockname()[1]

    if not args.no_stdin_watch:
        def watch_stdin():
            try:
                while sys.stdin.buffer.read(4096):
                    pass
            finally:
                os._exit(0)

        threading.Thread(target=watch_stdin, daemon=True).start()

    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
