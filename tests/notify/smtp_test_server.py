#!/usr/bin/env python3
"""A real SMTP server on 127.0.0.1 for the mail client's tests (aiosmtpd).

It binds a free port itself and writes the number to --port-file once it listens,
so the test never races another program for a port. Every accepted message is
appended to --capture as one line of tab-separated fields, each Base64 of its UTF-8
text (easy to read from C++): envelope sender, recipients (one per line), login,
password, the message bytes exactly as they arrived, and what Python's own mail
parser makes of the message: the decoded Subject, the decoded From display name, the
From address, the To header and the Date as Unix seconds; then what a strict reading
finds wrong (email.policy.strict, plus lines over 998 octets and a CR or LF that is
not part of a line end; empty when nothing), the body text decoded (line ends as
"\n"), the Message-ID and the parameters of MAIL FROM.

Modes:
  smtp     an ordinary server; --auth offers AUTH LOGIN and PLAIN without TLS,
           --no-login offers PLAIN only; --expect-login NAME:PASSWORD refuses
           every other login with 535; recipients starting with "nobody@" are
           refused with 550
  silent   accepts connections and never says a word
  endless  greets with a line that never ends
  echo-auth  offers AUTH LOGIN (with --auth) and refuses every login with a reply
           that quotes what the client sent: the Base64 lines and the password
  deaf     accepts connections, never reads and never says a word
  fqdn     refuses with 504 an EHLO or HELO name that is neither fully qualified nor
           an address literal; notes each name as "NAME <name>" in the transcript
  strict8bit  as smtp, but a message with 8-bit data sent without BODY=8BITMIME is
           refused with 550 5.6.0
  no8bitmime  as smtp, but 8BITMIME is not announced: BODY=8BITMIME and 8-bit data
           are refused

Protection (--tls, with --cert/--key: the server's certificate chain and key, PEM;
implicit works with every mode):
  starttls  announces STARTTLS and refuses mail before it (require_starttls); AUTH
            is offered only inside TLS
  implicit  TLS on the socket from the first byte (port 465 style); AUTH offered
Without --tls the server announces no STARTTLS at all.

Recipients (any mode that takes mail): --refuse-rcpt ADDR answers 550 to that
address, --defer-rcpt ADDR 450 (each may be given more than once; with --defer-times N
only the first N times an address is asked for). --smtputf8
announces SMTPUTF8 and, as RFC 6531 asks, refuses with 553 an address outside ASCII
in MAIL or RCPT unless MAIL FROM carried SMTPUTF8; without it a command line outside
ASCII gets aiosmtpd's own 500. A message sent with SMTPUTF8 is read as UTF-8 under a
utf8 clone of the strict policy, where a local part outside ASCII is no defect.

--transcript: one line per EHLO, STARTTLS, AUTH, MAIL and DATA the server took,
"VERB 1" when it came inside TLS, "VERB 0" when in clear text.
"""

import argparse
import asyncio
import base64
import email
import email.errors
import email.policy
import logging
import os
import re
import socket
import ssl
import sys

from aiosmtpd.smtp import MISSING, SMTP, AuthResult


def write_port(path, port):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(port))
    os.replace(tmp, path)


def parse(raw, policy, utf8):
    """The message as a reader of its kind sees it: one sent with SMTPUTF8 is UTF-8
    text (RFC 6532), any other is bytes."""
    if utf8:
        return email.message_from_string(raw.decode("utf-8"), policy=policy.clone(utf8=True))
    return email.message_from_bytes(raw, policy=policy)


def strict_reading(raw, utf8=False):
    """What a strict reader finds wrong with the message, and its body text."""
    problems = []
    for number, line in enumerate(raw.split(b"\r\n")[:-1] if raw.endswith(b"\r\n") else raw.split(b"\r\n")):
        if len(line) > 998:
            problems.append("line %d has %d octets" % (number + 1, len(line)))
        if b"\r" in line or b"\n" in line:
            problems.append("line %d holds a bare CR or LF" % (number + 1))
    body = ""
    try:
        message = parse(raw, email.policy.strict, utf8)
        problems += [repr(d) for d in message.defects]
        for name in message.keys():
            # Python's parser flags every local part outside ASCII, which RFC 6532
            # allows in a message sent with SMTPUTF8.
            problems += ["%s: %r" % (name, d) for d in message[name].defects
                         if not (utf8 and isinstance(d, email.errors.NonASCIILocalPartDefect))]
        if utf8:
            # The headers are read from the text, the body from the bytes: a body
            # taken from text loses its 8-bit characters in Python's decoder.
            message = email.message_from_bytes(raw, policy=email.policy.strict.clone(utf8=True))
            problems += [repr(d) for d in message.defects]
        body = message.get_content().replace("\r\n", "\n")
    except Exception as e:  # strict raises on the first defect
        problems.append("%s: %s" % (type(e).__name__, e))
    return "\n".join(problems), body


class Capture:
    def __init__(self, path, mode="smtp", refuse=(), defer=(), smtputf8=False, defer_times=-1):
        self.path = path
        self.defer_left = {a.lower(): defer_times for a in defer}
        self.mode = mode
        self.refuse = {a.lower() for a in refuse}
        self.defer = {a.lower() for a in defer}
        self.smtputf8 = smtputf8

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.smtputf8 and not address.isascii() and "SMTPUTF8" not in mail_options:
            return "553 5.6.7 <%s>: SMTPUTF8 is required for this address" % address
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if self.mode == "no8bitmime":
            responses = [r for r in responses if r[4:] != "8BITMIME"]
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().startswith("nobody@") or address.lower() in self.refuse:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        if address.lower() in self.defer and self.defer_left[address.lower()] != 0:
            self.defer_left[address.lower()] -= 1
            return "450 4.2.1 <%s>: Mailbox busy, try again later" % address
        if self.smtputf8 and not address.isascii() and not envelope.smtp_utf8:
            return "553 5.6.7 <%s>: SMTPUTF8 is required for this address" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        login, password = b"", b""
        if session.authenticated and session.auth_data is not None:
            login, password = session.auth_data.login, session.auth_data.password
        raw = envelope.original_content
        declared = "BODY=8BITMIME" in envelope.mail_options
        if self.mode == "no8bitmime" and declared:
            return "555 5.5.4 BODY=8BITMIME was not offered"
        if self.mode in ("strict8bit", "no8bitmime") and not declared and any(b >= 0x80 for b in raw):
            return "550 5.6.0 improper use of 8-bit data in message body"
        utf8 = "SMTPUTF8" in envelope.mail_options
        problems, text = strict_reading(raw, utf8)
        message = parse(raw, email.policy.default, utf8)
        sender = message["From"]
        date = message["Date"]

        def field(value):
            if isinstance(value, str):
                value = value.encode("utf-8", "surrogateescape")
            return base64.b64encode(value).decode("ascii")

        fields = [
            envelope.mail_from,
            "\n".join(envelope.rcpt_tos),
            login,
            password,
            raw,
            str(message["Subject"] or ""),
            sender.addresses[0].display_name if sender is not None else "",
            sender.addresses[0].addr_spec if sender is not None else "",
            str(message["To"] or ""),
            str(int(date.datetime.timestamp())) if date is not None else "",
            problems,
            text,
            str(message["Message-ID"] or ""),
            " ".join(envelope.mail_options),
        ]
        with open(self.path, "a") as f:
            f.write("\t".join(field(v) for v in fields) + "\n")
        return "250 2.0.0 Message accepted"


EXPECTED_LOGIN = None  # (login, password) as bytes when --expect-login is given


def authenticator(server, session, envelope, mechanism, auth_data):
    if EXPECTED_LOGIN is not None and (auth_data.login, auth_data.password) != EXPECTED_LOGIN:
        return AuthResult(success=False, handled=False)
    return AuthResult(success=True, auth_data=auth_data)


class Silent(asyncio.Protocol):
    def connection_made(self, transport):
        self.transport = transport  # keep it open, say nothing


class Deaf(asyncio.Protocol):
    def connection_made(self, transport):
        self.transport = transport
        transport.pause_reading()  # what the peer writes piles up until it has to wait


class Endless(asyncio.Protocol):
    def connection_made(self, transport):
        self.transport = transport
        self.closed = False
        transport.write(b"220 ")
        asyncio.get_running_loop().create_task(self.pour())

    def connection_lost(self, exc):
        self.closed = True

    async def pour(self):
        chunk = b"x" * 65536
        while not self.closed:
            self.transport.write(chunk)
            await asyncio.sleep(0.001)
            # Let the client's reading set the pace rather than our memory.
            while not self.closed and self.transport.get_write_buffer_size() > 1 << 20:
                await asyncio.sleep(0.01)


class NoEhlo(SMTP):
    """A server of the old kind: EHLO is an unknown command, HELO works."""

    async def smtp_EHLO(self, hostname):
        await self.push("500 5.5.1 Command unrecognized: EHLO")


class DropInData(SMTP):
    """Takes DATA, lets part of the message arrive, then hangs up."""

    async def smtp_DATA(self, arg):
        await self.push("354 End data with <CR><LF>.<CR><LF>")
        await asyncio.sleep(0.05)
        self.transport.close()


class EchoAuth(SMTP):
    """Refuses every login, quoting the exchange back, as some careless servers do."""

    async def auth_LOGIN(self, _, args):
        login = await self.challenge_auth("Username:")
        if login is MISSING:
            return AuthResult(success=False)
        password = await self.challenge_auth("Password:")
        if password is MISSING:
            return AuthResult(success=False)
        encoded = [base64.b64encode(v).decode("ascii") for v in (login, password)]
        await self.push("535-5.7.8 You sent %s" % encoded[0])
        await self.push("535-5.7.8 and %s" % encoded[1])
        await self.push("535 5.7.8 that is %s, which is wrong" % password.decode("utf-8", "replace"))
        return AuthResult(success=False, handled=True)


class Fqdn(SMTP):
    """Takes only a fully qualified name or an address literal in EHLO and HELO, as a
    server with reject_non_fqdn_helo_hostname does; writes each name given to the
    transcript as "NAME <name>"."""

    def _qualified(self, name):
        with open(Recording.transcript, "a") as f:
            f.write("NAME %s\n" % name)
        if re.fullmatch(r"\[(\d{1,3}(\.\d{1,3}){3}|IPv6:[0-9A-Fa-f:.]+)\]", name or ""):
            return True
        labels = (name or "").split(".")
        return len(labels) >= 2 and all(re.fullmatch(r"[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?", l) for l in labels)

    async def smtp_EHLO(self, hostname):
        if not self._qualified(hostname):
            await self.push("504 5.5.2 <%s>: Helo command rejected: need fully-qualified hostname" % hostname)
            return
        await super().smtp_EHLO(hostname)

    async def smtp_HELO(self, hostname):
        if not self._qualified(hostname):
            await self.push("504 5.5.2 <%s>: Helo command rejected: need fully-qualified hostname" % hostname)
            return
        await super().smtp_HELO(hostname)


class LongReply(SMTP):
    """Answers EHLO with one line of 100 kB."""

    async def smtp_EHLO(self, hostname):
        await self.push("250 " + "x" * 100000)


class Recording:
    """Writes down each command of interest and whether TLS protected it."""

    transcript = os.devnull

    def _note(self, verb):
        inside = self.transport is not None and self.transport.get_extra_info("ssl_object") is not None
        with open(self.transcript, "a") as f:
            f.write("%s %d\n" % (verb, 1 if inside else 0))

    async def smtp_EHLO(self, hostname):
        self._note("EHLO")
        await super().smtp_EHLO(hostname)

    async def smtp_STARTTLS(self, arg):
        self._note("STARTTLS")
        await super().smtp_STARTTLS(arg)

    async def smtp_AUTH(self, arg):
        self._note("AUTH")
        await super().smtp_AUTH(arg)

    async def smtp_MAIL(self, arg):
        self._note("MAIL")
        await super().smtp_MAIL(arg)

    async def smtp_DATA(self, arg):
        self._note("DATA")
        await super().smtp_DATA(arg)


def server_context(args):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)
    return context


async def main(args):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", args.port))
    loop = asyncio.get_running_loop()
    # Implicit TLS wraps any mode, so a peer can also fall silent or pour one endless
    # line inside TLS.
    socket_tls = server_context(args) if args.tls == "implicit" else None
    if args.mode == "silent":
        factory = Silent
    elif args.mode == "endless":
        factory = Endless
    elif args.mode == "deaf":
        factory = Deaf
    else:
        handler = Capture(args.capture, args.mode, args.refuse_rcpt, args.defer_rcpt, args.smtputf8, args.defer_times)
        options = {"hostname": "testhost", "loop": loop, "enable_SMTPUTF8": args.smtputf8}
        if args.auth or args.no_login:
            options.update(authenticator=authenticator, auth_require_tls=False)
            if args.no_login:
                options["auth_exclude_mechanism"] = ["LOGIN"]

        if args.tls == "starttls":
            options.update(tls_context=server_context(args), require_starttls=True)
            if args.auth or args.no_login:
                options["auth_require_tls"] = True

        base = {"smtp": SMTP, "no-ehlo": NoEhlo, "drop-in-data": DropInData, "long-reply": LongReply,
                "echo-auth": EchoAuth, "fqdn": Fqdn, "strict8bit": SMTP, "no8bitmime": SMTP}[args.mode]
        Recording.transcript = args.transcript
        kind = type("Recording" + base.__name__, (Recording, base), {})

        def factory():
            return kind(handler, **options)

    server = await loop.create_server(factory, sock=sock, ssl=socket_tls)
    write_port(args.port_file, sock.getsockname()[1])
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=["smtp", "silent", "endless", "deaf", "no-ehlo", "drop-in-data", "long-reply",
                                               "echo-auth", "fqdn", "strict8bit", "no8bitmime"],
                        default="smtp")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--capture", default=os.devnull)
    parser.add_argument("--auth", action="store_true")
    parser.add_argument("--no-login", action="store_true")
    parser.add_argument("--expect-login")
    parser.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--transcript", default=os.devnull)
    parser.add_argument("--refuse-rcpt", action="append", default=[])
    parser.add_argument("--defer-rcpt", action="append", default=[])
    parser.add_argument("--defer-times", type=int, default=-1)
    parser.add_argument("--smtputf8", action="store_true")
    # aiosmtpd warns about its own use of a deprecated field on every login.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    parsed = parser.parse_args()
    if parsed.expect_login is not None:
        name, _, password = parsed.expect_login.partition(":")
        # The bytes as given, whatever the locale makes of them.
        EXPECTED_LOGIN = (os.fsencode(name), os.fsencode(password))
    try:
        asyncio.run(main(parsed))
    except KeyboardInterrupt:
        sys.exit(0)
