#!/usr/bin/env python3
"""End-to-end tests of the installer launcher under wine.

One suite, two targets: the x86_64 build under wine64 on this machine
(--target win64), and the i686 release stub under 32-bit wine inside the
machine of tests/run32 (--target win32), with the same cases and assertions.

Each case packs a bundle (with our bundle tool, or byte by byte where the
tool would refuse it), runs it the way a user would, and checks what a user
would see: the warning box's text, caption and style, the exit code, and what
is left in the temporary folder.  The packaged program is a probe of ours
that records its current directory, command line and own path and lists the
files beside it.

    e2e.py [options] setup          prepare the wine prefix (once per run)
    e2e.py [options] cleanup        stop its wine server
    e2e.py [options] CASE...        run cases in turn ("all": every case)
    e2e.py [options] --list         list the cases

Warning boxes are read from wine's relay trace: with WINEDEBUG=+relay and the
prefix's RelayInclude set to user32.MessageBoxA, every call is printed with
its arguments.  Without a display the box returns at once.
"""
import argparse
import ast
import os
import re
import shutil
import struct
import subprocess
import sys
import threading
import time

# No __pycache__ in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bundle  # noqa: E402

WINE = {"win64": "/usr/lib/wine/wine64", "win32": "/usr/lib/wine/wine"}
WINESERVER = "/usr/lib/wine/wineserver"
WINE_PREFIX = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine_prefix.sh")
TEMP_PATH_LIMIT = 3096       # a temporary path this long or longer is refused
PATH_CAPACITY = 4096         # UTF-16 units of every path buffer
COMMAND_LINE_CAPACITY = 32767  # the longest command line, its NUL included
GUID_FOLDER = re.compile(r"\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}")
ELEVATED_FOLDER_DACL = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
WINDOW = re.compile(r'^[0-9a-f]+:Call user32\.CreateWindowExW\([0-9a-f]+,[0-9a-f]+ L"STATIC",'
                    r'[0-9a-f]+ L"(.*)",[0-9a-f]+,')
BOX = re.compile(r'^[0-9a-f]+:Call user32\.MessageBoxA\(([0-9a-f]+),[0-9a-f]+ "(.*)",'
                 r'([0-9a-f]+),([0-9a-f]+)\) ret=[0-9a-f]+$')

CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


# ---- environment ---------------------------------------------------------

class Setting:
    target = None     # "win64" or "win32"
    prefix = None     # WINEPREFIX
    keep_prefix = False  # the prefix was made elsewhere: use it as it is
    build = None      # the Windows build directory of the target
    stub = None       # the launcher stub under test
    bootstrap = None  # the ready msi bootstrap under test
    tool = None       # the native bundle tool
    scratch = None    # this case's own directory


def wine():
    return WINE[Setting.target]


def rows_for_target(rows, i686_rows):
    """The rows of a case's table that run: every one against the x86_64
    build; against the i686 build, whose wine runs under emulation about ten
    times slower, those at the indices `i686_rows`, chosen so that each way
    through the launcher still runs there once, while the rest would only
    repeat for the same code what x86_64 shows."""
    return list(rows) if Setting.target == "win64" else [rows[i] for i in i686_rows]


def wine_env(relay=False):
    env = dict(os.environ)
    env["WINEPREFIX"] = Setting.prefix
    # No Mono or Gecko prompts; no desktop process, which without a display
    # fails slowly (seconds per program) and changes nothing for the launcher.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;explorer.exe=d"
    env["WINEDEBUG"] = "+relay" if relay else "-all"
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    return env


def windows_path(path):
    """The wine path of a host path (the Z: drive is the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def host_path(path):
    check(path.upper().startswith("Z:\\"), "not a path on Z: " + path)
    return path[2:].replace("\\", "/")


def launcher():
    return Setting.stub


def bootstrap():
    return Setting.bootstrap


def program(name):
    return os.path.join(Setting.build, "tests", "programs", name + ".exe")


def scratch(*parts):
    return os.path.join(Setting.scratch, *parts)


# ---- running -------------------------------------------------------------

class Run:
    def __init__(self, code, boxes, seconds, stderr, windows):
        self.code = code
        self.boxes = boxes  # (owner, text, caption, style) of every MessageBoxA
        self.windows = windows  # the window name of every CreateWindowExW that has one
        self.seconds = seconds
        self.stderr = stderr  # what it wrote to its standard error handle, or None


def unescape(text):
    # wine prints the text with C escapes; our messages use only \\ and \".
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)


EXIT_LINE = re.compile(r"^exit=([0-9]+)\r?$", re.M)


def run_bundle(path, args=(), temp=None, env=None, timeout=120, command_line=None,
               job=False, wine_variables=None, stderr=False, cwd=None):
    """Starts the bundle through satchel-runenv, which sets the temporary
    folder and the probe's variables in the Windows environment (wine's
    start-up would replace TMP from the host's) and reports the full exit
    code (wine hands on only its low 8 bits).  `command_line`, when given, is
    the bundle's whole command line, its own name included, verbatim.  With
    `job`, inside a job that allows no breakaway.  `wine_variables` go into
    wine's own environment, which every program of it inherits: for values
    that would make satchel-runenv's command line too long.  With `stderr`,
    the bundle's standard error handle is a file, whose text the run keeps.
    The bundle starts in `cwd` (default: the case's scratch folder)."""
    assignments = ["--job"] if job else []
    error_file = scratch("stderr.txt")
    if stderr:
        assignments += ["--stderr", windows_path(error_file)]
    if temp is not None:
        assignments += ["TMP=" + windows_path(temp), "TEMP=" + windows_path(temp)]
    for name, value in (env or {}).items():
        assignments.append(name + "=" + value)
    if command_line is not None:
        assignments += ["--command-line", command_line.encode("utf-8").hex()]
    command = [wine(), program("satchel-runenv")] + assignments + ["--", windows_path(path)]
    command += list(args)
    started = time.monotonic()
    result = subprocess.run(command, env=dict(wine_env(relay=True), **(wine_variables or {})),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                            cwd=cwd or Setting.scratch)
    seconds = time.monotonic() - started
    boxes, windows = [], []
    for line in result.stderr.decode("utf-8", "replace").splitlines():
        match = BOX.match(line)
        if match:
            boxes.append((int(match.group(1), 16), unescape(match.group(2)),
                          int(match.group(3), 16), int(match.group(4), 16)))
        match = WINDOW.match(line)
        if match:
            # A wide character beyond ASCII is printed as \XXXX.
            windows.append(unescape(re.sub(r"\\([0-9a-f]{4})",
                                           lambda m: chr(int(m.group(1), 16)), match.group(1))))
    reported = EXIT_LINE.search(result.stdout.decode("utf-8", "replace"))
    check(reported is not None, "satchel-runenv reported no exit code (status %d)"
          % result.returncode)
    text = None
    if stderr:
        check(os.path.exists(error_file), "satchel-runenv made no error file")
        text = read_bytes(error_file).decode("utf-8", "replace")
        os.remove(error_file)
    return Run(int(reported.group(1)), boxes, seconds, text, windows)


def expect_fatal(run, message):
    """The one warning box: no owner, the message, no caption, MB_OK with
    MB_ICONWARNING (0x30); then exit code 1, and nothing on standard error
    when it had one."""
    check(run.boxes == [(0, message, 0, 0x30)],
          "expected one warning box %r, saw %r" % (message, run.boxes))
    check(run.code == 1, "exit code %d, expected 1" % run.code)
    check(run.stderr in (None, ""), "wrote to standard error: %r" % run.stderr)


def expect_quiet_fatal(run, message):
    """No box: the message and a line end on standard error (when it had
    one), and exit code 1."""
    check(run.boxes == [], "a quiet run showed a box: %r" % run.boxes)
    check(run.code == 1, "exit code %d, expected 1" % run.code)
    check(run.stderr in (None, message + "\r\n"),
          "standard error %r, expected %r" % (run.stderr, message + "\r\n"))


def fatal_run(path, message, temp=None):
    """Runs the bundle in a new temporary folder (or `temp`), expecting the
    fatal message and nothing of the bundle left behind in the folder."""
    temp = temp or new_temp()
    expect_fatal(run_bundle(path, temp=temp), message)
    check_empty(temp, "left behind: %r" % os.listdir(temp))


def guid_folders(temp):
    names = sorted(os.listdir(temp))
    for name in names:
        check(GUID_FOLDER.fullmatch(name), "unexpected entry in the temporary folder: " + name)
    return [os.path.join(temp, name) for name in names]


def only_guid_folder(temp):
    folders = guid_folders(temp)
    check(len(folders) == 1, "expected one GUID folder, found %d" % len(folders))
    return folders[0]


def fnv1a(data):
    value = 2166136261
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return value


def read_record(path):
    check(os.path.exists(path), "the packaged program left no record")
    record = {"file": {}}
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            key, _, value = line.partition("=")
            if key == "file":
                name, size, digest = value.split("\t")
                record["file"][name] = (int(size), int(digest, 16))
            else:
                record[key] = value
    return record


def split_command_line(line):
    """The runtime's parsing of a command line into arguments (enough for
    paths and plain words)."""
    arguments, current, quoted, started = [], "", False, False
    for c in line:
        if c == '"':
            quoted = not quoted
            started = True
        elif c in " \t" and not quoted:
            if started or current:
                arguments.append(current)
            current, started = "", False
        else:
            current += c
    if started or current:
        arguments.append(current)
    return arguments


# ---- content -------------------------------------------------------------

def sample_content(size, seed=1):
    """Deterministic bytes, partly compressible, like a real installer."""
    out = bytearray()
    state = seed
    while len(out) < size:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        if state & 0x100:
            out += b"Satchel sample installer data %08x\r\n" % state
        else:
            out += state.to_bytes(4, "little") * 3
    return bytes(out[:size])


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def probe_bytes():
    return read_bytes(program("satchel-probe"))


def pack(out, *options, stub=None):
    """Packs with our bundle tool."""
    command = [Setting.tool, "pack", "--stub", stub or launcher(), "-o", out] + list(options)
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(result.returncode == 0, "satchel pack failed: " + result.stdout.decode())
    return out


def installer_inputs(msi_size=70000):
    """Setup.msi and Setup.exe (the probe) in the scratch folder."""
    msi = write_file(scratch("in", "Setup.msi"), sample_content(msi_size))
    exe = write_file(scratch("in", "Setup.exe"), probe_bytes())
    return msi, exe


def pack_installer(msi, exe, stub=None):
    """installer.exe in the scratch folder, packed with --msi and --exe."""
    return pack(scratch("installer.exe"), "--msi", msi, "--exe", exe, stub=stub)


def check_empty(folder, what):
    check(os.listdir(folder) == [], what)


def probe_env(record, sleeper_ms=None):
    env = {"SATCHEL_PROBE_RECORD": windows_path(record)}
    if sleeper_ms is not None:
        marker = scratch("sleeper-done")
        env["SATCHEL_PROBE_SPAWN"] = '"%s" %d "%s"' % (
            windows_path(program("satchel-sleeper")), sleeper_ms, windows_path(marker))
    return env


def new_temp(name="tmp"):
    path = scratch(name)
    os.makedirs(path, exist_ok=True)
    return path


def make_long_folder(length, trailing_separator):
    """A folder that exists, whose wine path is exactly `length` characters
    (with or without a trailing backslash); built from components of at most
    200 characters so that the host accepts it."""
    base = scratch("long")
    os.makedirs(base, exist_ok=True)
    path = windows_path(base)
    remaining = length - len(path) - (1 if trailing_separator else 0)
    check(remaining >= 2, "scratch path too long for this case")
    while remaining > 0:
        n = min(200, remaining - 1)
        if remaining - 1 - n == 1:
            n -= 1
        path += "\\" + "d" * n
        remaining -= 1 + n
    os.makedirs(host_path(path), exist_ok=True)
    if trailing_separator:
        path += "\\"
    check(len(path) == length, "built %d characters, wanted %d" % (len(path), length))
    return path


def seam_run(bundle_path, temp_path, env=None):
    """Runs a bundle made on the launcher's test build, whose temporary-path
    query answers `temp_path` verbatim."""
    variables = {"SATCHEL_SEAM_TEMP_PATH": temp_path}
    variables.update(env or {})
    return run_bundle(bundle_path, env=variables)


def seam_stub():
    return program("satchel-launcher-seam")


# ---- the complete run ----------------------------------------------------

def check_complete_run(run, temp, record_path, msi_path, exe_path, code=0, arguments=None,
                       extra=()):
    """`arguments`: None when the program gets none, else the text expected
    behind its quoted path.  `extra`: the host paths of files expected
    beside the two."""
    check(run.boxes == [], "unexpected warning box: %r" % run.boxes)
    check(run.code == code, "exit code %d, expected %d" % (run.code, code))
    record = read_record(record_path)
    cwd = record["cwd"]
    temp_win = windows_path(temp)
    check(cwd.startswith(temp_win + "\\"), "ran in %s, not below %s" % (cwd, temp_win))
    folder = cwd[len(temp_win) + 1:]
    check(GUID_FOLDER.fullmatch(folder), "folder name %r is not an upper-case braced GUID" % folder)
    check(record["self"] == cwd + "\\Setup.exe", "program path %r" % record["self"])
    # Where the launcher was started, and which file it is.
    check(record["caller"] == windows_path(Setting.scratch),
          "caller's folder %r, expected %r" % (record["caller"], windows_path(Setting.scratch)))
    check(record["bundle"].startswith(windows_path(Setting.scratch) + "\\") and
          os.path.exists(host_path(record["bundle"])) and
          bundle.find_header(read_bytes(host_path(record["bundle"]))) is not None,
          "bundle path %r" % record["bundle"])
    if arguments is None:
        split = split_command_line(record["cmdline"])
        check(len(split) == 1 and split[0].lower() == record["self"].lower(),
              "the program got arguments: %r" % record["cmdline"])
    else:
        expected_line = '"%s"' % record["self"] + (" " + arguments if arguments else "")
        check(record["cmdline"] == expected_line,
              "command line %r, expected %r" % (record["cmdline"], expected_line))
    # An elevated launcher's folder (wine runs elevated) is closed to other
    # users, as read back with GetFileSecurityW: on Windows exactly the
    # protected DACL of SYSTEM and Administrators; wine keeps no descriptor
    # of its own and shows its translation, which must not open the folder
    # to Everyone, Authenticated Users, Users or Interactive either.
    if record["elevated"] == "1":
        dacl = record["dacl"]
        check(dacl == ELEVATED_FOLDER_DACL or (dacl.startswith("D:") and not re.search(
            r";;;(WD|AU|BU|IU)\)", dacl)), "the folder of an elevated launcher has %s" % dacl)
    msi, exe = read_bytes(msi_path), read_bytes(exe_path)
    expected = {"Setup.msi": (len(msi), fnv1a(msi)), "Setup.exe": (len(exe), fnv1a(exe))}
    for path in extra:
        data = read_bytes(path)
        expected[os.path.basename(path)] = (len(data), fnv1a(data))
    check(record["file"] == expected, "extracted files %r, expected %r" % (record["file"], expected))
    # Both files and the folder are gone.
    check(os.listdir(temp) == [], "left behind: %r" % os.listdir(temp))
    return record


def run_complete(bundle_path, msi, exe, args=(), sleeper_ms=None, exit_code=0,
                 command_line=None, arguments=None, extra=(), job=False):
    """Runs the bundle in a new temporary folder and checks a complete run;
    the probe ends with `exit_code`, which the launcher must hand back."""
    temp = new_temp()
    record = scratch("record.txt")
    env = probe_env(record, sleeper_ms)
    if exit_code:
        env["SATCHEL_PROBE_EXIT"] = str(exit_code)
    run = run_bundle(bundle_path, args=args, temp=temp, env=env, command_line=command_line,
                     job=job)
    check_complete_run(run, temp, record, msi, exe, code=exit_code, arguments=arguments,
                       extra=extra)
    return run


@case
def complete_run():
    msi, exe = installer_inputs()
    run = run_complete(pack_installer(msi, exe), msi, exe, sleeper_ms=1500)
    # The program that the packaged program started and left running was
    # waited for: it had finished before the launcher ended.
    check(os.path.exists(scratch("sleeper-done")), "the launcher did not wait for the job")
    check(run.seconds >= 1.5, "ended after %.2f s, before the started program" % run.seconds)


@case
def arguments_change_nothing():
    msi, exe = installer_inputs()
    run_complete(pack_installer(msi, exe), msi, exe,
                 args=["/quiet", "--msi", "other.msi", "-jvm", "x y"])


@case
def exit_code_3010():
    # The program's exit code comes back whole, not only its low 8 bits.
    msi, exe = installer_inputs()
    run_complete(pack_installer(msi, exe), msi, exe, exit_code=3010)


@case
def exit_code_after_grandchild():
    # The program ends with 7 while the program that it started runs on: the
    # launcher waits for that one too, then ends with 7.
    msi, exe = installer_inputs()
    run = run_complete(pack_installer(msi, exe), msi, exe, sleeper_ms=1500, exit_code=7)
    check(os.path.exists(scratch("sleeper-done")), "the launcher did not wait for the job")
    check(run.seconds >= 1.5, "ended after %.2f s, before the started program" % run.seconds)


@case
def exit_code_when_process_list_breaks():
    # The launcher's test build, its process walk breaking off with an error
    # (at its first record or after it): the wait ends, nothing is deleted,
    # and the program's own exit code still comes back once the program has
    # ended.
    msi, exe = installer_inputs()
    bundle_path = pack_installer(msi, exe, stub=seam_stub())
    for call in ("Process32First", "Process32Next"):
        temp = new_temp("tmp-" + call)
        env = probe_env(scratch("record.txt"))
        env.update({"SATCHEL_PROBE_EXIT": "1603", "SATCHEL_SEAM_FAIL": call})
        run = run_bundle(bundle_path, temp=temp, env=env)
        check(run.boxes == [], "%s: unexpected warning box: %r" % (call, run.boxes))
        check(run.code == 1603, "%s: exit code %d, expected 1603" % (call, run.code))
        folder = only_guid_folder(temp)
        check(sorted(os.listdir(folder)) == ["Setup.exe", "Setup.msi"],
              "%s: left %r" % (call, os.listdir(folder)))


SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"


@case
def file_held_open():
    # The launcher's test build, every file deletion refused as for a file
    # that a process outside the job holds open: the run still ends with the
    # program's exit code and no box, after a few passes, and what stays is
    # left to the system to delete at the next restart (the launcher runs
    # elevated under wine, so it may ask for that).
    msi, exe = installer_inputs()
    bundle_path = pack_installer(msi, exe, stub=seam_stub())
    temp = new_temp()
    env = probe_env(scratch("record.txt"))
    env.update({"SATCHEL_PROBE_EXIT": "3010", "SATCHEL_SEAM_FAIL": "DeleteFileW:32"})
    run = run_bundle(bundle_path, temp=temp, env=env)
    check(run.boxes == [] and run.code == 3010,
          "box %r, exit code %d, expected none and 3010" % (run.boxes, run.code))
    check(run.seconds < 30, "ended after %.1f s" % run.seconds)
    folder = only_guid_folder(temp)
    check(sorted(os.listdir(folder)) == ["Setup.exe", "Setup.msi"], "left %r" % os.listdir(folder))
    query = subprocess.run([wine(), "reg", "query", SESSION_MANAGER, "/v",
                            "PendingFileRenameOperations"], env=wine_env(),
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    pending = query.stdout.decode("utf-8", "replace")
    subprocess.run([wine(), "reg", "delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations",
                    "/f"], env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for name in ("Setup.exe", "Setup.msi", ""):
        path = windows_path(os.path.join(folder, name)).rstrip("\\")
        check(path.lower() in pending.lower(), "%s is not to be deleted at restart: %r"
              % (path, pending))


@case
def inside_job_without_breakaway():
    # The launcher runs in a job that refuses CREATE_BREAKAWAY_FROM_JOB: the
    # program starts inside it, in our job nested within, and is waited for.
    msi, exe = installer_inputs()
    run = run_complete(pack_installer(msi, exe), msi, exe, sleeper_ms=1500, job=True)
    check(os.path.exists(scratch("sleeper-done")), "the launcher did not wait for the job")
    check(run.seconds >= 1.5, "ended after %.2f s, before the started program" % run.seconds)


# What the launcher is given behind its own name, and what the program then
# gets behind its quoted path: blanks after the name are skipped, the rest is
# handed on byte for byte.
PASSED_ARGUMENTS = [
    ("", ""),
    ("/qn /norestart /l*v C:\\log.txt", "/qn /norestart /l*v C:\\log.txt"),
    ('   "two words"  twice\tspaced ', '"two words"  twice\tspaced '),
    ('say \\"hi\\" "end\\\\" back\\\\\\"q', 'say \\"hi\\" "end\\\\" back\\\\\\"q'),
    ("\u00fcber \"\u65e5\u672c\u8a9e\" \U0001F392", "\u00fcber \"\u65e5\u672c\u8a9e\" \U0001F392"),
]


def pass_arguments_case(quoted_name):
    """Every line of the table, to a bundle that passes arguments on and to
    one without the property, whose program gets none.  On i686 the lines
    of quotes and backslashes, of characters beyond ASCII and of blanks
    before the name to the first, msiexec's usual line to the second."""
    msi, exe = installer_inputs()
    passing = pack(scratch("passing.exe"), "--msi", msi, "--exe", exe, "--pass-arguments")
    plain = pack_installer(msi, exe)
    for bundle_path, passes in ((passing, True), (plain, False)):
        name = windows_path(bundle_path)
        check(" " not in name, "the scratch path holds a space: " + name)
        if quoted_name:
            name = '"%s"' % name
        # Blanks before the launcher's name are no argument, and the name is
        # none either.
        lines = [(name + (" " + given if given else ""), expected)
                 for given, expected in PASSED_ARGUMENTS]
        lines += [(" " + name + " /norestart", "/norestart"), ("\t " + name, "")]
        for line, expected in rows_for_target(lines, [3, 4, 5] if passes else [1]):
            try:
                run_complete(bundle_path, msi, exe, command_line=line,
                             arguments=expected if passes else None)
            except Failure as failure:
                raise Failure("command line %r: %s" % (line, failure))


@case
def pass_arguments_quoted_name():
    pass_arguments_case(quoted_name=True)


@case
def pass_arguments_unquoted_name():
    pass_arguments_case(quoted_name=False)


@case
def extra_files():
    # Entries under files/ land beside the two under their own names, after
    # them, and go with them.
    msi, exe = installer_inputs()
    cab = write_file(scratch("in", "data1.cab"), sample_content(5000, seed=2))
    empty = write_file(scratch("in", "notes \u00e9.txt"), b"")
    bundle_path = pack(scratch("installer.exe"), "--msi", msi, "--exe", exe,
                       "--file", "files/data1.cab=" + cab,
                       "--file", "files/notes \u00e9.txt=" + empty)
    run_complete(bundle_path, msi, exe, extra=[cab, empty])


@case
def program_leaves_files():
    # The program leaves a log, a read-only file, a folder tree with a
    # read-only folder, and links to a folder outside: a junction and a
    # symbolic link of its own where wine makes them, and one that the host
    # adds while the program's child still runs (wine shows a host link as
    # a folder that is a reparse point).  The folder goes whole, and nothing
    # is removed through a link.
    msi, exe = installer_inputs()
    outside = scratch("outside")
    write_file(os.path.join(outside, "keep.txt"), b"not the launcher's")
    temp = new_temp()
    record_path = scratch("record.txt")
    env = probe_env(record_path, sleeper_ms=2000)
    env["SATCHEL_PROBE_LEAVE"] = windows_path(outside)
    linked = []

    def link_while_running():
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if os.path.exists(record_path):
                with open(record_path, encoding="utf-8") as f:
                    text = f.read()
                if "symlink=" in text:
                    cwd = re.search(r"^cwd=(.*)$", text, re.M).group(1)
                    try:
                        os.symlink(outside, os.path.join(host_path(cwd), "hostlink"))
                        linked.append(cwd)
                    except OSError as error:
                        linked.append(error)
                    return
            time.sleep(0.05)

    linker = threading.Thread(target=link_while_running)
    linker.start()
    run = run_bundle(pack_installer(msi, exe), temp=temp, env=env)
    linker.join()
    check(linked != [] and not isinstance(linked[0], OSError),
          "the host link was not made while the program ran: %r" % linked)
    # Wine removes a host link to a folder neither as a folder nor as a file:
    # that link alone stays, and goes here.
    (folder,) = guid_folders(temp)
    check(os.listdir(folder) == ["hostlink"], "left behind: %r" % os.listdir(folder))
    os.remove(os.path.join(folder, "hostlink"))
    os.rmdir(folder)
    record = check_complete_run(run, temp, record_path, msi, exe)
    check(os.listdir(outside) == ["keep.txt"] and
          read_bytes(os.path.join(outside, "keep.txt")) == b"not the launcher's",
          "the folder behind a link was changed: %r" % os.listdir(outside))
    # What this wine could make of the program's own links.
    print("links made: junction=%s symlink=%s" % (record.get("junction"), record.get("symlink")))


# The progress window of a bundle packed with --progress, on the launcher's
# test build with slow writes (extraction then takes about 1.5 s): the
# arguments, the window station, and whether the window shows.  Whatever it
# shows, the bundle runs through.
PROGRESS_RUNS = [
    ([], False, True),
    (["/qn"], False, False),
    ([], True, False),
]
PROGRESS_TEXT = "Preparing Satchel Test \u00e9\u2026"


@case
def progress_window():
    msi, exe = installer_inputs(msi_size=1 << 20)
    showing = pack(scratch("showing.exe"), "--msi", msi, "--exe", exe, "--pass-arguments",
                   "--progress", PROGRESS_TEXT, stub=seam_stub())
    plain = pack(scratch("plain.exe"), "--msi", msi, "--exe", exe, "--pass-arguments",
                 stub=seam_stub())
    runs = [(showing, args, hidden, shown) for args, hidden, shown in PROGRESS_RUNS]
    runs.append((plain, [], False, False))
    for bundle_path, args, hidden, shown in runs:
        temp = new_temp()
        record = scratch("record.txt")
        env = probe_env(record)
        env["SATCHEL_SEAM_WRITE_DELAY"] = "80"
        if hidden:
            env["SATCHEL_SEAM_WINDOW_STATION"] = "hidden"
        what = "%s %r%s" % (os.path.basename(bundle_path), args, " hidden" if hidden else "")
        run = run_bundle(bundle_path, args=args, temp=temp, env=env)
        try:
            # Wine without a display refuses the window; its making is seen.
            check(set(run.windows) == ({PROGRESS_TEXT} if shown else set()),
                  "windows with text %r" % run.windows)
            check_complete_run(run, temp, record, msi, exe, arguments=" ".join(args))
        except Failure as failure:
            raise Failure("%s: %s" % (what, failure))
        os.remove(record)


def complete_run_with_msi_of(msi_size):
    msi, exe = installer_inputs(msi_size=msi_size)
    run_complete(pack_installer(msi, exe), msi, exe)


@case
def empty_msi():
    complete_run_with_msi_of(0)


@case
def msi_of_whole_blocks():
    complete_run_with_msi_of(512 * 129)


@case
def msi_packed_on_many_threads():
    # An msi of several of the tool's compression blocks (128 KiB each, and
    # one byte over) is one deflate stream whatever the threads that packed
    # it: the same bundle on one thread and on eight, read whole.
    msi, exe = installer_inputs(msi_size=3 * 128 * 1024 + 1)
    one = pack(scratch("one-thread.exe"), "--msi", msi, "--exe", exe, "-j", "1")
    many = pack(scratch("installer.exe"), "--msi", msi, "--exe", exe, "-j", "8")
    check(read_bytes(one) == read_bytes(many), "-j 1 and -j 8 packed different bundles")
    run_complete(many, msi, exe)


@case
def temp_path_without_separator():
    # The folder goes below the temporary path with one separator added.
    msi, exe = installer_inputs()
    bundle_path = pack_installer(msi, exe, stub=seam_stub())
    temp = new_temp()
    record = scratch("record.txt")
    run = seam_run(bundle_path, windows_path(temp), env=probe_env(record))
    check_complete_run(run, temp, record, msi, exe)


def sign_bundle(unsigned):
    """Signs the bundle with osslsigncode and a fresh test certificate, checks
    that the signature verifies and that the payload stayed where it was;
    returns the signed copy."""
    key, cert = scratch("test.key"), scratch("test.crt")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Satchel test signer", "-keyout", key, "-out", cert,
                    "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    signed = scratch("installer-signed.exe")
    result = subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key,
                             "-n", "Satchel test installer", "-h", "sha256",
                             "-in", unsigned, "-out", signed],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(result.returncode == 0, "osslsigncode sign failed: " + result.stdout.decode())
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(result.returncode == 0, "osslsigncode verify refused: " + result.stdout.decode())
    unsigned_bytes, signed_bytes = read_bytes(unsigned), read_bytes(signed)
    check(len(signed_bytes) > len(unsigned_bytes), "nothing was appended")
    # The payload is where it was; the signature went behind it.
    header_at = bundle.find_header(signed_bytes)
    check(header_at == bundle.find_header(unsigned_bytes) and header_at is not None,
          "signing moved the payload header")
    return signed


@case
def signed_bundle():
    msi, exe = installer_inputs()
    run_complete(sign_bundle(pack_installer(msi, exe)), msi, exe)


MAKE_ICON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources",
                         "make_icon.py")
VERSION_INFO = {"ProductName": "Satchel Test Product", "ProductVersion": "4.3.2",
                "FileVersion": "4.3.2.17", "CompanyName": "Tessel \u00dcml\u00e4ut Ltd",
                "LegalCopyright": "\u00a9 2026 Tessel", "FileDescription": "Test installer \U0001F4E6"}


def version_info(path):
    """What GetFileVersionInfoW and VerQueryValueW read from the file: the
    fixed versions and each string of VERSION_INFO."""
    result = subprocess.run([wine(), program("satchel-version-info"), windows_path(path)]
                            + list(VERSION_INFO), env=wine_env(), stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, timeout=120)
    text = result.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    check(result.returncode == 0, "no version information read back: " + text)
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


@case
def bundle_identity():
    """A bundle with an icon, version information and a manifest runs as any
    other, Windows reads its version information back, and so it does once
    the bundle is signed."""
    msi, exe = installer_inputs()
    icon = scratch("app.ico")
    subprocess.run([sys.executable, MAKE_ICON, icon, "16", "32", "48"], check=True)
    options = ["--msi", msi, "--exe", exe, "--icon", icon, "--manifest", "asInvoker"]
    for key, value in VERSION_INFO.items():
        options += ["--version-info", key + "=" + value]
    unsigned = pack(scratch("installer.exe"), *options)
    expected = dict(VERSION_INFO, fixed="4.3.2.17 4.3.2.0")
    for path in (unsigned, sign_bundle(unsigned)):
        info = version_info(path)
        check(info == expected, "version information %r, expected %r" % (info, expected))
        run_complete(path, msi, exe)


# ---- failures ------------------------------------------------------------

@case
def no_payload():
    plain = scratch("plain.exe")
    shutil.copyfile(launcher(), plain)
    fatal_run(plain, "Failed to find start of compressed data")


@case
def magic_with_wrong_crc():
    stub = bundle.pad_to_block(read_bytes(launcher()))
    good = bundle.payload([("msi", b"m"), ("exe", probe_bytes())],
                          [("msi", "Setup.msi"), ("exe", "Setup.exe")])
    damaged = good[:32] + bytes([good[32] ^ 1]) + good[33:]
    path = write_file(scratch("wrong-crc.exe"), stub + damaged)
    fatal_run(path, "Failed to find start of compressed data")


# The tool refuses a bundle without both names and both entries, so the
# next three are written by hand.
def bundle_lacking(files=("msi", "exe"), properties=("msi", "exe")):
    contents = {"msi": sample_content(70000), "exe": probe_bytes()}
    names = {"msi": "Setup.msi", "exe": "Setup.exe"}
    path = scratch("installer.exe")
    bundle.write_bundle(path, launcher(), files=[(key, contents[key]) for key in files],
                        properties=[(key, names[key]) for key in properties])
    return path


@case
def no_msi_property():
    # The folder was made first, and goes again.
    fatal_run(bundle_lacking(properties=("exe",)), "No msi filename")


@case
def no_exe_property():
    fatal_run(bundle_lacking(properties=("msi",)), "No exe filename")


@case
def no_msi_entry():
    # The empty msi file that was created is removed with the folder.
    fatal_run(bundle_lacking(files=("exe",)), "Failed to extract file")


@case
def damaged_entry():
    msi, exe = installer_inputs()
    bundle_path = pack_installer(msi, exe)
    data = bytearray(read_bytes(bundle_path))
    entries = bundle.read_entries(bytes(data))
    start, compressed, _ = entries["exe"]
    # A deflate block of the reserved type 3 is invalid wherever it starts.
    data[start] = 0xFF
    write_file(bundle_path, bytes(data))
    fatal_run(bundle_path, "Failed to extract file")


@case
def altered_entry():
    # One bit of the msi's stored bytes flipped: it still inflates, but not to
    # what was packed.  Its CRC-32 stops the run before anything is started.
    msi = write_file(scratch("in", "Setup.msi"), os.urandom(70000))
    exe = write_file(scratch("in", "Setup.exe"), probe_bytes())
    bundle_path = pack_installer(msi, exe)
    data = bytearray(read_bytes(bundle_path))
    start, compressed, _ = bundle.read_entries(bytes(data))["msi"]
    data[start + compressed // 2] ^= 0x10
    write_file(bundle_path, bytes(data))
    fatal_run(bundle_path, "Failed to extract file")


@case
def entry_ending_early():
    # The msi entry's deflate stream ends at half its declared size: no
    # truncated installer is taken for a whole one, and nothing is started.
    path = scratch("short-msi.exe")
    msi = sample_content(70000)
    bundle.write_bundle(path, launcher(), files=[("msi", msi), ("exe", probe_bytes())],
                        properties=[("msi", "Setup.msi"), ("exe", "Setup.exe")],
                        declared={"msi": 2 * len(msi)})
    fatal_run(path, "Failed to extract file")


@case
def truncated_bundle():
    msi, exe = installer_inputs()
    bundle_path = pack_installer(msi, exe)
    data = read_bytes(bundle_path)
    start, compressed, _ = bundle.read_entries(data)["exe"]
    # The file ends halfway through the exe entry's compressed bytes.
    write_file(bundle_path, data[:start + compressed // 2])
    fatal_run(bundle_path, "Failed to extract file")


@case
def exe_not_a_program():
    # A text under a program's name, and a program marked as a DLL: the tool
    # refuses such bundles, so they are written by hand.
    script = b"@echo off\r\nrem This is a text, not a program.\r\nexit /b 7\r\n"
    dll = bytearray(probe_bytes())
    dll[struct.unpack_from("<I", dll, 0x3C)[0] + 23] |= 0x20  # IMAGE_FILE_DLL
    for n, exe in enumerate(rows_for_target([script, bytes(dll)], [0])):
        path = scratch("not-a-program-%d.exe" % n)
        bundle.write_bundle(path, launcher(), files=[("msi", sample_content(1000)), ("exe", exe)],
                            properties=[("msi", "Setup.msi"), ("exe", "Setup.exe")])
        fatal_run(path, "Failed to launch program")
    # The same text as a batch file, which Windows starts through its command
    # interpreter: the tool packs it, and it runs.
    msi = write_file(scratch("in", "Setup.msi"), sample_content(1000))
    exe = write_file(scratch("in", "Setup.cmd"), script)
    temp = new_temp()
    run = run_bundle(pack_installer(msi, exe), temp=temp)
    check(run.boxes == [] and run.code == 7,
          "the batch file: exit code %d, boxes %r" % (run.code, run.boxes))
    check_empty(temp, "left behind: %r" % os.listdir(temp))


@case
def names_of_one_file():
    # The tool refuses such a bundle, so it is written by hand: "a.exe" and
    # "A.EXE" are one file to the file system.
    path = scratch("same-name.exe")
    bundle.write_bundle(path, launcher(), files=[("msi", b"the msi"), ("exe", probe_bytes())],
                        properties=[("msi", "a.exe"), ("exe", "A.EXE")])
    fatal_run(path, "Failed to create file")


@case
def extra_file_outside_folder():
    # The tool refuses such a name, so the bundle is written by hand: a name
    # with a separator is refused before anything is written under it.
    path = scratch("outside.exe")
    bundle.write_bundle(path, launcher(),
                        files=[("msi", b"the msi"), ("exe", probe_bytes()),
                               ("files/..\\escaped.txt", b"x"), ("files/../up.txt", b"y")],
                        properties=[("msi", "Setup.msi"), ("exe", "Setup.exe")])
    fatal_run(path, "Failed to create file")
    check(not os.path.exists(scratch("escaped.txt")) and not os.path.exists(scratch("up.txt")),
          "a file was written outside the folder")


# ---- system calls that fail ----------------------------------------------

def programs_running_from(folder):
    """The processes (wine's, on this machine or the 32-bit one) whose command
    line names `folder` (its wine path): a program started from it that has
    not ended."""
    name = windows_path(folder).encode()
    found = []
    for pid in os.listdir("/proc"):
        try:
            with open(os.path.join("/proc", pid, "cmdline"), "rb") as f:
                line = f.read()
        except OSError:
            continue
        if pid.isdigit() and name in line:
            found.append(line.replace(b"\0", b" ").decode("utf-8", "replace"))
    return found


def check_no_program_left(folder, seconds=20):
    """Nothing started from `folder` runs any longer (a program that runs on
    by design gets `seconds` to end by itself)."""
    deadline = time.monotonic() + seconds
    while programs_running_from(folder) and time.monotonic() < deadline:
        time.sleep(0.2)
    left = programs_running_from(folder)
    check(left == [], "still running: %r" % left)


# The launcher's test build with one system call failing (SATCHEL_SEAM_FAIL
# of launcher_seams.cpp, CALL:ERROR): the box and exit code 1, what is left in
# the temporary folder (None: nothing; else the names in the GUID folder,
# which stays where a program of the bundle may still run from it), and
# whether the packaged program ran.  A program that the launcher had started
# suspended and cannot let run is ended; one that runs goes on unwatched
# after a failed snapshot and ends by itself.  Nothing of the bundle runs on.
SYSTEM_CALL_FAILURES = [
    ("com_fails", "CoInitialize", "Failed to initialize COM", None, False),
    ("guid_fails", "CoCreateGuid", "Failed to generate GUID", None, False),
    ("create_directory_fails", "CreateDirectoryW", "Failed to create directory", None, False),
    ("write_fails", "WriteFile:112", "Failed to write file", None, False),
    ("create_job_fails", "CreateJobObjectA", "Failed to create job", None, False),
    ("assign_fails", "AssignProcessToJobObject:5", "Failed to assign process to job (error 5)",
     None, False),
    ("assign_fails_1450", "AssignProcessToJobObject:1450",
     "Failed to assign process to job (error 1450)", None, False),
    ("resume_fails", "ResumeThread", "Failed to resume thread", None, False),
    ("snapshot_fails", "CreateToolhelp32Snapshot", "Failed to take snapshot",
     ["Setup.exe", "Setup.msi"], True),
]


def system_call_failure_case(failing, message, left, runs, quiet_switch, n):
    """Each failure twice, from a bundle that hands its arguments on: without
    arguments (the box), and with a quiet switch (no box; the text on
    standard error).  On i686 once, the box and the quiet run by turns from
    one failure to the next."""
    def run_case():
        msi, exe = installer_inputs()
        bundle_path = pack(scratch("installer.exe"), "--msi", msi, "--exe", exe,
                           "--pass-arguments", "--quiet-switch", "/S", stub=seam_stub())
        ways = [([], expect_fatal), (["/norestart", quiet_switch], expect_quiet_fatal)]
        for args, expect in rows_for_target(ways, [n % 2]):
            temp = new_temp("tmp-%d" % len(args))
            record = scratch("record.txt")
            env = probe_env(record)
            env["SATCHEL_SEAM_FAIL"] = failing
            try:
                expect(run_bundle(bundle_path, args=args, temp=temp, env=env, stderr=True), message)
                check_no_program_left(temp)
                check(os.path.exists(record) == runs,
                      "the program ran" if not runs else "the program did not run")
                if left is None:
                    check_empty(temp, "left behind: %r" % os.listdir(temp))
                else:
                    folder = only_guid_folder(temp)
                    check(sorted(os.listdir(folder)) == left, "left %r" % os.listdir(folder))
            except Failure as failure:
                raise Failure("arguments %r: %s" % (args, failure))
            if runs:
                os.remove(record)
    return run_case


# The quiet switches that the failures above are run with, one each in turn:
# msiexec's in their forms and cases, and the packager's own "/S".
QUIET_SWITCHES = ["/qn", "/QUIET", "-passive", "/qb!-", "/q", "/Qn+", "/s", "/qB", "-QB-"]

for _n, (_name, _failing, _message, _left, _runs) in enumerate(SYSTEM_CALL_FAILURES):
    CASES[_name] = system_call_failure_case(_failing, _message, _left, _runs,
                                            QUIET_SWITCHES[_n % len(QUIET_SWITCHES)], _n)


# When a failure shows its box and when it writes to standard error instead:
# the bundle's options, the arguments given, the window station, and whether
# the run is quiet.  Forms that are no quiet switch, a switch in a bundle
# that hands nothing on, and a switch of another bundle show the box; an
# invisible window station never does.
QUIET_OR_BOX = [
    (["--pass-arguments", "--quiet-switch", "/S"], ["/qr"], False, False),
    (["--pass-arguments", "--quiet-switch", "/S"], ["/QF"], False, False),
    (["--pass-arguments", "--quiet-switch", "/S"], ["/qnx", "quiet", "/S=1"], False, False),
    (["--pass-arguments", "--quiet-switch", "/S"], ["/x", "/Silent"], False, False),
    (["--pass-arguments", "--quiet-switch", "/S", "--quiet-switch", "/Silent"], ["/silent"],
     False, True),
    (["--pass-arguments"], ["TRANSFORMS=a.mst", "/qb+"], False, True),
    (["--pass-arguments"], ["/S"], False, False),
    ([], ["/qn"], False, False),
    ([], [], True, True),
    (["--pass-arguments"], ["/qf"], True, True),
]


@case
def quiet_or_box():
    msi, exe = installer_inputs()
    # On i686: a form that is no quiet switch, the packager's own switches,
    # msiexec's behind another argument, a bundle that hands nothing on, and
    # the invisible window station.
    for n, (options, args, hidden, quiet) in enumerate(rows_for_target(QUIET_OR_BOX,
                                                                       [0, 4, 5, 7, 8])):
        bundle_path = pack(scratch("installer-%d.exe" % n), "--msi", msi, "--exe", exe,
                           *options, stub=seam_stub())
        env = {"SATCHEL_SEAM_FAIL": "CreateJobObjectA"}
        if hidden:
            env["SATCHEL_SEAM_WINDOW_STATION"] = "hidden"
        temp = new_temp("tmp-%d" % n)
        run = run_bundle(bundle_path, args=args, temp=temp, env=env, stderr=True)
        try:
            (expect_quiet_fatal if quiet else expect_fatal)(run, "Failed to create job")
            check_empty(temp, "left behind: %r" % os.listdir(temp))
        except Failure as failure:
            raise Failure("%r %r%s: %s" % (options, args, " hidden" if hidden else "", failure))


# ---- the ready bootstrap and real msi packages ---------------------------

PRODUCT_WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Satchel Test Product" Language="1033" Version="1.0.0"
           Manufacturer="Satchel tests" UpgradeCode="6a0d3c57-0f2e-4b8a-9a51-3d4f2a7c9e01">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="%(embed)s"/>
    %(condition)s
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="SatchelTest">
          <Component Id="Main" Guid="0b8f7e2a-5c3d-4e1f-8a9b-7c6d5e4f3a21">
            <File Id="readme" Name="readme.txt" Source="readme.txt" KeyPath="yes"/>
            <File Id="data" Name="data.bin" Source="data.bin"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
"""
PRODUCT_FILES = {"readme": ("readme.txt", b"Installed by the Satchel tests.\r\n"),
                 "data": ("data.bin", sample_content(40000, seed=3))}


def make_msi(launch_condition=None, external_cabinet=False):
    """Product.msi made by wixl in scratch/msi (and product.cab beside it,
    made by gcab with members named by their File keys, when the cabinet is
    external); returns the paths of both (the cabinet's None when embedded)."""
    folder = scratch("msi")
    for key, (name, data) in PRODUCT_FILES.items():
        write_file(os.path.join(folder, name), data)
    condition = ""
    if launch_condition is not None:
        condition = '<Condition Message="This product does not install here.">%s</Condition>' % (
            launch_condition)
    wxs = write_file(os.path.join(folder, "product.wxs"), (PRODUCT_WXS % {
        "embed": "no" if external_cabinet else "yes", "condition": condition}).encode())
    msi = os.path.join(folder, "Product.msi")
    result = subprocess.run(["wixl", "-o", msi, wxs], cwd=folder, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    check(result.returncode == 0, "wixl failed: " + result.stdout.decode())
    if not external_cabinet:
        return msi, None
    members = os.path.join(folder, "members")
    os.makedirs(members, exist_ok=True)
    for key, (name, data) in PRODUCT_FILES.items():
        write_file(os.path.join(members, key), data)
    cab = os.path.join(folder, "product.cab")
    result = subprocess.run(["gcab", "-c", "-n", cab] + list(PRODUCT_FILES), cwd=members,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(result.returncode == 0, "gcab failed: " + result.stdout.decode())
    return msi, cab


def install(bundle_path):
    """Runs the bundle silently with /qn from the folder scratch/caller,
    installing into scratch/target, with a verbose log named by a relative
    path, as a deployment system runs it; returns the run, the temporary
    folder and the target."""
    temp, target, caller = new_temp(), scratch("target"), new_temp("caller")
    run = run_bundle(bundle_path, temp=temp, timeout=300, cwd=caller,
                     args=["/qn", "/norestart", "/l*v", "install.log",
                           "INSTALLDIR=" + windows_path(target)])
    return run, temp, target


def check_installed(target, installed):
    for key, (name, data) in PRODUCT_FILES.items():
        path = os.path.join(target, name)
        if installed:
            check(os.path.exists(path) and read_bytes(path) == data,
                  "%s was not installed as packed" % name)
        else:
            check(not os.path.exists(path), "%s was installed" % name)


def msi_install_case(code, external_cabinet=False, launch_condition=None):
    msi, cab = make_msi(launch_condition=launch_condition, external_cabinet=external_cabinet)
    options = ["--msi", msi]
    if cab is not None:
        options += ["--file", "files/product.cab=" + cab]
    # No --exe: the ready bootstrap, which takes the bundle's arguments.
    bundle_path = pack(scratch("Setup.exe"), *options)
    run, temp, target = install(bundle_path)
    check(run.boxes == [], "unexpected warning box: %r" % run.boxes)
    check(run.code == code, "exit code %d, expected %d" % (run.code, code))
    # The log's relative path resolved in the caller's folder, as with plain
    # msiexec, not in the temporary folder.
    check(os.listdir(scratch("caller")) == ["install.log"],
          "no log in the caller's folder: %r" % os.listdir(scratch("caller")))
    check_installed(target, installed=(code == 0))
    check(os.listdir(temp) == [], "left behind: %r" % os.listdir(temp))


@case
def msi_silent_install():
    msi_install_case(0)


@case
def msi_launch_condition_fails():
    # msiexec refuses the product (1603); the code comes back, and the folder
    # is cleaned up all the same.
    msi_install_case(1603, launch_condition="NOT VersionNT")


@case
def msi_external_cabinet():
    msi_install_case(0, external_cabinet=True)


def bootstrap_folder(msi_names, bootstrap_exe=None):
    """A folder holding the bootstrap and the given msi files."""
    folder = scratch("beside")
    os.makedirs(folder, exist_ok=True)
    for name in msi_names:
        write_file(os.path.join(folder, name), b"not read")
    path = os.path.join(folder, "satchel-bootstrap.exe")
    shutil.copyfile(bootstrap_exe or bootstrap(), path)
    return path


@case
def bootstrap_without_msi():
    # An .msix does not count, nor does a folder named like an msi.  Under a
    # quiet switch of msiexec's the text goes to standard error instead.
    path = bootstrap_folder(["Product.msix", "readme.txt"])
    os.makedirs(os.path.join(os.path.dirname(path), "folder.msi"))
    message = "No .msi package beside the bootstrap program"
    expect_fatal(run_bundle(path, stderr=True), message)
    expect_fatal(run_bundle(path, args=["/qr"], stderr=True), message)
    expect_quiet_fatal(run_bundle(path, args=["/norestart", "/QN"], stderr=True), message)


@case
def bootstrap_where_nobody_sees():
    # The bootstrap's test build on a window station that is not visible.
    path = bootstrap_folder(["One.msi", "Two.msi"], bootstrap_exe=program("satchel-bootstrap-seam"))
    run = run_bundle(path, env={"SATCHEL_SEAM_WINDOW_STATION": "hidden"}, stderr=True)
    expect_quiet_fatal(run, "More than one .msi package beside the bootstrap program")


@case
def bootstrap_with_two_msis():
    path = bootstrap_folder(["One.msi", "Two.MSI"])
    expect_fatal(run_bundle(path), "More than one .msi package beside the bootstrap program")


@case
def bootstrap_without_msiexec():
    path = bootstrap_folder(["Product.msi"], bootstrap_exe=program("satchel-bootstrap-seam"))
    empty = scratch("system")
    os.makedirs(empty)
    run = run_bundle(path, env={"SATCHEL_SEAM_SYSTEM_DIRECTORY": windows_path(empty)})
    expect_fatal(run, "msiexec.exe was not found in the system folder")


@case
def bootstrap_without_own_path():
    path = bootstrap_folder(["Product.msi"], bootstrap_exe=program("satchel-bootstrap-seam"))
    run = run_bundle(path, env={"SATCHEL_SEAM_FAIL": "GetModuleFileNameW"})
    expect_fatal(run, "Cannot find the bootstrap program's own folder")


@case
def bootstrap_msiexec_not_a_program():
    path = bootstrap_folder(["Product.msi"], bootstrap_exe=program("satchel-bootstrap-seam"))
    system = scratch("system")
    write_file(os.path.join(system, "msiexec.exe"), b"This is a text, not a program.\r\n" * 40)
    run = run_bundle(path, env={"SATCHEL_SEAM_SYSTEM_DIRECTORY": windows_path(system)})
    expect_fatal(run, "Failed to start msiexec.exe")


@case
def bootstrap_command_line_too_long():
    # msiexec's command line is its quoted path, /i, the quoted msi path and
    # the bootstrap's own arguments.  With a system folder longer than the
    # bootstrap's (msiexec here the probe; wine starts nothing from beyond
    # MAX_PATH), arguments that make it exactly as long as a command line can
    # be start msiexec; one character more is refused, and nothing starts.
    # Its variables go through wine's environment, where they do not lengthen
    # satchel-runenv's own command line.
    path = bootstrap_folder(["Product.msi"], bootstrap_exe=program("satchel-bootstrap-seam"))
    system = make_long_folder(240, trailing_separator=False)
    shutil.copyfile(program("satchel-probe"), os.path.join(host_path(system), "msiexec.exe"))
    msi = windows_path(os.path.join(os.path.dirname(path), "Product.msi"))
    fixed = len('"%s\\msiexec.exe" /i "%s" ' % (system, msi))
    record = scratch("record.txt")
    env = probe_env(record)
    env["SATCHEL_SEAM_SYSTEM_DIRECTORY"] = system
    for extra in (0, 1):
        argument = "a" * (COMMAND_LINE_CAPACITY - 1 - fixed + extra)
        run = run_bundle(path, args=[argument], wine_variables=env)
        if extra == 0:
            check(run.boxes == [] and run.code == 0, "refused at the limit: %r, exit code %d"
                  % (run.boxes, run.code))
            line = read_record(record)["cmdline"]
            check(len(line) == COMMAND_LINE_CAPACITY - 1 and line.endswith(" " + argument),
                  "msiexec got a command line of %d characters" % len(line))
            os.remove(record)
        else:
            expect_fatal(run, "The command line for msiexec.exe is too long")
            check(not os.path.exists(record), "msiexec was started")


@case
def names_not_plain():
    # A name that is not a plain Windows file name is refused before anything
    # is written: nothing lands outside the folder, in a device or a stream.
    # The rule itself is the payload library's, unit-tested natively; on i686
    # a folder, a device and a stream.
    names = rows_for_target([("msi", "..\\..\\x.exe"), ("exe", "sub\\a.exe"), ("msi", "NUL"),
                             ("exe", "COM1.exe"), ("msi", "a.msi:s"), ("exe", "setup.exe."),
                             ("msi", "..")], [0, 3, 4])
    for n, (key, bad) in enumerate(names):
        properties = {"msi": "Setup.msi", "exe": "Setup.exe"}
        properties[key] = bad
        path = scratch("bad-name-%d.exe" % n)
        bundle.write_bundle(path, launcher(), files=[("msi", b"m"), ("exe", probe_bytes())],
                            properties=sorted(properties.items()))
        try:
            fatal_run(path, "Invalid file name in the bundle", temp=new_temp("tmp-%d" % n))
        except Failure as failure:
            raise Failure("%s %r: %s" % (key, bad, failure))
    check(sorted(os.listdir(Setting.scratch)) ==
          sorted(["bad-name-%d.exe" % n for n in range(len(names))] +
                 ["tmp-%d" % n for n in range(len(names))]),
          "something was written outside: %r" % os.listdir(Setting.scratch))


# ---- the temporary path --------------------------------------------------

@case
def temp_path_query_fails():
    # wine's query answers 0 for a path beyond MAX_PATH; the launcher ends
    # with a message of its own instead of looking before its buffer.
    msi, exe = installer_inputs()
    bundle_path = pack_installer(msi, exe)
    long_temp = scratch("t" * 150, "t" * 150)
    os.makedirs(long_temp, exist_ok=True)
    expect_fatal(run_bundle(bundle_path, temp=long_temp), "Failed to get temporary folder")
    check_empty(long_temp, "a folder was made")


def bundle_without_msi_property():
    path = scratch("no-msi-name.exe")
    bundle.write_bundle(path, seam_stub(), files=[("msi", b"m"), ("exe", b"e")],
                        properties=[("exe", "Setup.exe")])
    return path


@case
def temp_path_3095_accepted():
    temp_path = make_long_folder(TEMP_PATH_LIMIT - 1, trailing_separator=True)
    run = seam_run(bundle_without_msi_property(), temp_path)
    # Accepted: the run ends later on, and the folder made below the path
    # goes again.
    expect_fatal(run, "No msi filename")
    check_empty(host_path(temp_path), "left behind below the long path")


@case
def temp_path_3096_refused():
    temp_path = make_long_folder(TEMP_PATH_LIMIT, trailing_separator=True)
    expect_fatal(seam_run(bundle_without_msi_property(), temp_path), "Path too long")
    check_empty(host_path(temp_path), "a folder was made")


@case
def temp_path_beyond_buffer():
    # The query reports the capacity it would need; that is refused as well.
    temp_path = windows_path(scratch("x")) + "\\" + "y" * 5000 + "\\"
    expect_fatal(seam_run(bundle_without_msi_property(), temp_path), "Path too long")


def long_name(units):
    """A file name of exactly `units` UTF-16 units: two-byte UTF-8 letters
    and one character outside the BMP, which takes two units."""
    return "\u00e9" * (units - 2) + "\U0001F392"


def name_bound_case(msi_units, exe_units, expected):
    # A temporary path of 3095 characters without a separator: with the
    # separator, the GUID folder and the next separator the prefix is 3135
    # units, which leaves 961 for a name and its NUL.
    temp_path = make_long_folder(TEMP_PATH_LIMIT - 1, trailing_separator=False)
    path = scratch("long-name.exe")
    bundle.write_bundle(path, seam_stub(), files=[("msi", b"m"), ("exe", b"e")],
                        properties=[("msi", long_name(msi_units)), ("exe", long_name(exe_units))])
    expect_fatal(seam_run(path, temp_path), expected)
    check_empty(host_path(temp_path), "left behind below the long path")


@case
def file_name_960_units():
    # Converts; the host's file system then refuses a name this long, which
    # ends the run at a later step with another message.
    name_bound_case(960, 960, "Failed to create file")


@case
def file_name_961_units():
    name_bound_case(961, 10, "Unicode conversion failed")


@case
def exe_name_961_units():
    name_bound_case(10, 961, "Unicode conversion failed")


# ---- every message has a case ---------------------------------------------

MESSAGES_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                               "launcher", "launcher_messages.h")


def check_messages(listed):
    """Every text that the launcher and the ready bootstrap can show
    (launcher_messages.h) is expected by a case of this file, as a string of
    its own ("%d" standing for a number), and every case is among `listed`,
    the cases that the suites run: a new message without a wine test fails."""
    with open(MESSAGES_HEADER, encoding="utf-8") as f:
        messages = re.findall(r'^#define MSG_\w+ "((?:[^"\\]|\\.)*)"$', f.read(), re.M)
    check(len(messages) >= 20, "only %d messages read from %s" % (len(messages), MESSAGES_HEADER))
    with open(os.path.abspath(__file__), encoding="utf-8") as f:
        strings = {node.value for node in ast.walk(ast.parse(f.read()))
                   if isinstance(node, ast.Constant) and isinstance(node.value, str)}
    missing = []
    for message in messages:
        text = unescape(message)
        pattern = re.compile(re.escape(text).replace("%d", "-?[0-9]+"))
        if not any(pattern.fullmatch(string) for string in strings):
            missing.append(text)
    check(missing == [], "no case expects %r" % missing)
    unlisted = sorted(set(CASES) - set(listed))
    check(unlisted == [], "cases that no suite runs: %r" % unlisted)
    return len(messages)


# ---- fixture -------------------------------------------------------------

def setup():
    for path in (launcher(), seam_stub(), program("satchel-probe"), program("satchel-sleeper"),
                 program("satchel-runenv"), program("satchel-bootstrap-seam"), bootstrap()):
        check(os.path.exists(path), "missing %s: build the %s preset first" % (path, Setting.target))
    quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
             "stderr": subprocess.DEVNULL}
    if not Setting.keep_prefix:
        # Every run starts from a new prefix.
        if os.path.isdir(Setting.prefix):
            subprocess.run([WINESERVER, "-k"], env=wine_env(), **quiet)
            shutil.rmtree(Setting.prefix)
        made = subprocess.run(["sh", WINE_PREFIX, Setting.prefix],
                              env=dict(wine_env(), WINE=wine()), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        check(made.returncode == 0, made.stdout)
    # The wine server and wine's own services would otherwise start anew for
    # every case (seconds each): the server persists a while after its last
    # program, and a long sleeper of ours keeps the services up until the
    # cleanup stops the server.  Neither may hold on to ctest's output pipes.
    subprocess.run([WINESERVER, "-p60"], env=wine_env(), check=True, **quiet)
    subprocess.run([wine(), "reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude",
                    "/t", "REG_SZ", "/d", "user32.MessageBoxA;user32.CreateWindowExW", "/f"],
                   env=wine_env(), check=True, **quiet)
    subprocess.Popen([wine(), program("satchel-sleeper"), "1200000", "NUL"], env=wine_env(),
                     start_new_session=True, **quiet)


def cleanup():
    # Ends every program of the prefix, the keep-alive sleeper among them.
    subprocess.run([WINESERVER, "-k"], env=wine_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--target", choices=sorted(WINE), default="win64",
                        help="win64: x86_64 under wine64; win32: i686 under 32-bit wine")
    parser.add_argument("--prefix", required=True, help="the WINEPREFIX to use")
    parser.add_argument("--keep-prefix", action="store_true",
                        help="the prefix is made already: setup adds to it, never remakes it")
    parser.add_argument("--build", required=True, help="the target's Windows build directory")
    parser.add_argument("--stub", help="the launcher stub under test (default: the build's own)")
    parser.add_argument("--bootstrap",
                        help="the ready msi bootstrap under test (default: the build's own)")
    parser.add_argument("--tool", required=True, help="the native bundle tool")
    parser.add_argument("--scratch", required=True, help="a directory for the cases' files")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--check-messages", action="store_true",
                        help="check that a case expects every message of the launcher and "
                             "the ready bootstrap, and that CASES are all the cases there are")
    parser.add_argument("cases", nargs="*")
    options = parser.parse_args()
    if options.list:
        print("\n".join(CASES))
        return 0
    if options.check_messages:
        try:
            print("%d messages, each expected by a case" % check_messages(options.cases))
        except Failure as failure:
            print("FAILED: %s" % failure, file=sys.stderr)
            return 1
        return 0
    Setting.target = options.target
    Setting.prefix = os.path.abspath(options.prefix)
    Setting.keep_prefix = options.keep_prefix
    Setting.build = os.path.abspath(options.build)
    Setting.stub = os.path.abspath(
        options.stub or os.path.join(Setting.build, "launcher", "satchel-launcher.exe"))
    Setting.bootstrap = os.path.abspath(
        options.bootstrap or os.path.join(Setting.build, "launcher", "satchel-bootstrap.exe"))
    Setting.tool = os.path.abspath(options.tool)
    names = []
    for name in options.cases:
        names += list(CASES) if name == "all" else [name]
    for name in names:
        if name not in CASES and name not in ("setup", "cleanup"):
            parser.error("unknown case %r" % name)
    failed = []
    for name in names:
        try:
            if name == "setup":
                setup()
            elif name == "cleanup":
                cleanup()
            else:
                Setting.scratch = os.path.join(os.path.abspath(options.scratch), name)
                shutil.rmtree(Setting.scratch, ignore_errors=True)
                os.makedirs(Setting.scratch)
                CASES[name]()
        except Failure as failure:
            failed.append(name)
            print("%sFAILED: %s" % (name + ": " if len(names) > 1 else "", failure),
                  file=sys.stderr, flush=True)
            if name == "setup":
                break
            continue
        print("%sok" % (name + ": " if len(names) > 1 else ""), flush=True)
    if failed:
        if len(names) > 1:
            print("%d of %d failed: %s" % (len(failed), len(names), " ".join(failed)),
                  file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
