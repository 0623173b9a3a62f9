"""pyftpdlib for the FTP tests: one server on loopback serving a folder, with misbehaviour on demand.

Run with /usr/bin/python3 (Debian's python3-pyftpdlib belongs to it).
"""
import argparse
import socket
import struct
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--without", action="append", default=[], help="a command the server does not know")
    parser.add_argument("--throttle", type=int, default=0, help="bytes per second on data connections")
    parser.add_argument("--kill-after", type=int, default=0, help="reset each data connection after this many bytes")
    parser.add_argument("--stall-after-login", action="store_true", help="never answer TYPE")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    if args.user:
        authorizer.add_user(args.user, args.password, args.root, perm="elr")
    else:
        authorizer.add_anonymous(args.root)

    dtp = DTPHandler
    if args.throttle:
        dtp = type("Throttled", (ThrottledDTPHandler,), {"write_limit": args.throttle})
    if args.kill_after:
        limit = args.kill_after

        class Killing(dtp):
            sent = 0

            def send(self, data):
                data = data[: max(0, limit - self.sent)]
                result = super().send(data) if data else 0
                self.sent += result
                if self.sent >= limit:
                    time.sleep(0.3)  # lets the client read what was sent before the reset
                    self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.handle_close()
                return result

        dtp = Killing

    commands = {name: value for name, value in FTPHandler.proto_cmds.items() if name not in args.without}
    attributes = {"authorizer": authorizer, "dtp_handler": dtp, "proto_cmds": commands, "use_sendfile": False,
                  "auth_failed_timeout": 0}
    if args.stall_after_login:
        attributes["ftp_TYPE"] = lambda self, line: None
    handler = type("Handler", (FTPHandler,), attributes)

    server = FTPServer((args.address, args.port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
