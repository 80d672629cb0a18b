#!/usr/bin/env python3
"""Checks the built stub's image with independent readers: icoutils' wrestool and icotool
for the resources, MinGW's objdump for the imports. The dialog template is decoded here
byte by byte from its documented layout.

Usage: stub_image_test.py STUB.exe      (exit 0 pass, 1 fail, 77 when a tool is missing)
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
from xml.etree import ElementTree

FAILURES = []


def check(condition, message):
    if not condition:
        FAILURES.append(message)


def run(*args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True).stdout


def resource(stub, type_id, name, raw=True):
    args = ["wrestool", "-x", f"--type={type_id}", f"--name={name}", stub]
    if raw:
        args.insert(2, "--raw")
    return run(*args)


def utf16z(data, at):
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def sz_or_ord(data, at):
    """A name-or-ordinal field: 0 (none), 0xFFFF + ordinal, or a zero-terminated string."""
    first = struct.unpack_from("<H", data, at)[0]
    if first == 0:
        return None, at + 2
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    return utf16z(data, at)


def align4(at):
    return (at + 3) & ~3


WS_CHILD, WS_VISIBLE, WS_POPUP, WS_CAPTION, WS_BORDER = 0x40000000, 0x10000000, 0x80000000, 0x00C00000, 0x00800000
WS_GROUP, WS_TABSTOP, WS_SYSMENU = 0x00020000, 0x00010000, 0x00080000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
SS_LEFT, SS_ICON, BS_DEFPUSHBUTTON, PBS_SMOOTH, WS_EX_CLIENTEDGE = 0, 3, 1, 1, 0x200


def check_dialog(stub):
    data = resource(stub, 5, 1020)
    version, signature, help_id, ex_style, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    check((version, signature) == (1, 0xFFFF), "not an extended dialog template")
    check(help_id == 0 and ex_style == 0, "help id or extended style not 0")
    check(style == WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, f"dialog style {style:#x}")
    check(not style & WS_SYSMENU and not style & WS_VISIBLE, "system menu or visible bit set")
    check((x, y, cx, cy) == (0, 0, 199, 74), f"dialog rectangle {(x, y, cx, cy)}")
    check(count == 4, f"{count} controls")
    at = 26
    menu, at = sz_or_ord(data, at)
    cls, at = sz_or_ord(data, at)
    caption, at = utf16z(data, at)
    check(menu is None and cls is None, "a menu or a dialog class")
    check(caption == "KOV Self-Extracting Archive", f"caption {caption!r}")
    points, weight, italic, charset = struct.unpack_from("<HHBB", data, at)
    font, at = utf16z(data, at + 6)
    check((points, weight, italic, charset, font) == (8, 0, 0, 1, "MS Sans Serif"),
          f"font {(points, weight, italic, charset, font)}")
    expected = [
        (200, 0x82, "Please wait while KOV extracts the files which will install this application.",
         WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 0, (39, 12, 150, 25)),
        (0xFFFF, 0x82, 133, WS_CHILD | WS_VISIBLE | SS_ICON, 0, (9, 13, 20, 20)),
        (2, 0x80, "&Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, (88, 55, 50, 14)),
        (1010, "msctls_progress32", "Progress1", WS_CHILD | WS_VISIBLE | WS_BORDER | PBS_SMOOTH,
         WS_EX_CLIENTEDGE, (39, 38, 150, 9)),
    ]
    for number, want in enumerate(expected, 1):
        at = align4(at)
        c_help, c_ex, c_style, cx_, cy_, cw, ch, c_id = struct.unpack_from("<IIIhhhhI", data, at)
        at += 24
        c_class, at = sz_or_ord(data, at)
        c_text, at = sz_or_ord(data, at)
        extra = struct.unpack_from("<H", data, at)[0]
        at += 2 + extra
        got = (c_id, c_class, c_text, c_style, c_ex, (cx_, cy_, cw, ch))
        check(got == want, f"control {number}: {got} != {want}")
        check(c_help == 0 and extra == 0, f"control {number}: help id or creation data")


def check_icons(stub, work):
    for name, wanted in ((133, {(32, 4), (16, 4), (32, 8), (16, 8)}), (99, {(32, 4), (16, 4)})):
        ico = os.path.join(work, f"{name}.ico")
        with open(ico, "wb") as f:
            f.write(resource(stub, 14, name, raw=False))
        listing = run("icotool", "-l", ico).decode()
        got = set()
        for line in listing.splitlines():
            fields = dict(part.split("=", 1) for part in line.split() if "=" in part)
            got.add((int(fields["--width"]), int(fields["--bit-depth"])))
        check(got == wanted, f"icon group {name}: {sorted(got)} != {sorted(wanted)}")


def check_strings(stub):
    # String ids 5072-5087 share block 318 (id / 16 + 1) of the string table.
    data = resource(stub, 6, 318)
    strings, at = [], 0
    for _ in range(16):
        length = struct.unpack_from("<H", data, at)[0]
        strings.append(data[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
        at += 2 + 2 * length
    expected = {5079: "Cannot create the current file.", 5080: "Cannot start the executable.",
                5081: "Cannot create admin file.", 5082: "KOV Error",
                5084: "This is not a valid KOV SEA file!", 5086: "Could not get temp directory location."}
    for string_id, text in expected.items():
        check(strings[string_id - 5072] == text, f"string {string_id}: {strings[string_id - 5072]!r}")


def check_listing_and_manifest(stub):
    listing = run("wrestool", "-l", stub).decode()
    check("--type=5 --name=1020 --language=1033" in listing, f"dialog 1020 in US English:\n{listing}")
    manifest = resource(stub, 24, 1).decode("utf-8")
    check('level="requireAdministrator"' in manifest, "the manifest does not require an administrator")
    check(manifest.count("<supportedOS") == 5, "supportedOS entries Vista to 10/11")
    check("Microsoft.Windows.Common-Controls" not in manifest, "the manifest asks for common controls 6")
    # Windows ignores a dpiAware outside these exact namespaces (the https spelling, say),
    # and the dialog is then drawn at 96 DPI and stretched.
    settings = ElementTree.fromstring(manifest).findall(
        "{urn:schemas-microsoft-com:asm.v3}application/{urn:schemas-microsoft-com:asm.v3}windowsSettings/"
        "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")
    check([e.text.strip().lower() for e in settings] == ["true"], "the manifest does not declare dpiAware true")


def check_imports(stub):
    dump = run("i686-w64-mingw32-objdump", "-p", stub).decode()
    dlls = {line.split(":", 1)[1].strip().upper() for line in dump.splitlines() if "DLL Name:" in line}
    allowed = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "GDI32.DLL", "MSVCRT.DLL"}
    check(dlls <= allowed, f"imports beyond the system's own DLLs: {sorted(dlls - allowed)}")
    check("COMCTL32.DLL" not in dlls, "comctl32 is imported instead of loaded from the system directory")
    check("PE32" in run("file", stub).decode() if shutil.which("file") else True, "not a PE32 image")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    for tool in ("wrestool", "icotool", "i686-w64-mingw32-objdump"):
        if shutil.which(tool) is None:
            print(f"skipped: {tool} is missing")
            return 77
    stub = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        check_listing_and_manifest(stub)
        check_dialog(stub)
        check_icons(stub, work)
        check_strings(stub)
        check_imports(stub)
    print(f"stub size: {os.path.getsize(stub)} bytes")
    for failure in FAILURES:
        print("FAIL:", failure)
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
