#!/usr/bin/env python3
"""Each package that a command installs is used by that command.

The install lists (`./dev packages demo|test`, `run32.py packages`) name
each package as PACKAGE:WORD.  For every entry this checks that WORD is part
of a file name of the package (when it is installed: dpkg knows its files
then) and that WORD occurs in what the command runs or builds, with the
lists themselves left out.  A package that no command uses fails here.

    check_lists.py SOURCE_DIR
"""
import os
import re
import subprocess
import sys

SOURCE = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
TEXT = (".txt", ".cmake", ".json", ".sh", ".py", ".cpp", ".h", ".rc", ".java", ".in")


def files_under(*folders):
    for folder in folders:
        path = os.path.join(SOURCE, folder)
        if os.path.isfile(path):
            yield path
            continue
        for top, dirs, names in os.walk(path):
            dirs[:] = [d for d in dirs if d not in ("__pycache__",)]
            for name in names:
                if name.endswith(TEXT) or name == "CMakeLists.txt":
                    yield os.path.join(top, name)


def dev_functions(*names):
    """The bodies of the named shell functions of ./dev."""
    text = open(os.path.join(SOURCE, "dev")).read()
    bodies = []
    for name in names:
        match = re.search(r"^%s\(\) \{[^\n]*\n(.*?)^\}" % re.escape(name), text, re.S | re.M)
        if not match:
            sys.exit("dev has no function %s()" % name)
        bodies.append(match.group(1))
    return "\n".join(bodies)


def without_list(path, start, end):
    """The file's text without the lines from START to END (the list)."""
    text = open(path).read()
    begin = text.index(start)
    return text[:begin] + text[text.index(end, begin) + len(end):]


def read(paths, skip=()):
    return "\n".join(open(p, errors="replace").read() for p in paths if p not in skip)


def output(command):
    return subprocess.run(command, cwd=SOURCE, stdout=subprocess.PIPE, text=True,
                          check=True).stdout.split()


def package_files(package):
    result = subprocess.run(["dpkg-query", "-L", package], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    return result.stdout if result.returncode == 0 else None


def used(word, text):
    # WORD as a whole name: not inside a longer one ("zip" is not in "libzip").
    pattern = r"(?<![A-Za-z0-9_.])%s(?![A-Za-z0-9_])" % re.escape(word)
    return re.search(pattern, text, re.I) is not None


run32 = os.path.join(SOURCE, "tests", "run32", "run32.py")
build_tree = ["CMakeLists.txt", "CMakePresets.json", "cmake", "payload", "javahost", "java",
              "tools", "launcher", "resources"]
consumers = [
    # The demo: what it runs, the builds of its targets, the test programs
    # folder (the probe it packs) and the wine prefix script.
    ("./dev demo", ["./dev", "packages", "demo"],
     dev_functions("build", "demo") + read(files_under(
         *build_tree, "tests/CMakeLists.txt", "tests/programs", "tests/wine_prefix.sh"))),
    # The test command: every build and every test.
    ("./dev test", ["./dev", "packages", "test"],
     dev_functions("build", "test_all") + read(files_under(*build_tree, "tests"), skip=(run32,))
     + without_list(run32, "PACKAGES = [", "]")),
    # The 32-bit tier's preparation: its own script.
    ("run32.py prepare", [sys.executable, run32, "--dir", "/nonexistent", "packages"],
     without_list(run32, "PACKAGES = [", "]")),
]

failures = []
checked = 0
for consumer, lister, text in consumers:
    for entry in output(lister):
        package, _, word = entry.partition(":")
        if not word:
            failures.append("%s: %s names no WORD (PACKAGE:WORD)" % (consumer, entry))
            continue
        files = package_files(package)
        if files is None:
            print("%s: %s is not installed; only its use is checked" % (consumer, package))
        elif word not in files:
            failures.append("%s: no file of the package %s has %r in its name"
                            % (consumer, package, word))
        if not used(word, text):
            failures.append("%s installs %s, but nothing it runs or builds names %r"
                            % (consumer, package, word))
        checked += 1
for failure in failures:
    print(failure)
if failures or not checked:
    sys.exit(1)
print("%d entries: each package is used by the command that installs it" % checked)
