#!/usr/bin/env python3
"""End-to-end runs of the packer: kovsea.exe under Wine writing what the Linux build writes,
signed self-extractors, the vendor's resources read back by independent tools, digests, and
the Windows zip as an admin unpacks it.

Usage: packer_e2e.py SCENARIO | --list      (exit 0 pass, 1 fail, 77 skipped)
"""

import shutil
import subprocess
import sys

from harness import (KOVSEA, SHARED_PREFIX, WIN_BIN, Wine, check, entry, expected_listing, fixture_env,
                     installer_tree, kov_dirs, pack, packed_product, read_log, run_scenarios, win_path, write_sea)


def kovsea_on_windows(work):
    """kovsea.exe, the Windows build of the packer, writes the very bytes the Linux build
    writes, and extracts them again."""
    wine = Wine(SHARED_PREFIX)
    tree = installer_tree(work)
    linux = work / "linux.exe"
    pack(tree, linux)
    windows = work / "windows.exe"
    rc = wine.run(WIN_BIN / "kovsea.exe", "pack", "--stub", win_path(WIN_BIN / "kovsea-stub.exe"),
                  "-o", win_path(windows), win_path(tree))
    check(rc == 0, f"kovsea.exe pack exited with {rc}")
    check(windows.read_bytes() == linux.read_bytes(), "the two builds wrote different files")
    rc = wine.run(WIN_BIN / "kovsea.exe", "extract", win_path(windows), "-o", win_path(work / "out"))
    check(rc == 0, f"kovsea.exe extract exited with {rc}")
    for p in (tree / "Disk1").rglob("*"):
        if p.is_file():
            twin = work / "out" / "Disk1" / p.relative_to(tree / "Disk1")
            check(twin.is_file() and twin.read_bytes() == p.read_bytes(), f"{twin} differs")


def sign(work, unsigned, signed):
    """Signs with a throwaway code-signing certificate made for this run."""
    key, cert = work / "key.pem", work / "cert.pem"
    if not cert.exists():
        run_tool(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                  "-out", cert, "-days", "2", "-subj", "/CN=KOV SEA test signer",
                  "-addext", "extendedKeyUsage=codeSigning"])
    run_tool(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "KOV SEA test",
              "-in", unsigned, "-out", signed])
    run_tool(["osslsigncode", "verify", "-in", signed, "-CAfile", cert])


def run_tool(args):
    proc = subprocess.run([str(a) for a in args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(proc.returncode == 0, f"{args[0]} {args[1]} failed: {proc.stdout.decode(errors='replace')}")
    return proc.stdout.decode(errors="replace")


def signed_installer(work):
    """A self-extractor signed after packing (with osslsigncode and a throwaway certificate)
    verifies, lists and extracts with kovsea, and runs under Wine like an unsigned one; one
    written with an odd length gets the signer's padding and runs too. Bytes appended after
    the signature make verify fail."""
    if shutil.which("osslsigncode") is None or shutil.which("openssl") is None:
        raise SystemExit(77)
    wine, before, tree, sea = packed_product(work)
    signed = work / "signed.exe"
    sign(work, sea, signed)
    out = run_tool([KOVSEA, "verify", signed])
    check(f"signed: certificate table at offset {sea.stat().st_size}," in out, out)
    run_tool([KOVSEA, "extract", signed, "-o", work / "out"])
    for p in tree.rglob("*"):
        twin = work / "out" / p.relative_to(tree)
        check(twin.exists() and (p.is_dir() or twin.read_bytes() == p.read_bytes()), f"{twin} differs")

    odd = work / "odd.exe"
    write_sea(odd, entry("Disk1") + entry("Disk1\\Setup.exe", (WIN_BIN / "installer_stand_in.exe").read_bytes())
              + entry("Disk1\\odd.txt", b"xyz"), entries=3)
    check(odd.stat().st_size % 8 != 0, "the hand-written file happens to be aligned")
    odd_signed = work / "odd-signed.exe"
    sign(work, odd, odd_signed)
    check("after" in run_tool([KOVSEA, "verify", odd_signed]), "the signer added no padding")

    for program, files in ((signed, expected_listing(tree)), (odd_signed, None)):
        log = work / f"log-{program.stem}.txt"
        rc = wine.run(program, env=fixture_env(log))
        check(rc == 1, f"{program.name}: exit code {rc}")
        seen = {l for l in read_log(log) if l.startswith("file ")}
        check(seen == files if files else any("odd.txt" in l for l in seen),
              f"{program.name}: Setup.exe saw {sorted(seen)}")
        check(kov_dirs(wine) == before, f"{program.name}: the extraction root is still there")

    appended = work / "appended.exe"
    appended.write_bytes(signed.read_bytes() + b"unsigned tail")
    proc = subprocess.run([str(KOVSEA), "verify", str(appended)], stdout=subprocess.PIPE)
    check(proc.returncode == 1 and b"bytes follow the certificate table" in proc.stdout,
          f"verify accepted data after the signature: {proc.stdout.decode()}")


def make_ico(path):
    """An .ico of four images an icon editor could make: 16 x 16 at 4 bits and 32 x 32 at 8
    bits per pixel (bitmaps with a palette), 48 x 48 at 32 bits, and 256 x 256 as a PNG."""
    import struct
    import zlib

    def dib(size, bits):
        palette = b"".join(struct.pack("<BBBB", i * 16 % 256, 255 - i, i, 0) for i in range(1 << bits)) if bits <= 8 else b""
        row = ((size * bits + 31) // 32) * 4
        pixels = bytes((x * 7 + y * 3) % 256 for y in range(size) for x in range(row))
        mask = b"\0" * (((size + 31) // 32) * 4 * size)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        return header + palette + pixels + mask

    def png(size):
        raw = b"".join(b"\0" + bytes((x + y) % 256 for x in range(size) for _ in range(4)) for y in range(size))
        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))

    images = [(16, 16, 4, dib(16, 4)), (32, 32, 256, dib(32, 8)), (48, 48, 0, dib(48, 32)), (0, 0, 0, png(256))]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for width, height, colours, image in images:
        bits = {16: 4, 256: 8}.get(colours, 32)
        entries += struct.pack("<BBBBHHII", width, height, colours if colours < 256 else 0, 0, 1, bits,
                               len(image), offset + len(data))
        data += image
    path.write_bytes(header + entries + data)
    return [image for *_, image in images]


def ico_images(data):
    import struct
    count = struct.unpack_from("<H", data, 4)[0]
    out = []
    for i in range(count):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        out.append(data[offset:offset + size])
    return out


VERSION_INFO = {"ProductName": "Vendor Product", "ProductVersion": "2.5.1", "FileVersion": "2.5.1.7",
                "CompanyName": "Vendor Ltd", "FileDescription": "Vendor Product Setup",
                "LegalCopyright": "(c) 2026 Vendor", "OriginalFilename": "vendor.exe"}


def vendor_resources(work):
    """The vendor's icon and version information, read back by independent tools: wrestool
    and icotool find the very images that went in, exiftool and the system's own
    GetFileVersionInfo find the fields, the stub's own resources stay, the same inputs give
    the same file, and the file signs, verifies and runs end to end under Wine."""
    for tool in ("wrestool", "icotool", "exiftool", "osslsigncode"):
        if shutil.which(tool) is None:
            raise SystemExit(77)
    wine, before, tree, _ = packed_product(work)
    images = make_ico(work / "vendor.ico")
    options = ["--icon", work / "vendor.ico"]
    for key, value in VERSION_INFO.items():
        options += ["--version-info", f"{key}={value}"]
    sea, again = work / "vendor.exe", work / "vendor-again.exe"
    pack(tree, sea, *options)
    pack(tree, again, *options)
    check(sea.read_bytes() == again.read_bytes(), "the same inputs gave different files")

    listed = run_tool(["wrestool", "-l", sea])
    for resource in ("--type=5 --name=1020", "--type=14 --name=133", "--type=14 --name=99", "--type=6 ",
                     "--type=16 --name=1", "--type=24 --name=1"):
        check(resource in listed, f"{resource} is not in the packed file: {listed}")
    run_tool(["wrestool", "-x", "--type=14", "--name=99", "-o", work / "out.ico", sea])
    check(ico_images((work / "out.ico").read_bytes()) == images, "the icon's images changed on the way")
    sizes = run_tool(["icotool", "-l", work / "out.ico"])
    for width in (16, 32, 48, 256):
        check(f"--width={width}" in sizes, f"icotool does not see the {width}-pixel image: {sizes}")

    # The relocations, moved behind the grown resources, read the same to objdump.
    def relocations(path):
        text = run_tool(["i686-w64-mingw32-objdump", "-p", path])
        return text[text.find("PE File Base Relocations"):text.find("Resource Directory section")]
    check(relocations(sea) == relocations(WIN_BIN / "kovsea-stub.exe") and "HIGHLOW" in relocations(sea),
          "the stub's relocations changed")

    # exiftool names its tags in its own case ("OriginalFileName").
    exif = dict((k.strip().lower(), v.strip()) for k, v in
                (line.split(":", 1) for line in run_tool(["exiftool", "-s", sea]).splitlines() if ":" in line))
    for key, value in VERSION_INFO.items():
        check(exif.get(key.lower()) == value, f"exiftool reads {key}={exif.get(key.lower())!r}")
    check(exif.get("fileversionnumber") == "2.5.1.7", f"FileVersionNumber={exif.get('fileversionnumber')!r}")
    _, printed = wine.output(WIN_BIN / "version_probe.exe", win_path(sea))
    seen = dict(line.split("=", 1) for line in printed.splitlines() if "=" in line)
    check(seen.get("FixedFile") == "2.5.1.7" and seen.get("FixedProduct") == "2.5.1.0", f"fixed versions: {seen}")
    for key, value in VERSION_INFO.items():
        check(seen.get(key) == value, f"GetFileVersionInfo read {key}={seen.get(key)!r}")

    signed = work / "vendor-signed.exe"
    sign(work, sea, signed)
    check("OK" in run_tool([KOVSEA, "verify", signed]), "kovsea does not accept the signed file")
    log = work / "log.txt"
    check(wine.run(signed, env=fixture_env(log)) == 1, "the signed file did not end with 1")
    seen_files = {l for l in read_log(log) if l.startswith("file ")}
    check(seen_files == expected_listing(tree), f"Setup.exe saw {sorted(seen_files)}")
    check(kov_dirs(wine) == before, "the extraction root is still there")


def digests_match_sha256sum(work):
    """list --json's digests are what sha256sum says of the whole file, of the stub part, and
    of every entry and side file once extracted; list shows the whole file's."""
    import json
    tree = installer_tree(work)
    (work / "setup.ini").write_bytes(b"[Startup]\r\n")
    sea = work / "product.exe"
    pack(tree, sea, "--setup-ini", work / "setup.ini")
    listing = json.loads(run_tool([KOVSEA, "list", "--json", sea]))

    tool = lambda path: run_tool(["sha256sum", path]).split()[0]
    check(listing["sha256"] == tool(sea), "the whole file's digest")
    check(f"sha256 {tool(sea)}" in run_tool([KOVSEA, "list", sea]), "list does not show the file's digest")
    (work / "stub-part").write_bytes(sea.read_bytes()[:listing["archive_offset"]])
    check(listing["stub_sha256"] == tool(work / "stub-part"), "the stub part's digest")
    run_tool([KOVSEA, "extract", sea, "-o", work / "out"])
    for e in listing["entries"]:
        if e["type"] == "file":
            path = work / "out" / e["name"].replace("\\", "/")
            check(e["sha256"] == tool(path), f"{e['name']}: {e['sha256']}")
    check(listing["side_files"]["setup"]["sha256"] == tool(work / "out" / "Disk1" / "setup.ini"), "setup.ini")


def kovsea_zip_on_windows(work):
    """The Windows zip as an admin unpacks it: kovsea.exe finds the stub beside it, packs,
    verifies, and gives the same digests as sha256sum (through the system's bcrypt)."""
    import json
    import zipfile
    build = WIN_BIN.parent
    proc = subprocess.run(["cpack", "-G", "ZIP", "-B", str(work / "packages")], cwd=build,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(proc.returncode == 0, f"cpack failed: {proc.stdout.decode()}")
    archives = list((work / "packages").glob("kovsea-*-win32.zip"))
    check(len(archives) == 1, f"packages: {archives}")
    with zipfile.ZipFile(archives[0]) as z:
        z.extractall(work / "unpacked")
    tools = list((work / "unpacked").rglob("kovsea.exe"))
    check(len(tools) == 1 and (tools[0].parent / "kovsea-stub.exe").is_file(),
          f"the zip does not hold kovsea.exe with the stub beside it: {tools}")
    wine = Wine(SHARED_PREFIX)
    tree = installer_tree(work)
    sea = work / "product.exe"
    check(wine.run(tools[0], "pack", "-o", win_path(sea), win_path(tree)) == 0, "kovsea.exe pack failed")
    check(wine.run(tools[0], "verify", win_path(sea)) == 0, "kovsea.exe verify failed")
    _, printed = wine.output(tools[0], "list", "--json", win_path(sea))
    digest = json.loads(printed)["sha256"]
    check(digest == run_tool(["sha256sum", sea]).split()[0], f"kovsea.exe's digest {digest}")


SCENARIOS = [kovsea_on_windows, signed_installer, vendor_resources, digests_match_sha256sum, kovsea_zip_on_windows]

if __name__ == "__main__":
    sys.exit(run_scenarios(__doc__, SCENARIOS))
