#!/usr/bin/env python3
"""Deterministic test and benchmark messages.

Workloads (the same bytes on every run; only Maildir file names differ):
  A  1,000 plain-text messages of about 4 KB (4.2 MB in all)
  B  20 messages of about 2 MiB, each a text part and a base64 attachment of 1.5 MiB
     (42.5 MB in all)
  S  200 plain-text messages of about 1.2 KB, for sending

Usage:
  workload.py fill MAILDIR WORKLOAD [--to ADDRESS] [--owner USER]
      puts the messages into MAILDIR/new the way a delivery agent does (write to tmp/, then
      rename), owned by USER (default vmail) when run as root
  workload.py write OUTDIR WORKLOAD [--to ADDRESS]
      writes the messages as OUTDIR/0001.eml, 0002.eml, ... with CR LF line ends
"""

import argparse
import base64
import email.utils
import os
import pwd
import random
import socket
import sys
import time
from datetime import datetime, timedelta, timezone

WORKLOADS = {
    # name: (count, approximate body text bytes, attachment bytes)
    "A": (1000, 3800, 0),
    "B": (20, 600, 3 * 1024 * 1024 // 2),
    "S": (200, 900, 0),
}

WORDS = (
    "mail post fetch queue folder sticker inbox archive message server client header body "
    "line reply forward address book attachment package decode encode base boundary part "
    "the a of and to in is for on with as at by from this that it be are was were will"
).split()

BASE_DATE = datetime(2024, 3, 1, 9, 0, 0, tzinfo=timezone(timedelta(hours=1)))


def text_lines(rng, size):
    """Lines of words, 60-72 characters each, about size bytes in all."""
    lines, total = [], 0
    while total < size:
        line = []
        width = rng.randint(60, 72)
        length = 0
        while length < width:
            word = rng.choice(WORDS)
            line.append(word)
            length += len(word) + 1
        text = " ".join(line)
        lines.append(text)
        total += len(text) + 1
    return lines


def message(workload, index, to):
    """The message `index` (1-based) of `workload` as a list of lines without line ends."""
    count, text_size, attachment_size = WORKLOADS[workload]
    rng = random.Random(f"{workload}-{index}")
    sender = f"sender{index % 7}@example.org"
    date = email.utils.format_datetime(BASE_DATE + timedelta(minutes=index))
    lines = [
        f"Message-ID: <{workload}-{index:04d}.workload@example.org>",
        f"Date: {date}",
        f"From: Sender {index % 7} <{sender}>",
        f"To: <{to}>",
        f"Subject: Workload {workload} message {index} of {count}",
        "MIME-Version: 1.0",
    ]
    body = text_lines(rng, text_size)
    if not attachment_size:
        lines += ["Content-Type: text/plain; charset=us-ascii",
                  "Content-Transfer-Encoding: 7bit", ""]
        lines += body
        return lines
    boundary = f"=-workload-{workload}-{index:04d}"
    encoded = base64.b64encode(rng.randbytes(attachment_size)).decode("ascii")
    lines += [
        f'Content-Type: multipart/mixed; boundary="{boundary}"',
        "",
        "This is a multi-part message in MIME format.",
        f"--{boundary}",
        "Content-Type: text/plain; charset=us-ascii",
        "Content-Transfer-Encoding: 7bit",
        "",
        *body,
        f"--{boundary}",
        f'Content-Type: application/octet-stream; name="data-{index:02d}.bin"',
        "Content-Transfer-Encoding: base64",
        f'Content-Disposition: attachment; filename="data-{index:02d}.bin"',
        "",
        *(encoded[i:i + 76] for i in range(0, len(encoded), 76)),
        f"--{boundary}--",
    ]
    return lines


def fill(maildir, workload, to, owner):
    """Delivers the workload into maildir/new; returns the number of messages."""
    for sub in ("new", "cur", "tmp"):
        if not os.path.isdir(os.path.join(maildir, sub)):
            sys.exit(f"fill-mailbox: {maildir} is not a Maildir (no {sub}/)")
    uid = gid = None
    if os.geteuid() == 0 and owner:
        entry = pwd.getpwnam(owner)
        uid, gid = entry.pw_uid, entry.pw_gid
    count = WORKLOADS[workload][0]
    # Unique per run, so that a second fill adds messages instead of replacing them; the index
    # keeps the names in delivery order.
    stamp = f"{int(time.time())}.P{os.getpid()}"
    host = socket.gethostname().replace("/", "_").replace(":", "_")
    for index in range(1, count + 1):
        data = ("\n".join(message(workload, index, to)) + "\n").encode("ascii")
        name = f"{stamp}M{index:06d}.{host},S={len(data)}"
        tmp = os.path.join(maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(data)
        os.chmod(tmp, 0o600)
        if uid is not None:
            os.chown(tmp, uid, gid)
        os.rename(tmp, os.path.join(maildir, "new", name))
    return count


def write(outdir, workload, to):
    os.makedirs(outdir, exist_ok=True)
    count = WORKLOADS[workload][0]
    for index in range(1, count + 1):
        data = ("\r\n".join(message(workload, index, to)) + "\r\n").encode("ascii")
        with open(os.path.join(outdir, f"{index:04d}.eml"), "wb") as f:
            f.write(data)
    return count


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=("fill", "write"))
    parser.add_argument("target", help="the Maildir (fill) or output directory (write)")
    parser.add_argument("workload", choices=sorted(WORKLOADS))
    parser.add_argument("--to", default="alice@example.test", help="the To: address")
    parser.add_argument("--owner", default="vmail", help="owner of delivered files (fill)")
    args = parser.parse_args()
    if args.command == "fill":
        fill(args.target, args.workload, args.to, args.owner)
    else:
        write(args.target, args.workload, args.to)


if __name__ == "__main__":
    main()
