#!/usr/bin/env python3
"""Runs 32-bit Windows programs on a machine that cannot run 32-bit code.

This machine's kernel starts no 32-bit program, so 32-bit wine cannot run on
it.  This script boots a small virtual machine instead: Debian's own kernel
(which runs 32-bit programs) under qemu, with the host's root file system
shared read-only, the 32-bit wine laid over it and a tmpfs on top.  The guest
thus sees the host's packages and build trees; what it writes stays in the
guest, except in a results folder, which is shared read-write at its path.

The 32-bit wine is never installed on the host: it is unpacked, with what it
depends on, into a folder of its own (DIR/i386), fetched by an apt that keeps
its own lists and knows the i386 architecture.  The host's package database
and its architectures stay as they are.

    run32.py --dir DIR prepare
        installs what is missing on the host, fetches the kernel and the
        32-bit wine into DIR, builds the initramfs and makes the 32-bit wine
        prefix (once per machine; every later step finds them in DIR)
    run32.py --dir DIR tier SUITE_FILE...
        boots the machine once and runs every suite in it, each in a fresh
        copy-on-write view of the host (its own prefix, its own /tmp); each
        suite's output and exit code go to DIR/tier/NAME
    run32.py --dir DIR report NAME
        prints what the suite NAME printed in the last tier run and ends
        with its exit code
    run32.py --dir DIR run [--results FOLDER] [--timeout S] -- COMMAND [ARG...]
        boots the machine once and runs COMMAND inside it, in the current
        folder and environment; COMMAND's standard output, standard error and
        exit code become this script's own
    run32.py --dir DIR packages
        the host packages that prepare installs

Every command runs with WINEPREFIX set to a copy-on-write view of the
prepared prefix.  A suite file (written by the build, see tests/CMakeLists.txt)
has one field a line: "name N", "timeout S", "folder F", optionally
"results F" and "keep-alive PROGRAM ARG...", any number of "env NAME=VALUE"
and one "arg A" per argument of the command.

A boot that does not reach its end (the machine did not boot, the time ran
out) prints the guest's console log.  Only one machine runs at a time: a lock
file in DIR makes a second boot wait.
"""
import argparse
import fcntl
import lzma
import os
import re
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile
import time

# What the preparation installs on the host, as PACKAGE:WORD (WORD: what this
# script uses of it; the test packages.lists checks it does).
PACKAGES = [
    "qemu-system-x86:qemu-system-x86_64",
    "busybox-static:busybox",
    "libz-mingw-w64:zlib1.dll",
]
BUSYBOX = "/bin/busybox"
QEMU = "qemu-system-x86_64"
# Loaded in this order; the dependencies of each come from modules.dep.
MODULES = ["virtio_pci", "9pnet_virtio", "9p", "overlay"]
# The wine of the guest: the 32-bit loader of DIR/i386, no Mono or Gecko, no
# menu entries.  Its server is the host's (wine64's wineserver64).
WINE32 = "/usr/lib/wine/wine"
WINEDLLOVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
# The 32-bit wine and every package it depends on, less what a folder of
# unpacked files does without: the package manager and its configuration
# (dpkg, debconf, perl) and the packages of documents only (gcc-12-base).
I386_ROOT_PACKAGE = "wine32:i386"
I386_LEFT_OUT = re.compile(r"^(dpkg|debconf|perl[^:]*|gcc-[0-9]+-base):i386$")
# What libwine's installation script does to the zlib1.dll it takes from
# libz-mingw-w64: the mark of a wine builtin DLL at offsets 64 to 95.
MINGW_ZLIB = "/usr/i686-w64-mingw32/lib/zlib1.dll"
BUILTIN_MARK = b"Wine builtin DLL" + bytes(16)


def say(text):
    print("run32: " + text, file=sys.stderr, flush=True)


class Failure(Exception):
    pass


# ---- preparation ---------------------------------------------------------

def install_packages():
    missing = [p.split(":")[0] for p in PACKAGES
               if "install ok installed" not in subprocess.run(
                   ["dpkg-query", "-W", "-f=${Status}", p.split(":")[0]],
                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout]
    if not missing:
        return
    say("installing " + " ".join(missing))
    sudo = [] if os.getuid() == 0 else ["sudo"]
    apt = sudo + ["apt-get", "-o", "DPkg::Lock::Timeout=900"]
    # An index that cannot be fetched (a mirror in sync) is no failure.
    if subprocess.run(apt + ["update", "-qq"]).returncode != 0:
        say("apt-get update could not read every index; going on with what it has")
    result = subprocess.run(apt + ["install", "-y", "-qq"] + missing,
                            env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"),
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        raise Failure("cannot install %s; apt-get said:\n%s\nwhat to do: install them by hand "
                      "(apt-get install %s), then run the tier again"
                      % (" ".join(missing), result.stdout.strip(), " ".join(missing)))


def own_apt(home):
    """apt-get and apt-cache with lists, status and cache of their own in
    DIR/apt, knowing amd64 and i386 (the host's stay as they are), and the
    index read; an index that could not be fetched is left out."""
    state = os.path.join(home, "apt")
    options = ["-o", "Dir::State::Lists=" + os.path.join(state, "lists"),
               "-o", "Dir::State::status=" + os.path.join(state, "status"),
               "-o", "Dir::Cache=" + os.path.join(state, "cache"),
               "-o", "APT::Architecture=amd64", "-o", "APT::Architectures::=i386"]
    if os.getuid() == 0:  # else apt-get download drops to _apt, who cannot write DIR
        options += ["-o", "APT::Sandbox::User=root"]
    for folder in ("lists/partial", "cache/archives/partial"):
        os.makedirs(os.path.join(state, folder), exist_ok=True)
    open(os.path.join(state, "status"), "w").close()
    result = subprocess.run(["apt-get"] + options + ["update", "-qq"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        say("apt-get update could not read every index; going on with the others:\n"
            + result.stdout.strip())
    return ["apt-get"] + options, ["apt-cache"] + options


def download(apt_get, names, folder):
    """Downloads the packages into FOLDER; a package that cannot be had fails
    with apt's reason."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    result = subprocess.run(apt_get + ["download", "-qq"] + names, cwd=folder,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        raise Failure("cannot download %s; apt-get said:\n%s"
                      % (" ".join(names), result.stdout.strip()))
    return sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".deb"))


def kernel_package(apt_cache):
    """The name of the kernel package that linux-image-amd64 stands for."""
    out = subprocess.run(apt_cache + ["depends", "linux-image-amd64"], stdout=subprocess.PIPE,
                         text=True, check=True).stdout
    for line in out.splitlines():
        name = line.strip().partition("Depends: ")[2]
        if name.startswith("linux-image-"):
            return name
    raise Failure("apt knows no kernel package behind linux-image-amd64")


def module_data(path):
    data = open(path, "rb").read()
    return lzma.decompress(data) if path.endswith(".xz") else data


def module_order(modules_dir):
    """The module files to load, each after the ones it depends on (the
    "depends=" field of each module's information)."""
    by_name = {}
    for folder, _, files in os.walk(os.path.join(modules_dir, "kernel")):
        for name in files:
            by_name[name.split(".")[0].replace("-", "_")] = os.path.join(folder, name)
    order = []

    def visit(name):
        path = by_name[name]
        if path in order:
            return
        match = re.search(rb"\0depends=([^\0]*)\0", module_data(path))
        for dependency in (match.group(1).decode().split(",") if match else []):
            if dependency:
                visit(dependency.replace("-", "_"))
        order.append(path)

    for name in MODULES:
        if name in by_name:  # a module built into the kernel has no file
            visit(name)
    return order


def fetch_kernel(home, apt_get, apt_cache):
    """DIR/kernel: the kernel image and, uncompressed, the modules the
    initramfs loads (DIR/kernel/modules/order lists them in loading order).
    The rest of the kernel package is not kept; the host's /boot is never
    touched."""
    kernel = os.path.join(home, "kernel")
    if os.path.isfile(os.path.join(kernel, "ready")) and \
            os.path.isfile(os.path.join(kernel, "vmlinuz")):
        return kernel
    shutil.rmtree(kernel, ignore_errors=True)
    name = kernel_package(apt_cache)
    say("fetching " + name)
    download_dir = os.path.join(home, "download")
    (deb,) = download(apt_get, [name], download_dir)
    unpacked = os.path.join(download_dir, "unpacked")
    subprocess.run(["dpkg-deb", "-x", deb, unpacked], check=True)
    (image,) = [f for f in os.listdir(os.path.join(unpacked, "boot")) if f.startswith("vmlinuz-")]
    modules_dir = os.path.join(unpacked, "lib", "modules", image[len("vmlinuz-"):])
    os.makedirs(os.path.join(kernel, "modules"))
    shutil.copy(os.path.join(unpacked, "boot", image), os.path.join(kernel, "vmlinuz"))
    names = []
    for path in module_order(modules_dir):
        name = os.path.basename(path)
        name = name[:-3] if name.endswith(".xz") else name
        with open(os.path.join(kernel, "modules", name), "wb") as f:
            f.write(module_data(path))
        names.append(name)
    with open(os.path.join(kernel, "modules", "order"), "w") as f:
        f.write("\n".join(names) + "\n")
    shutil.rmtree(download_dir)
    open(os.path.join(kernel, "ready"), "w").close()
    return kernel


def i386_closure(apt_cache):
    """The i386 packages that the 32-bit wine needs, by apt's own reckoning."""
    out = subprocess.run(apt_cache + ["depends", "--recurse", "--no-recommends", "--no-suggests",
                                      "--no-conflicts", "--no-breaks", "--no-replaces",
                                      "--no-enhances", "--no-pre-depends", I386_ROOT_PACKAGE],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if out.returncode != 0:
        raise Failure("apt knows no %s (its i386 index could not be read?):\n%s"
                      % (I386_ROOT_PACKAGE, out.stderr.strip()))
    names = {line for line in out.stdout.splitlines() if line and not line.startswith((" ", "<"))}
    return sorted(n for n in names if n.endswith(":i386") and not I386_LEFT_OUT.match(n))


def make_i386_root(home, apt_get, apt_cache):
    """DIR/i386: the 32-bit wine and its libraries, unpacked, laid over the
    host's root in the guest."""
    root = os.path.join(home, "i386")
    if os.path.isfile(os.path.join(root, "ready")):
        return root
    names = i386_closure(apt_cache)
    say("fetching the 32-bit wine: %d packages" % len(names))
    download_dir = os.path.join(home, "download")
    debs = download(apt_get, names, download_dir)
    new = root + ".new"
    shutil.rmtree(new, ignore_errors=True)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(new)
    for deb in debs:
        subprocess.run(["dpkg-deb", "-x", deb, new], check=True)
    shutil.rmtree(download_dir)
    # The host's /lib, /bin and /sbin are links into /usr: a real folder of
    # that name in the upper layer would hide them, so their files go to /usr.
    usr = os.path.join(new, "usr")
    for top in ("lib", "bin", "sbin"):
        folder = os.path.join(new, top)
        if os.path.isdir(folder) and not os.path.islink(folder):
            subprocess.run(["cp", "-a", folder, usr], check=True)
            shutil.rmtree(folder)
    # i386 builds of tar, bash and coreutils would hide the host's programs.
    for top in ("bin", "sbin"):
        shutil.rmtree(os.path.join(usr, top), ignore_errors=True)
    # What libwine's installation script does, which unpacking does not: the
    # builtin zlib1.dll that user32.dll loads (without it, wineboot cannot
    # load kernel32.dll).
    if not os.path.isfile(MINGW_ZLIB):
        raise Failure("%s is missing (apt-get install libz-mingw-w64)" % MINGW_ZLIB)
    windows = os.path.join(usr, "lib", "i386-linux-gnu", "wine", "i386-windows")
    if not os.path.isdir(windows):
        raise Failure("the 32-bit wine has no %s" % windows)
    with open(MINGW_ZLIB, "rb") as f:
        dll = bytearray(f.read())
    dll[64:64 + len(BUILTIN_MARK)] = BUILTIN_MARK
    with open(os.path.join(windows, "zlib1.dll"), "wb") as f:
        f.write(dll)
    if not os.access(os.path.join(new, WINE32.lstrip("/")), os.X_OK):
        raise Failure("the 32-bit wine has no %s" % WINE32)
    open(os.path.join(new, "ready"), "w").close()
    os.replace(new, root)
    return root


# The guest's first program: loads the modules, mounts the host's root and
# the 32-bit wine read-only and the job folder, then runs each suite of the
# job in turn: a fresh tmpfs overlay of both as its root, the job folder and
# its results folder at their host paths inside, its own time limit.  What a
# suite leaves running is ended before the next starts.
INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /modules/order); do
  insmod /modules/$module || echo "run32-init: insmod $module failed"
done
job=$(sed -n "s/.*run32\.job=\([^ ]*\).*/\1/p" /proc/cmdline)
opts=trans=virtio,version=9p2000.L,msize=512000
mkdir -p /host /i386 /job /rw /root
mount -t 9p -o $opts,cache=loose,ro hostroot /host || { echo "run32-init: no host root"; poweroff -f; }
mount -t 9p -o $opts,cache=loose,ro i386root /i386 || { echo "run32-init: no i386 root"; poweroff -f; }
mount -t 9p -o $opts job /job || { echo "run32-init: no job folder"; poweroff -f; }
for suite in $(cat /job/suites); do
  mount -t tmpfs -o mode=0755 tmpfs /rw
  mkdir -p /rw/upper /rw/work
  mount -t overlay overlay -o lowerdir=/i386:/host,upperdir=/rw/upper,workdir=/rw/work /root ||
    { echo "run32-init: no overlay"; poweroff -f; }
  mkdir -p /root$job
  mount --bind /job /root$job
  if [ -f /job/$suite/results ]; then
    read tag path < /job/$suite/results
    mkdir -p /root$path
    mount -t 9p -o $opts $tag /root$path
  fi
  started=$(date +%s)
  timeout -s KILL $(cat /job/$suite/timeout) chroot /root /bin/sh $job/$suite/guest.sh
  echo $(( $(date +%s) - started )) > /job/$suite/seconds
  kill -9 -1
  sleep 1
  umount -l /root
  umount -l /rw
done
sync
poweroff -f
"""


def build_initramfs(home, kernel):
    """DIR/initrd.cpio: busybox, the modules and init."""
    initrd = os.path.join(home, "initrd.cpio")
    made_with = os.path.join(home, "initrd.init")  # the init it has, made again when it changes
    if os.path.isfile(initrd) and os.path.isfile(made_with) and open(made_with).read() == INIT:
        return initrd
    with tempfile.TemporaryDirectory(dir=home) as tree:
        for folder in ("bin", "dev", "proc", "sys"):
            os.makedirs(os.path.join(tree, folder))
        shutil.copy(BUSYBOX, os.path.join(tree, "bin", "busybox"))
        # The kernel opens it for the first program's output, before any
        # file system is mounted.
        os.mknod(os.path.join(tree, "dev", "console"), 0o600 | stat.S_IFCHR, os.makedev(5, 1))
        shutil.copytree(os.path.join(kernel, "modules"), os.path.join(tree, "modules"))
        with open(os.path.join(tree, "init"), "w") as f:
            f.write(INIT)
        os.chmod(os.path.join(tree, "init"), 0o755)
        listing = subprocess.run(["find", "."], cwd=tree, stdout=subprocess.PIPE, check=True).stdout
        with open(initrd + ".new", "wb") as out:
            subprocess.run([BUSYBOX, "cpio", "-o", "-H", "newc"], cwd=tree, input=listing,
                           stdout=out, stderr=subprocess.DEVNULL, check=True)
    os.replace(initrd + ".new", initrd)
    with open(made_with, "w") as f:
        f.write(INIT)
    return initrd


def prefix_ready(prefix):
    return os.path.isfile(os.path.join(prefix, "drive_c", "windows", "system32", "kernel32.dll")) \
        and os.path.isfile(os.path.join(prefix, "system.reg"))


# Made in the guest's tmpfs (a 9p share is slow for wineboot's many small
# files), then carried out as one tar file.
MAKE_PREFIX = """set -e
export WINEPREFIX=/tmp/prefix WINEARCH=win32
rm -rf "$WINEPREFIX"
started=$(date +%s)
{wine} wineboot -i
/usr/lib/wine/wineserver -w
test -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll"
echo "wineboot took $(( $(date +%s) - started )) s"
tar -C /tmp -cf "$RUN32_RESULTS/prefix.tar" prefix
"""


def make_prefix(home, timeout):
    prefix = os.path.join(home, "prefix")
    if prefix_ready(prefix):
        return
    say("making the 32-bit wine prefix in the machine (a few minutes)")
    work = os.path.join(home, "prefix-work")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    suite = {"name": "prefix", "timeout": timeout, "folder": "/", "results": work,
             "args": ["sh", "-c", MAKE_PREFIX.format(wine=WINE32)]}
    (result,) = boot(home, [suite], make_prefix=True)
    show(result)
    if result["code"] != 0:
        raise Failure("making the wine prefix failed (exit code %s)" % result["code"])
    shutil.rmtree(prefix, ignore_errors=True)
    shutil.rmtree(prefix + ".new", ignore_errors=True)
    os.makedirs(prefix + ".new")
    subprocess.run(["tar", "-C", prefix + ".new", "--strip-components=1", "-xf",
                    os.path.join(work, "prefix.tar")], check=True)
    if not prefix_ready(prefix + ".new"):
        raise Failure("wineboot made no usable prefix")
    os.replace(prefix + ".new", prefix)
    shutil.rmtree(work)


def prepare(home, timeout):
    started = time.monotonic()
    install_packages()
    os.makedirs(home, exist_ok=True)
    with machine_lock(home):
        fetched = [os.path.join(home, f) for f in ("kernel/ready", "kernel/vmlinuz", "i386/ready")]
        apt_get, apt_cache = (None, None) if all(map(os.path.isfile, fetched)) else own_apt(home)
        build_initramfs(home, fetch_kernel(home, apt_get, apt_cache))
        make_i386_root(home, apt_get, apt_cache)
        set_up = time.monotonic()
        say("kernel, initramfs and 32-bit wine ready after %.0f s" % (set_up - started))
        make_prefix(home, timeout)
    say("wine prefix ready after %.0f s more" % (time.monotonic() - set_up))


# ---- running -------------------------------------------------------------

class machine_lock:
    """One machine at a time (the cores are few)."""

    def __init__(self, home):
        self.path = os.path.join(home, "lock")

    def __enter__(self):
        self.file = open(self.path, "w")
        fcntl.flock(self.file, fcntl.LOCK_EX)

    def __exit__(self, *_):
        self.file.close()


# A suite's script in the guest, in its own root: a system of its own (a
# tmpfs on /run; /tmp stays the host's, copy-on-write, since the build tree
# may lie there, less the host's wine and X sockets), the suite's
# environment and folder, its command, its results.
GUEST = """#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
rm -rf /tmp/.wine-* /tmp/.X11-unix /tmp/.X*-lock
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
ln -sf /proc/self/fd /dev/fd 2>/dev/null
ip link set lo up 2>/dev/null
{environment}
cd {folder} || cd /
{keep_alive}
{command} <{out}/stdin >{out}/stdout 2>{out}/stderr
echo $? >{out}/code
sync
"""

# Never carried into the guest.
HOST_ONLY = {"PWD", "OLDPWD", "SHLVL", "_", "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY",
             "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "TMPDIR", "WINEPREFIX", "WINEARCH",
             "WINELOADER", "WINESERVER", "WINEDEBUG"}


def guest_environment(home, suite):
    environment = {name: value for name, value in os.environ.items()
                   if name not in HOST_ONLY and name.replace("_", "a").isalnum()
                   and not name[0].isdigit()}
    for entry in suite.get("env", []):
        name, _, value = entry.partition("=")
        environment[name] = value
    environment.update({"WINEPREFIX": os.path.join(home, "prefix"), "WINEARCH": "win32",
                        "WINEDLLOVERRIDES": WINEDLLOVERRIDES, "WINEDEBUG": "-all",
                        "RUN32_WINE": WINE32, "RUN32_PREFIX": os.path.join(home, "prefix"),
                        "HOME": "/root", "RUN32_RESULTS": suite.get("results") or ""})
    return "\n".join("export %s=%s" % (name, shlex.quote(value))
                     for name, value in sorted(environment.items()))


def keep_alive_lines(keep_alive):
    """One wine session for the whole suite: a server that stays, and a
    program that keeps wine's own services up (else every program starts them
    anew, which under emulation costs half a minute or more)."""
    if not keep_alive:
        return ""
    return ("/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1\n"
            "setsid %s %s </dev/null >/dev/null 2>&1 &" % (WINE32, keep_alive))


def boot(home, suites, make_prefix=False):
    """Boots the machine once and runs each suite in it, in turn.  Returns,
    for each suite, its name, exit code (None when it did not run to its
    end), seconds and output."""
    initrd = os.path.join(home, "initrd.cpio")
    if not make_prefix and not prefix_ready(os.path.join(home, "prefix")):
        raise Failure("the machine is not prepared: run32.py --dir %s prepare" % home)
    job = tempfile.mkdtemp(prefix="job-", dir=home)
    try:
        qemu = [QEMU, "-machine", "q35,accel=tcg", "-cpu", "max,smap=off", "-smp", "2",
                "-m", "3072", "-display", "none", "-nographic", "-no-reboot",
                "-monitor", "none", "-kernel", os.path.join(home, "kernel", "vmlinuz"),
                "-initrd", initrd, "-nic", "none",
                "-virtfs", "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,"
                           "multidevs=remap",
                "-virtfs", "local,path=%s,mount_tag=i386root,security_model=none,readonly=on"
                           % os.path.join(home, "i386"),
                "-virtfs", "local,path=%s,mount_tag=job,security_model=none" % job]
        timeout = 60
        for number, suite in enumerate(suites, 1):
            out = os.path.join(job, str(number))
            os.makedirs(out)
            open(os.path.join(out, "stdin"), "w").close()
            with open(os.path.join(out, "timeout"), "w") as f:
                f.write("%d\n" % suite["timeout"])
            timeout += suite["timeout"] + 30
            with open(os.path.join(out, "guest.sh"), "w") as f:
                f.write(GUEST.format(environment=guest_environment(home, suite),
                                     folder=shlex.quote(suite["folder"]), out=shlex.quote(out),
                                     command=" ".join(shlex.quote(a) for a in suite["args"]),
                                     keep_alive=keep_alive_lines(suite.get("keep-alive"))))
            if suite.get("results"):
                os.makedirs(suite["results"], exist_ok=True)
                tag = "results%d" % number
                qemu += ["-virtfs", "local,path=%s,mount_tag=%s,security_model=none"
                         % (suite["results"], tag)]
                with open(os.path.join(out, "results"), "w") as f:
                    f.write("%s %s\n" % (tag, suite["results"]))
        with open(os.path.join(job, "suites"), "w") as f:
            f.write("".join("%d\n" % n for n in range(1, len(suites) + 1)))
        console = os.path.join(job, "console.log")
        qemu += ["-serial", "file:" + console,
                 "-append", "console=ttyS0 loglevel=4 panic=-1 rdinit=/init run32.job=" + job]
        started = time.monotonic()
        machine = subprocess.Popen(qemu, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        try:
            _, qemu_errors = machine.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            machine.kill()
            _, qemu_errors = machine.communicate()
            qemu_errors += b"\nrun32: the machine was stopped after %d s\n" % timeout
        say("the machine ran for %.0f s" % (time.monotonic() - started))
        results = []
        for number, suite in enumerate(suites, 1):
            out = os.path.join(job, str(number))

            def read(name):
                path = os.path.join(out, name)
                return open(path, "rb").read() if os.path.exists(path) else b""
            code = read("code").strip()
            seconds = read("seconds").strip()
            result = {"name": suite["name"], "stdout": read("stdout"), "stderr": read("stderr"),
                      "code": int(code) if code else None,
                      "seconds": int(seconds) if seconds else None}
            if result["code"] is None:
                result["stderr"] += b"\nrun32: " + (
                    b"the machine did not come to this suite" if not seconds else
                    b"stopped after its %d s" % suite["timeout"]
                    if result["seconds"] >= suite["timeout"] else
                    b"the suite's script ended without its exit code") + b"\n"
            results.append(result)
        if any(r["code"] is None for r in results):
            say("not every suite ran to its end; the guest's log follows")
            sys.stderr.buffer.write(qemu_errors)
            if os.path.exists(console):
                with open(console, "rb") as f:
                    sys.stderr.buffer.write(f.read()[-20000:])
            sys.stderr.flush()
        return results
    finally:
        shutil.rmtree(job, ignore_errors=True)


def show(result):
    """Prints a suite's output as its own; returns its exit code."""
    for name, stream in (("stdout", sys.stdout), ("stderr", sys.stderr)):
        stream.flush()
        stream.buffer.write(result[name])
        stream.flush()
    if result["seconds"] is not None:
        say("%s ran for %d s" % (result["name"], result["seconds"]))
    return 1 if result["code"] is None else result["code"]


def read_suite(path):
    """A suite file: one field a line (see the top of this file)."""
    suite = {"env": [], "args": []}
    with open(path) as f:
        for line in f.read().splitlines():
            key, _, value = line.partition(" ")
            if key in ("env", "arg"):
                suite[key + ("" if key == "env" else "s")].append(value)
            elif key == "timeout":
                suite[key] = int(value)
            elif key in ("name", "folder", "results", "keep-alive"):
                suite[key] = value
            elif key:
                raise Failure("%s: unknown field %r" % (path, key))
    for key in ("name", "timeout", "folder", "args"):
        if not suite.get(key):
            raise Failure("%s: no %s" % (path, key))
    return suite


def tier(home, suite_files):
    """Runs every suite in one boot; DIR/tier/NAME/ keeps each one's output
    and exit code for `report`.  Fails when a suite did not run to its end."""
    suites = [read_suite(path) for path in suite_files]
    folder = os.path.join(home, "tier")
    with machine_lock(home):
        shutil.rmtree(folder, ignore_errors=True)
        results = boot(home, suites)
        for result in results:
            out = os.path.join(folder, result["name"])
            os.makedirs(out)
            for name in ("stdout", "stderr"):
                with open(os.path.join(out, name), "wb") as f:
                    f.write(result[name])
            for name in ("code", "seconds"):
                if result[name] is not None:
                    with open(os.path.join(out, name), "w") as f:
                        f.write("%d\n" % result[name])
    for result in results:
        state = ("did not run to its end" if result["code"] is None else
                 "passed" if result["code"] == 0 else "failed (exit code %d)" % result["code"])
        print("%-28s %5s s  %s" % (result["name"], result["seconds"] or "-", state))
    return 1 if any(r["code"] is None for r in results) else 0


def report(home, name):
    out = os.path.join(home, "tier", name)
    if not os.path.isdir(out):
        say("no result of %s: the tier's boot (test run32.tier) did not run it; its output "
            "says why" % name)
        return 1

    def read(field):
        path = os.path.join(out, field)
        return open(path, "rb").read() if os.path.exists(path) else b""
    code, seconds = read("code").strip(), read("seconds").strip()
    return show({"name": name, "stdout": read("stdout"), "stderr": read("stderr"),
                 "code": int(code) if code else None, "seconds": int(seconds) if seconds else None})


def run(home, command, results, timeout, keep_alive):
    suite = {"name": os.path.basename(command[0]), "timeout": timeout, "folder": os.getcwd(),
             "results": results and os.path.abspath(results), "keep-alive": keep_alive,
             "args": command}
    with machine_lock(home):
        (result,) = boot(home, [suite])
    return show(result)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dir", required=True, help="the machine's folder (kernel, prefix)")
    parser.add_argument("--timeout", type=int, default=1200,
                        help="seconds the command may run (prepare: making the prefix)")
    parser.add_argument("--results", help="a folder shared read-write with the guest")
    parser.add_argument("--keep-alive", metavar="'PROGRAM ARG...'",
                        help="a Windows program that runs for the whole run, keeping one wine "
                             "session up for every program of the command")
    parser.add_argument("action", choices=["prepare", "tier", "report", "run", "packages"])
    parser.add_argument("command", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    home = os.path.abspath(options.dir)
    command = options.command[1:] if options.command[:1] == ["--"] else options.command
    try:
        if options.action == "packages":
            print("\n".join(PACKAGES))
            return 0
        if options.action == "prepare":
            prepare(home, options.timeout)
            return 0
        if not command:
            parser.error("%s needs %s" % (options.action, {
                "tier": "suite files", "report": "a suite's name", "run": "a command"}[
                    options.action]))
        if options.action == "tier":
            return tier(home, command)
        if options.action == "report":
            return report(home, command[0])
        return run(home, command, options.results, options.timeout, options.keep_alive)
    except (Failure, subprocess.CalledProcessError) as failure:
        say("failed: %s" % failure)
        return 1


if __name__ == "__main__":
    sys.exit(main())
