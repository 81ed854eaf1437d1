#!/usr/bin/env python3
"""Writes the decoder's fixture messages with real mail tools: Python's email package
(default policy), swaks and mpack. Run it from this directory; the files it writes are
kept in the repository, so the tests need none of the tools."""
import email.policy
import os
import subprocess
import sys
import tempfile
from email.message import EmailMessage

policy = email.policy.default

PNG = bytes.fromhex(
    "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
    "1f15c4890000000d49444154789c63000100000500010d0a2db40000000049454e44ae426082")
BLOB = bytes(range(256)) * 3 + b"\r\n\x00end"


def base(subject, n):
    m = EmailMessage(policy=policy)
    m["From"] = "Dora Example <dora@example.test>"
    m["To"] = "alice@example.test"
    m["Subject"] = subject
    m["Date"] = "Mon, 07 Dec 2026 10:15:00 +0100"
    m["Message-ID"] = f"<fixture-{n}@example.test>"
    return m


def save(name, message):
    data = message.as_bytes(policy=policy.clone(linesep="\r\n"))
    with open(name, "wb") as f:
        f.write(data)


def python_fixtures():
    # multipart/mixed holding multipart/alternative (plain, html) and a file.
    m = base("Figures attached", 1)
    m.set_content("Hello Alice,\n\nthe figures are attached: 5 € each.\n\nDora\n")
    m.add_alternative("<p>Hello Alice,</p><p>the figures are attached: 5 &euro; each.</p>",
                      subtype="html")
    m.add_attachment(BLOB, maintype="application", subtype="octet-stream",
                     filename="figures.bin")
    save("python-alternative-attachment.eml", m)

    # multipart/alternative whose HTML is multipart/related with an inline picture.
    m = base("Picture inline", 2)
    m.set_content("See the picture below.\n")
    m.add_alternative('<html><body><p>See the picture below.</p>'
                      '<img src="cid:dot@example.test"></body></html>', subtype="html")
    m.get_payload()[1].add_related(PNG, maintype="image", subtype="png", cid="<dot@example.test>")
    save("python-related-inline.eml", m)

    # Non-ASCII UTF-8 text as quoted-printable and as base64.
    text = "Grüße aus Köln – café, naïve, 日本語.\n" + "Eine lange Zeile " * 8 + "Ende.\n"
    m = base("QP text", 3)
    m.set_content(text, cte="quoted-printable")
    save("python-qp-utf8.eml", m)
    m = base("Base64 text", 4)
    m.set_content(text, cte="base64")
    save("python-base64-utf8.eml", m)

    # 8-bit charsets other than UTF-8.
    m = base("Latin-1", 5)
    m.set_content("Déjà vu, façade, smørrebrød.\n", charset="iso-8859-1", cte="8bit")
    save("python-latin1.eml", m)
    m = base("Windows-1252", 6)
    m.set_content("“Quoted” – 10 € … done.\n", charset="windows-1252", cte="quoted-printable")
    save("python-cp1252.eml", m)
    m = base("ISO-2022-JP", 7)
    m.set_content("こんにちは、世界。\n日本語のメールです。\n", charset="iso-2022-jp", cte="7bit")
    save("python-iso2022jp.eml", m)

    # HTML only, as newsletters and web mailers send it.
    m = base("Newsletter", 8)
    m.set_content("<html><head><title>News</title><style>p { color: red; }</style></head>"
                  "<body><h1>December news</h1><p>Prices &amp; dates:<br>one<br>two</p>"
                  "<script>alert('x')</script><ul><li>caf&eacute;</li><li>&#8364; 5</li></ul>"
                  "</body></html>\n", subtype="html", cte="quoted-printable")
    save("python-html-only.eml", m)

    # A mail forwarded as message/rfc822 inside a mail.
    inner = base("The original", 9)
    inner.set_content("Original text.\n")
    m = base("Fwd: The original", 10)
    m.set_content("Forwarding this.\n")
    m.add_attachment(inner)
    save("python-forwarded.eml", m)


SMTP_SINK = r'''
import sys
out = open(sys.argv[1], "wb")
w = sys.stdout.buffer
def say(s):
    w.write(s + b"\r\n"); w.flush()
say(b"220 sink")
data = False
for line in sys.stdin.buffer:
    if data:
        if line.rstrip(b"\r\n") == b".":
            data = False; say(b"250 ok"); continue
        out.write(line[1:] if line.startswith(b"..") else line)
        continue
    cmd = line[:4].upper()
    if cmd == b"DATA":
        data = True; say(b"354 go")
    elif cmd == b"QUIT":
        say(b"221 bye"); break
    elif cmd in (b"EHLO", b"HELO"):
        say(b"250 sink")
    else:
        say(b"250 ok")
'''


def swaks_fixture():
    with tempfile.TemporaryDirectory() as tmp:
        blob = os.path.join(tmp, "blob.bin")
        with open(blob, "wb") as f:
            f.write(BLOB)
        sink = os.path.join(tmp, "sink.py")
        with open(sink, "w") as f:
            f.write(SMTP_SINK)
        subprocess.run(["swaks", "--silent", "2", "--to", "alice@example.test",
                        "--from", "dora@example.test", "--helo", "example.test",
                        "--header", "Subject: From swaks",
                        "--header", "Message-Id: <swaks-1@example.test>",
                        "--body", "Body written by swaks.",
                        "--attach-type", "application/octet-stream",
                        "--attach-name", "blob.bin", "--attach", "@" + blob,
                        "--pipe", f"{sys.executable} {sink} swaks-attachment.eml"],
                       check=True)


def mpack_fixture():
    with tempfile.TemporaryDirectory() as tmp:
        blob = os.path.join(tmp, "blob.bin")
        with open(blob, "wb") as f:
            f.write(BLOB)
        desc = os.path.join(tmp, "desc.txt")
        with open(desc, "w") as f:
            f.write("Description written for mpack.\n")
        subprocess.run(["mpack", "-s", "From mpack", "-d", desc, "-c", "application/octet-stream",
                        "-o", "mpack-attachment.eml", blob], check=True)


if __name__ == "__main__":
    python_fixtures()
    swaks_fixture()
    mpack_fixture()
