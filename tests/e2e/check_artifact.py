#!/usr/bin/env python3
"""Checks a built launcher or bootstrap the way `objdump -p` shows it: the expected PE
kind, the GUI subsystem, imports from system DLLs and MSVCRT only, one icon
group with the id 100, no manifest or version resource, and no test seam.

    check_artifact.py OBJDUMP LAUNCHER.exe PE32|PE32+

Fails when the launcher has not been built (./dev test builds it first)."""
import os
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "ole32.dll", "msvcrt.dll", "advapi32.dll",
               "ntdll.dll", "shell32.dll", "oleaut32.dll", "gdi32.dll"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def main():
    objdump, exe, kind = sys.argv[1:4]
    if not os.path.exists(exe):
        print("not built: " + exe)
        return 1
    text = subprocess.run([objdump, "-p", exe], check=True, stdout=subprocess.PIPE,
                          universal_newlines=True).stdout
    problems = []
    magic = re.search(r"^Magic\s+\S+\s+\((PE32\+?)\)", text, re.M)
    if not magic or magic.group(1) != kind:
        problems.append("not a %s image" % kind)
    if not re.search(r"^Subsystem\s+00000002\s+\(Windows GUI\)", text, re.M):
        problems.append("not the GUI subsystem")
    dlls = [name.lower() for name in re.findall(r"DLL Name: (\S+)", text)]
    foreign = [name for name in dlls if name not in SYSTEM_DLLS]
    if foreign or not dlls:
        problems.append("imports from non-system DLLs: %r" % foreign)
    # The resource directory: type entries are indented by 3 spaces, names
    # below a type by 5.
    types = {}
    current = None
    for line in text.splitlines():
        match = re.match(r"^[0-9a-f]{3}( +)Entry: ID: 0x([0-9a-f]+)", line)
        if not match:
            continue
        depth, ident = len(match.group(1)), int(match.group(2), 16)
        if depth == 3:
            current = ident
            types[current] = []
        elif depth == 5 and current is not None:
            types[current].append(ident)
    if types.get(RT_GROUP_ICON) != [100]:
        problems.append("icon groups %r, expected [100]" % types.get(RT_GROUP_ICON))
    if not types.get(RT_ICON):
        problems.append("no icon images")
    for unwanted, name in ((RT_MANIFEST, "manifest"), (RT_VERSION, "version block")):
        if unwanted in types:
            problems.append("has a " + name)
    others = set(types) - {RT_ICON, RT_GROUP_ICON}
    if others:
        problems.append("unexpected resource types %r" % sorted(others))
    # The test builds' seams read variables named SATCHEL_SEAM_*; a program
    # that ships names none of them, in either width.
    with open(exe, "rb") as f:
        image = f.read()
    for seam in (b"SATCHEL_SEAM", "SATCHEL_SEAM".encode("utf-16-le")):
        if seam in image:
            problems.append("carries a test seam (%r)" % seam)
    if problems:
        print("%s: %s" % (exe, "; ".join(problems)))
        return 1
    print("%s: %s, GUI, imports %s, icon group 100, no manifest or version block, no seam" %
          (exe, kind, ", ".join(dlls)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
