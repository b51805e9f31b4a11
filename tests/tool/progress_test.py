#!/usr/bin/env python3
"""The progress line of pack, pack-java and extract, seen as a user sees it.

With standard error on a pseudo-terminal and work that takes more than a
second, each command shows one line of progress (bytes done of the total,
the rate, the time left) and clears it at the end; with --quiet, or with
standard error on a pipe, it writes nothing there at all.

usage: progress_test.py SATCHEL LAUNCHER_STUB JAVA_STUB SCRATCH_FOLDER
"""
import os
import pty
import random
import re
import shutil
import subprocess
import sys
import threading
import time
import zipfile

satchel, launcher, java_stub, scratch = sys.argv[1:5]
shutil.rmtree(scratch, ignore_errors=True)
os.makedirs(scratch)
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def path(name):
    return os.path.join(scratch, name)


# Text that deflate works hard on at level 9: on one thread it takes a few
# seconds, well past the second after which the line appears.
rng = random.Random(23)
words = [b"satchel", b"bundle", b"payload", b"entry", b"stream", b"launcher", b"header",
         b"table", b"deflate", b"window", b"progress", b"terminal"]
piece = b" ".join(rng.choice(words) + str(rng.randrange(1000)).encode() for _ in range(120000))
with open(path("big.msi"), "wb") as out:
    for i in range(24):
        out.write(str(i).encode() + piece)
# The exe: a Windows program, the ready bootstrap beside the Java front end.
shutil.copy(os.path.join(os.path.dirname(java_stub), "satchel-bootstrap.exe"), path("setup.exe"))
with zipfile.ZipFile(path("app.jar"), "w", zipfile.ZIP_STORED) as jar:
    jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: app.Main\r\n\r\n")
    jar.writestr("app/Main.class", bytes.fromhex("cafebabe00000034") + bytes(100))
    jar.writestr("app/data.txt", piece * 24)


def run(args, stderr_on_terminal, slow_reader=False):
    """Runs satchel; returns (exit status, what reached standard error)."""
    if stderr_on_terminal:
        controller, terminal = pty.openpty()
        err_target = terminal
    else:
        err_target = subprocess.PIPE
    process = subprocess.Popen([satchel] + args, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE if slow_reader else subprocess.DEVNULL,
                               stderr=err_target)
    reader = None
    if slow_reader:
        # The output is taken slowly for two seconds, then at once: the work
        # lasts past a second however fast the machine.
        def drain():
            until = time.monotonic() + 2
            while time.monotonic() < until and process.stdout.read1(65536):
                time.sleep(0.05)
            while process.stdout.read1(1 << 20):
                pass
        reader = threading.Thread(target=drain)
        reader.start()
    seen = b""
    if stderr_on_terminal:
        os.close(terminal)
        while True:
            try:
                data = os.read(controller, 65536)
            except OSError:  # the other side closed
                break
            if not data:
                break
            seen += data
        os.close(controller)
    else:
        seen = process.stderr.read()
    status = process.wait()
    if reader:
        reader.join()
    return status, seen.decode("utf-8", "replace")


LINE = re.compile(r"\rsatchel: (packing|extracting) [0-9.]+ [KMG]iB of [0-9.]+ [KMG]iB "
                  r"\(\d+%\), [0-9.]+ [KMG]iB/s, [0-9:]+ left")


def expect_line(what, text, seen):
    lines = LINE.findall(seen)
    check(lines and all(found == what for found in lines),
          "%s: a progress line of %s on the terminal: %r" % (text, what, seen[:200]))
    # Cleared: the last thing written is spaces over the line, back at its start.
    check(re.search(r"\r {20,}\r$", seen) is not None,
          "%s: the line is cleared at the end: %r" % (text, seen[-200:]))


# One thread where the line must show (the longest work), two elsewhere.
pack = ["pack", "--stub", launcher, "--msi", path("big.msi"), "--exe", path("setup.exe")]
status, seen = run(pack + ["-o", path("a.exe"), "-j", "1"], True)
check(status == 0, "pack on a terminal succeeds: %r" % seen)
expect_line("packing", "pack", seen)

status, seen = run(pack + ["-o", path("b.exe"), "-j", "2", "--quiet"], True)
check(status == 0 and seen == "", "pack --quiet writes nothing on the terminal: %r" % seen)
with open(path("a.exe"), "rb") as a, open(path("b.exe"), "rb") as b:
    check(a.read() == b.read(), "the line changes nothing in the bundle")

# The line and its absence are one piece of code for every command (the
# terminal test, --quiet): pack shows them on a terminal and with --quiet,
# extract also off a terminal, where the slow reader makes the work last.
status, seen = run(["extract", path("a.exe"), "msi", "-o", "-"], True, slow_reader=True)
check(status == 0, "extract on a terminal succeeds: %r" % seen)
expect_line("extracting", "extract", seen)
status, seen = run(["extract", path("a.exe"), "msi", "-o", "-", "--quiet"], True, slow_reader=True)
check(status == 0 and seen == "", "extract --quiet writes nothing on the terminal: %r" % seen)
status, seen = run(["extract", path("a.exe"), "msi", "-o", "-"], False, slow_reader=True)
check(status == 0 and seen == "", "extract writes nothing on a pipe: %r" % seen)

java = ["pack-java", "--stub", java_stub, path("app.jar")]
status, seen = run(java + ["-o", path("app"), "-j", "1"], True)
check(status == 0, "pack-java on a terminal succeeds: %r" % seen)
expect_line("packing", "pack-java", seen)

# A failure's message stands alone on its line, not behind a half line.
status, seen = run(["pack", "--stub", launcher, "-o", path("d.exe"), "--msi", path("big.msi"),
                    "--exe", path("setup.exe"), "--level", "10"], True)
check(status == 2 and seen.startswith("satchel: pack: --level"), "a bad level is refused: %r" % seen)

shutil.rmtree(scratch, ignore_errors=True)
sys.exit(1 if failures else 0)
