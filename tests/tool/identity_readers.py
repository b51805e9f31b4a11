#!/usr/bin/python3
"""Bundles packed with --icon, --version-info and --manifest, read back by
readers nobody here wrote: Python's pefile and icoutils' wrestool.

For each Windows stub of the data folder (the i686 and x86_64 launchers and
Java front ends) it packs a bundle without the options and one with them,
and checks:
  - without them the stub stands in front byte for byte;
  - with them the payload is the same bytes, at the next 512-byte boundary
    behind the image; sections follow each other, the resource directory is
    the last section, the image size and the PE checksum are right;
  - the icon group lists exactly the .ico's images (wrestool rebuilds the
    very .ico file from it; every RT_ICON holds the image's bytes);
  - the version strings and the fixed versions are those asked;
  - the manifest parses as XML and holds the level asked, Windows 7 to 11,
    long paths, and DPI awareness for a --gui Java front end only;
  - satchel list --json shows the same and satchel verify passes, and
    catches a resource directory that points outside the image.

    identity_readers.py TOOL DATA_FOLDER APP_JAR SCRATCH
"""
import json
import os
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
import zlib

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
MAKE_ICON = os.path.join(HERE, "..", "..", "resources", "make_icon.py")
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import bundle  # noqa: E402

TOOL, DATA, APP_JAR, SCRATCH = sys.argv[1:5]
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ASM = "{urn:schemas-microsoft-com:asm.v1}"
ASM3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
VERSION_INFO = {"ProductName": "Satchel Reader Test", "ProductVersion": "7.1",
                "FileVersion": "7.1.65535.3", "CompanyName": "Tessel \u00dcml\u00e4ut GmbH",
                "FileDescription": "A test \u2192 bundle", "LegalCopyright": "\u00a9 2026",
                "OriginalFilename": "Setup.exe", "InternalName": "setup", "Comments": ""}
FIXED = {"file": (7, 1, 65535, 3), "product": (7, 1, 0, 0)}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def run(*command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        sys.exit("%s failed: %s" % (" ".join(command), result.stdout.decode()))
    return result.stdout


def png(size):
    """A small RGBA PNG (a Vista-style icon image)."""
    rows = b"".join(b"\0" + bytes([x * 4 % 256, 0x80, 0x40, 0xff]) * size for x in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xffffffff)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def make_icon():
    """Satchel's bitmaps at 16, 32 and 48 pixels and a 64-pixel PNG, in one
    .ico laid out as wrestool writes one (directory, then images in order)."""
    drawn = os.path.join(SCRATCH, "drawn.ico")
    run(sys.executable, MAKE_ICON, drawn, "16", "32", "48")
    data = open(drawn, "rb").read()
    count = struct.unpack_from("<H", data, 4)[0]
    entries, images = [], []
    for i in range(count):
        entry = data[6 + 16 * i:6 + 16 * i + 16]
        size, offset = struct.unpack_from("<II", entry, 8)
        entries.append(entry[:12])
        images.append(data[offset:offset + size])
    image = png(64)
    entries.append(struct.pack("<BBBBHHI", 64, 64, 0, 0, 1, 32, len(image)))
    images.append(image)
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for entry, image in zip(entries, images):
        out += entry + struct.pack("<I", offset)
        offset += len(image)
    out += b"".join(images)
    path = os.path.join(SCRATCH, "app.ico")
    open(path, "wb").write(out)
    return path, images


def pack(kind, stub, out, options):
    if kind == "launcher":
        msi = os.path.join(SCRATCH, "Product.msi")
        if not os.path.exists(msi):
            open(msi, "wb").write(os.urandom(50000))
        run(TOOL, "pack", "--stub", stub, "-o", out, "--msi", msi, *options)
    else:
        run(TOOL, "pack-java", "--stub", stub, "-o", out, APP_JAR, *options)
    return open(out, "rb").read()


def resources_of(pe, kind):
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != kind:
            continue
        for name in entry.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found[name.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def check_bundle(label, kind, stub, gui, icon, images):
    stub_bytes = open(stub, "rb").read()
    plain = pack(kind, stub, os.path.join(SCRATCH, label + "-plain.exe"), [])
    check(plain[:len(stub_bytes)] == stub_bytes, label + ": without the options the stub changed")
    extra = ["--gui"] if gui else []
    if gui:
        plain = pack(kind, stub, os.path.join(SCRATCH, label + "-plain-gui.exe"), extra)

    options = extra + ["--icon", icon, "--manifest", "highestAvailable"]
    for key, value in VERSION_INFO.items():
        options += ["--version-info", key + "=" + value]
    path = os.path.join(SCRATCH, label + ".exe")
    data = pack(kind, stub, path, options)
    pe = pefile.PE(path)
    check(not pe.get_warnings(), label + ": pefile warns: %r" % pe.get_warnings())

    # Layout: sections back to back, the resources last, the payload behind.
    sections = pe.sections
    for before, after in zip(sections, sections[1:]):
        end = before.VirtualAddress + max(before.Misc_VirtualSize, before.SizeOfRawData)
        check(after.VirtualAddress == (end + 0xfff) // 0x1000 * 0x1000,
              label + ": section %r does not follow %r" % (after.Name, before.Name))
    last = sections[-1]
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
    check(last.Name.rstrip(b"\0") == b".rsrc" and directory.VirtualAddress == last.VirtualAddress,
          label + ": the resource directory is not the last section")
    alignment = pe.OPTIONAL_HEADER.SectionAlignment
    check(pe.OPTIONAL_HEADER.SizeOfImage == (last.VirtualAddress + last.Misc_VirtualSize
                                             + alignment - 1) // alignment * alignment,
          label + ": SizeOfImage 0x%x" % pe.OPTIONAL_HEADER.SizeOfImage)
    check(pe.verify_checksum(), label + ": PE checksum 0x%x, computed 0x%x" % (
        pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
    image_end = last.PointerToRawData + last.SizeOfRawData
    header_at = bundle.find_header(data)
    check(header_at == (image_end + 511) // 512 * 512,
          label + ": payload at %r, image ends at %d" % (header_at, image_end))
    plain_at = bundle.find_header(plain)
    check(data[header_at:] == plain[plain_at:], label + ": the payload differs")
    check(pe.OPTIONAL_HEADER.Subsystem == (2 if gui or kind == "launcher" else 3),
          label + ": subsystem %d" % pe.OPTIONAL_HEADER.Subsystem)

    # The icon: wrestool rebuilds the .ico from the group and its icons.  (It
    # writes as many bytes again behind it as the group has, read from
    # whatever follows the last image; so it does for the stubs that windres
    # makes.)
    groups = resources_of(pe, RT_GROUP_ICON)
    rebuilt = subprocess.run(["wrestool", "-x", "--type=14", path], stdout=subprocess.PIPE).stdout
    ico = open(icon, "rb").read()
    check(rebuilt[:len(ico)] == ico and len(rebuilt) == len(ico) + sum(map(len, groups.values())),
          label + ": wrestool's icon differs from the .ico")
    icons = resources_of(pe, RT_ICON)
    check(len(groups) == 1, label + ": icon groups %r" % sorted(groups))
    group = next(iter(groups.values()))
    count = struct.unpack_from("<H", group, 4)[0]
    ids = [struct.unpack_from("<H", group, 6 + 14 * i + 12)[0] for i in range(count)]
    check([icons.get(i) for i in ids] == images and len(icons) == len(images),
          label + ": the icons are not the .ico's images")

    # The version block.
    strings = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode("utf-8"): v.decode("utf-8") for k, v in table.entries.items()})
    check(strings == VERSION_INFO, label + ": version strings %r" % strings)
    fixed = pe.VS_FIXEDFILEINFO[0]
    for name, ms, ls in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                         ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        check((ms >> 16, ms & 0xffff, ls >> 16, ls & 0xffff) == FIXED[name],
              label + ": fixed %s version %x %x" % (name, ms, ls))

    # The manifest.
    manifests = resources_of(pe, RT_MANIFEST)
    check(list(manifests) == [1], label + ": manifests %r" % list(manifests))
    root = ElementTree.fromstring(manifests.get(1, b"<none/>"))
    level = root.find(".//%srequestedExecutionLevel" % ASM3)
    check(level is not None and level.get("level") == "highestAvailable", label + ": level")
    systems = {e.get("Id") for e in root.iter("%ssupportedOS" % COMPATIBILITY)}
    check(systems == SUPPORTED_OS, label + ": supportedOS %r" % systems)
    settings = {e.tag.split("}")[1]: e.text for e in root.iter() if "WindowsSettings" in e.tag}
    check(settings.get("longPathAware") == "true", label + ": longPathAware %r" % settings)
    check(("dpiAwareness" in settings) == gui, label + ": DPI awareness %r" % settings)

    # Our own reading commands agree.
    listed = json.loads(run(TOOL, "list", "--json", path))["resources"]
    check(len(listed["icons"]) == len(images) and listed["manifest"] == {"level": "highestAvailable"}
          and listed["versionInfo"]["strings"] == VERSION_INFO
          and listed["versionInfo"]["fileVersion"] == "7.1.65535.3",
          label + ": satchel list shows %r" % listed)
    run(TOOL, "verify", path)
    # A resource directory that reaches past the image is caught.
    broken = bytearray(data)
    size_at = pe.OPTIONAL_HEADER.get_file_offset() + (112 if pe.PE_TYPE == 0x20b else 96) + 2 * 8 + 4
    struct.pack_into("<I", broken, size_at, 0x100000)
    broken_path = os.path.join(SCRATCH, label + "-broken.exe")
    open(broken_path, "wb").write(broken)
    result = subprocess.run([TOOL, "verify", broken_path], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    check(result.returncode == 1 and b"the resource section is not well formed" in result.stdout,
          label + ": verify of a broken resource directory said %r" % result.stdout)


def main():
    os.makedirs(SCRATCH, exist_ok=True)
    icon, images = make_icon()
    stubs = [("launcher-i686", "launcher", "satchel-launcher.exe", False),
             ("launcher-x86_64", "launcher", "x86_64/satchel-launcher.exe", False),
             ("java-i686-gui", "java", "satchel-java.exe", True),
             ("java-x86_64", "java", "x86_64/satchel-java.exe", False)]
    for label, kind, name, gui in stubs:
        stub = os.path.join(DATA, name)
        if not check(os.path.exists(stub), "not built: " + stub):
            continue
        check_bundle(label, kind, stub, gui, icon, images)
    # The Linux front end is no Windows program: it takes none of them.
    linux = os.path.join(DATA, "satchel-java")
    out = os.path.join(SCRATCH, "linux-app")
    result = subprocess.run([TOOL, "pack-java", "--stub", linux, "-o", out, APP_JAR, "--manifest",
                             "asInvoker"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(result.returncode == 1 and b"it is no Windows program" in result.stdout
          and not os.path.exists(out), "pack-java of the Linux front end said %r" % result.stdout)
    for failure in failures:
        print("FAIL " + failure)
    print("%d stubs checked, %d failures" % (len(stubs), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
