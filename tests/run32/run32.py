#!/usr/bin/env python3
"""Runs 32-bit Windows programs on a machine that cannot run 32-bit code.

This machine's kernel starts no 32-bit program, so 32-bit wine cannot run on
it.  This script boots a small virtual machine instead: Debian's own kernel
(which runs 32-bit programs) under qemu, with the host's root file system
shared read-only and a tmpfs overlay on top.  The guest thus sees exactly the
host's packages and build trees; what it writes stays in the guest, except in
the results folder, which is shared read-write at the same path.

    run32.py --dir DIR prepare
        installs what is missing, fetches and unpacks the kernel package into
        DIR, builds the initramfs and makes the 32-bit wine prefix (once per
        machine; every later step finds them in DIR)
    run32.py --dir DIR run [--results FOLDER] [--timeout S] -- COMMAND [ARG...]
        boots the machine once and runs COMMAND inside it, in the current
        folder and environment, with WINEPREFIX set to a copy-on-write view
        of the prepared prefix; COMMAND's standard output, standard error and
        exit code become this script's own

A run that does not reach its end (the machine did not boot, the time ran
out) prints the guest's console log and ends with 1.  Only one machine runs at
a time: a lock file in DIR makes a second run wait.
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
]
# The 32-bit wine, on a host that knows the i386 architecture.
I386_PACKAGES = ["wine32:i386"]
BUSYBOX = "/bin/busybox"
QEMU = "qemu-system-x86_64"
# Loaded in this order; the dependencies of each come from modules.dep.
MODULES = ["virtio_pci", "9pnet_virtio", "9p", "overlay"]
# The wine of the guest: 32-bit loader, no Mono or Gecko, no menu entries.
WINE32 = "/usr/lib/wine/wine"
WINEDLLOVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"


def say(text):
    print("run32: " + text, file=sys.stderr, flush=True)


class Failure(Exception):
    pass


# ---- preparation ---------------------------------------------------------

def install_packages():
    if "i386" not in subprocess.run(["dpkg", "--print-foreign-architectures"],
                                    stdout=subprocess.PIPE, text=True).stdout.split():
        subprocess.run(["dpkg", "--add-architecture", "i386"], check=True)
        missing = [p.split(":")[0] for p in PACKAGES] + I386_PACKAGES
    else:
        missing = [p for p in [p.split(":")[0] for p in PACKAGES] + I386_PACKAGES
                   if "install ok installed" not in subprocess.run(
                       ["dpkg-query", "-W", "-f=${Status}", p], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True).stdout]
    if not missing:
        return
    say("installing " + " ".join(missing))
    sudo = [] if os.getuid() == 0 else ["sudo"]
    lock = ["-o", "DPkg::Lock::Timeout=900"]
    subprocess.run(sudo + ["apt-get"] + lock + ["update", "-qq"], check=True)
    subprocess.run(sudo + ["apt-get"] + lock + ["install", "-y", "-qq"] + missing, check=True,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"),
                   stdout=subprocess.DEVNULL)


def kernel_package():
    """The name of the kernel package that linux-image-amd64 stands for."""
    out = subprocess.run(["apt-cache", "depends", "linux-image-amd64"], stdout=subprocess.PIPE,
                         text=True, check=True).stdout
    for line in out.splitlines():
        name = line.strip().partition("Depends: ")[2]
        if name.startswith("linux-image-"):
            return name
    raise Failure("apt knows no kernel package behind linux-image-amd64")


def fetch_kernel(home):
    """DIR/kernel: the unpacked kernel package (vmlinuz and its modules).
    The host's /boot is never touched."""
    kernel = os.path.join(home, "kernel")
    if os.path.isfile(os.path.join(kernel, "ready")):
        return kernel
    shutil.rmtree(kernel, ignore_errors=True)
    download = os.path.join(home, "download")
    shutil.rmtree(download, ignore_errors=True)
    os.makedirs(download)
    name = kernel_package()
    say("fetching " + name)
    subprocess.run(["apt-get", "download", "-qq", name], cwd=download, check=True,
                   stderr=subprocess.DEVNULL if os.getuid() == 0 else None)
    (deb,) = [f for f in os.listdir(download) if f.endswith(".deb")]
    subprocess.run(["dpkg-deb", "-x", os.path.join(download, deb), kernel], check=True)
    shutil.rmtree(download)
    open(os.path.join(kernel, "ready"), "w").close()
    return kernel


def kernel_files(kernel):
    (image,) = [f for f in os.listdir(os.path.join(kernel, "boot")) if f.startswith("vmlinuz-")]
    version = image[len("vmlinuz-"):]
    return os.path.join(kernel, "boot", image), os.path.join(kernel, "lib", "modules", version)


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


# The guest's first program: loads the modules, mounts the host's root
# read-only with a tmpfs overlay, mounts the job and results folders over it
# at their host paths, and hands over to the job's script.
INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /modules/order); do
  insmod /modules/$module || echo "run32-init: insmod $module failed"
done
arg() { sed -n "s/.*run32\.$1=\([^ ]*\).*/\1/p" /proc/cmdline; }
job=$(arg job)
results=$(arg results)
opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose
mkdir -p /host /rw /root
mount -t 9p -o $opts,ro hostroot /host || { echo "run32-init: no host root"; poweroff -f; }
mount -t tmpfs -o mode=0755 tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work /root ||
  { echo "run32-init: no overlay"; poweroff -f; }
mkdir -p /root$job
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 job /root$job
if [ -n "$results" ]; then
  mkdir -p /root$results
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 results /root$results
fi
umount /proc /sys /dev
exec switch_root /root /bin/sh $job/guest.sh
"""


def build_initramfs(home, modules_dir):
    """DIR/initrd.cpio: busybox, the modules (uncompressed) and init."""
    initrd = os.path.join(home, "initrd.cpio")
    if os.path.isfile(initrd):
        return initrd
    with tempfile.TemporaryDirectory(dir=home) as tree:
        for folder in ("bin", "dev", "proc", "sys", "modules"):
            os.makedirs(os.path.join(tree, folder))
        shutil.copy(BUSYBOX, os.path.join(tree, "bin", "busybox"))
        # The kernel opens it for the first program's output, before any
        # file system is mounted.
        os.mknod(os.path.join(tree, "dev", "console"), 0o600 | stat.S_IFCHR, os.makedev(5, 1))
        names = []
        for path in module_order(modules_dir):
            name = os.path.basename(path)
            data = module_data(path)
            if name.endswith(".xz"):
                name = name[:-3]
            with open(os.path.join(tree, "modules", name), "wb") as f:
                f.write(data)
            names.append(name)
        with open(os.path.join(tree, "modules", "order"), "w") as f:
            f.write("\n".join(names) + "\n")
        with open(os.path.join(tree, "init"), "w") as f:
            f.write(INIT)
        os.chmod(os.path.join(tree, "init"), 0o755)
        listing = subprocess.run(["find", "."], cwd=tree, stdout=subprocess.PIPE, check=True).stdout
        with open(initrd + ".new", "wb") as out:
            subprocess.run([BUSYBOX, "cpio", "-o", "-H", "newc"], cwd=tree, input=listing,
                           stdout=out, stderr=subprocess.DEVNULL, check=True)
    os.replace(initrd + ".new", initrd)
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
    code = boot(home, ["sh", "-c", MAKE_PREFIX.format(wine=WINE32)], work, timeout,
                make_prefix=True)
    if code != 0:
        raise Failure("making the wine prefix failed (exit code %d)" % code)
    shutil.rmtree(prefix, ignore_errors=True)
    shutil.rmtree(prefix + ".new", ignore_errors=True)
    os.makedirs(prefix + ".new")
    subprocess.run(["tar", "-C", prefix + ".new", "--strip-components=1", "-xf",
                    os.path.join(work, "prefix.tar")], check=True)
    check_prefix = prefix_ready(prefix + ".new")
    if not check_prefix:
        raise Failure("wineboot made no usable prefix")
    os.replace(prefix + ".new", prefix)
    shutil.rmtree(work)


def prepare(home, timeout):
    started = time.monotonic()
    install_packages()
    os.makedirs(home, exist_ok=True)
    vmlinuz, modules_dir = kernel_files(fetch_kernel(home))
    build_initramfs(home, modules_dir)
    set_up = time.monotonic()
    say("kernel and initramfs ready after %.0f s" % (set_up - started))
    with machine_lock(home):
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


# The job's script in the guest: a system of its own (tmpfs on /tmp and /run),
# the caller's environment and folder, the command, its results, power off.
GUEST = """#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
ln -sf /proc/self/fd /dev/fd 2>/dev/null
ip link set lo up 2>/dev/null
{environment}
cd {folder} || cd /
{keep_alive}
{command} <{job}/stdin >{job}/stdout 2>{job}/stderr
echo $? >{job}/code
sync
{busybox} poweroff -f
"""

# Never carried into the guest.
HOST_ONLY = {"PWD", "OLDPWD", "SHLVL", "_", "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY",
             "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "TMPDIR", "WINEPREFIX", "WINEARCH",
             "WINELOADER", "WINESERVER", "WINEDEBUG"}


def guest_environment(home, results):
    lines = []
    for name, value in sorted(os.environ.items()):
        if name in HOST_ONLY or not name.replace("_", "a").isalnum() or name[0].isdigit():
            continue
        lines.append("export %s=%s" % (name, shlex.quote(value)))
    variables = {"WINEPREFIX": os.path.join(home, "prefix"), "WINEARCH": "win32",
                 "WINEDLLOVERRIDES": WINEDLLOVERRIDES, "WINEDEBUG": "-all",
                 "RUN32_WINE": WINE32, "RUN32_PREFIX": os.path.join(home, "prefix"),
                 "HOME": "/root", "RUN32_RESULTS": results or ""}
    for name, value in variables.items():
        lines.append("export %s=%s" % (name, shlex.quote(value)))
    return "\n".join(lines)


def keep_alive_lines(keep_alive):
    """One wine session for the whole run: a server that stays, and a program
    that keeps wine's own services up (else every program starts them anew,
    which under emulation costs half a minute or more)."""
    if not keep_alive:
        return ""
    return ("/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1\n"
            "setsid %s %s </dev/null >/dev/null 2>&1 &" % (WINE32, keep_alive))


def boot(home, command, results, timeout, make_prefix=False, keep_alive=None):
    """Boots the machine, runs `command` inside and returns its exit code;
    its output goes to this process's standard output and error."""
    vmlinuz, modules_dir = kernel_files(os.path.join(home, "kernel"))
    initrd = os.path.join(home, "initrd.cpio")
    if not make_prefix and not prefix_ready(os.path.join(home, "prefix")):
        raise Failure("the machine is not prepared: run32.py --dir %s prepare" % home)
    job = tempfile.mkdtemp(prefix="job-", dir=home)
    try:
        open(os.path.join(job, "stdin"), "w").close()
        with open(os.path.join(job, "guest.sh"), "w") as f:
            f.write(GUEST.format(environment=guest_environment(home, results),
                                 folder=shlex.quote(os.getcwd()), job=shlex.quote(job),
                                 command=" ".join(shlex.quote(a) for a in command),
                                 busybox=BUSYBOX, keep_alive=keep_alive_lines(keep_alive)))
        console = os.path.join(job, "console.log")
        append = "console=ttyS0 loglevel=4 panic=-1 rdinit=/init run32.job=" + job
        qemu = [QEMU, "-machine", "q35,accel=tcg", "-cpu", "max,smap=off", "-smp", "2",
                "-m", "3072", "-display", "none", "-nographic", "-no-reboot",
                "-monitor", "none", "-serial", "file:" + console,
                "-kernel", vmlinuz, "-initrd", initrd, "-nic", "none",
                "-virtfs", "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap",
                "-virtfs", "local,path=%s,mount_tag=job,security_model=none" % job]
        if results:
            os.makedirs(results, exist_ok=True)
            qemu += ["-virtfs", "local,path=%s,mount_tag=results,security_model=none" % results]
            append += " run32.results=" + results
        qemu += ["-append", append]
        started = time.monotonic()
        machine = subprocess.Popen(qemu, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        try:
            _, qemu_errors = machine.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            machine.kill()
            _, qemu_errors = machine.communicate()
            qemu_errors += b"\nrun32: the machine was stopped after %d s\n" % timeout
        seconds = time.monotonic() - started
        for name, stream in (("stdout", sys.stdout), ("stderr", sys.stderr)):
            path = os.path.join(job, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    stream.buffer.write(f.read())
                stream.flush()
        code_path = os.path.join(job, "code")
        if not os.path.exists(code_path):
            say("the command did not run to its end; the guest's log follows")
            sys.stderr.buffer.write(qemu_errors)
            if os.path.exists(console):
                with open(console, "rb") as f:
                    sys.stderr.buffer.write(f.read()[-20000:])
            sys.stderr.flush()
            return 1
        say("the machine ran for %.0f s" % seconds)
        with open(code_path) as f:
            return int(f.read().strip() or 1)
    finally:
        shutil.rmtree(job, ignore_errors=True)


def run(home, command, results, timeout, keep_alive):
    with machine_lock(home):
        return boot(home, command, results and os.path.abspath(results), timeout,
                    keep_alive=keep_alive)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dir", required=True, help="the machine's folder (kernel, prefix)")
    parser.add_argument("--timeout", type=int, default=1200, help="seconds the machine may run")
    parser.add_argument("--results", help="a folder shared read-write with the guest")
    parser.add_argument("--keep-alive", metavar="'PROGRAM ARG...'",
                        help="a Windows program that runs for the whole run, keeping one wine "
                             "session up for every program of the command")
    parser.add_argument("action", choices=["prepare", "run", "packages"])
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
            parser.error("run needs a command")
        return run(home, command, options.results, options.timeout, options.keep_alive)
    except (Failure, subprocess.CalledProcessError) as failure:
        say("failed: %s" % failure)
        return 1


if __name__ == "__main__":
    sys.exit(main())
