#!/usr/bin/python3
"""A real SMTP server on loopback for the error report tests.

usage: smtp_server.py OUT_DIR USER PASSWORD [refuse]
With "refuse" every recipient is refused (550), as a server does that will not take the mail.
Prints the port it listens on, then stores each accepted message as OUT_DIR/<n>.eml with the
envelope in OUT_DIR/<n>.env ("MAIL FROM" line, then "RCPT TO" lines). Runs until stdin closes.
"""
import os
import socket
import sys
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

out_dir, user, password = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode()
refuse = len(sys.argv) > 4 and sys.argv[4] == "refuse"


class Handler:
    count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if refuse:
            return "550 5.7.1 Recipient refused"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        Handler.count += 1
        base = os.path.join(out_dir, str(Handler.count))
        with open(base + ".env.tmp", "w") as f:
            f.write("MAIL FROM:" + envelope.mail_from + "\n")
            for rcpt in envelope.rcpt_tos:
                f.write("RCPT TO:" + rcpt + "\n")
            f.write("AUTH:" + str(session.authenticated) + "\n")
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".env.tmp", base + ".env")
        return "250 Message accepted for delivery"


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data.login == user and auth_data.password == password
    return AuthResult(success=ok)


probe = socket.socket()
probe.bind(("127.0.0.1", 0))
port = probe.getsockname()[1]
probe.close()
controller = Controller(Handler(), hostname="127.0.0.1", port=port, authenticator=authenticator,
                        auth_require_tls=False, auth_required=True)
controller.start()
print(port, flush=True)
sys.stdin.read()
controller.stop()
