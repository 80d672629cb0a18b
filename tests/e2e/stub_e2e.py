#!/usr/bin/env python3
"""End-to-end runs of the real stub under Wine, packed with kovsea.

Usage: stub_e2e.py SCENARIO      (exit 0 pass, 1 fail, 77 skipped)
"""

import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

from harness import (KOVSEA, PROGRESS_CAPTION, ROOT, SHARED_PREFIX, WIN_BIN, Failure, Wine, check, entry,
                     expected_listing, installer_tree, pack, private_wine, probe, read_log,
                     visible_window, wait_until, click_control, press_key, win_path, window_state,
                     write_sea)

PRODUCT_KEY = r"HKLM\Software\Orvane\KOV"
RUN_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
RUNONCE_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"
RUN_VALUE = "Run KOV SEA Installer on Reboot"


def kov_dirs(wine):
    return sorted(p.name for p in wine.temp_dir().glob("KOV*"))


def fixture_env(log, **settings):
    env = {"KOVSEA_FIXTURE_LOG": win_path(log)}
    for key, value in settings.items():
        env["KOVSEA_FIXTURE_" + key.upper()] = str(value)
    return env


def setup_line(log_lines):
    lines = [l for l in log_lines if l.startswith("setup path=")]
    check(len(lines) == 1, f"Setup.exe ran {len(lines)} times: {log_lines}")
    return lines[0]


def root_of(setup):
    path = setup.split("path=", 1)[1].split(" cmdline=", 1)[0]
    return path.rsplit("\\Disk1\\", 1)[0]


def packed_product(work):
    """The shared prefix, its extraction roots before the run, and a packed installer tree."""
    wine = Wine(SHARED_PREFIX)
    before = kov_dirs(wine)
    tree = installer_tree(work)
    sea = work / "product.exe"
    pack(tree, sea)
    return wine, before, tree, sea


def complete_run(work):
    wine = Wine(SHARED_PREFIX)
    wine.reg_set_dword(PRODUCT_KEY, "Reboot", 0)
    tree = installer_tree(work)
    side = {"KOVadmin.dat": b"admin" * 10, "KOVclient.dat": b"client", "KOVnet.dat": b"",
            "setup.ini": b"[Startup]\r\nAppName=Demo\r\n"}
    for name, data in side.items():
        (work / name).write_bytes(data)
    sea = work / "product.exe"
    pack(tree, sea, "--admin", work / "KOVadmin.dat", "--client", work / "KOVclient.dat",
         "--net", work / "KOVnet.dat", "--setup-ini", work / "setup.ini")
    before = kov_dirs(wine)
    log = work / "log.txt"
    started = time.monotonic()
    running = wine.start(sea, env=fixture_env(log, engine="1500,1200"), cwd=tree)
    # While the installer runs: the hidden owner window exists, centred and never shown.
    check(wait_until(lambda: log.exists(), 60), "Setup.exe never started")
    rc, text = probe(wine, work, "window", "KOVsda_Hidden_Window")
    check(rc == 0, "no hidden owner window")
    left, top, right, bottom, screen_w, screen_h, visible = map(int, text.split())
    check(visible == 0, "the owner window is visible")
    # Wine turns the root's access list into Unix permissions (the administrators become the
    # group): the world may not enter.
    roots = [wine.temp_dir() / name for name in kov_dirs(wine) if name not in before]
    check(len(roots) == 1, f"extraction roots: {roots}")
    mode = roots[0].stat().st_mode & 0o777
    check(mode & 0o007 == 0, f"the extraction root is open to everyone: {oct(mode)}")
    check((left, top) == (int((screen_w - (right - left)) / 2), int((screen_h - (bottom - top)) / 2)),
          f"the owner window is not centred: {text}")
    rc = running.wait(timeout=120)
    elapsed = time.monotonic() - started
    check(rc == 1, f"exit code {rc}, expected 1")
    lines = read_log(log)
    setup = setup_line(lines)
    check(f'cmdline="{root_of(setup)}\\Disk1\\Setup.exe"' in setup, f"command line: {setup}")
    check(f"cwd={win_path(tree)}" in setup, f"Setup.exe's directory is the stub's: {setup}")
    seen = {l for l in lines if l.startswith("file ")}
    expected = expected_listing(tree, side)
    check(seen == expected, f"Setup.exe saw {sorted(seen ^ expected)} differently")
    order = [l.split()[0] + " " + l.split()[1] for l in lines if l.split()[0] in ("engine", "helper")]
    # The engine starts the helper before it ends; the stub outlasts both.
    check(order == ["engine start", "helper start", "engine end", "helper end"], f"{order}")
    check(elapsed >= 2.5, f"the stub did not wait for the engine ({elapsed:.1f}s)")
    check(kov_dirs(wine) == before, f"the extraction root is still there: {kov_dirs(wine)} vs {before}")
    check(wine.reg_query(PRODUCT_KEY, "Reboot") == ("REG_DWORD", "0x0"), "Reboot is not 0")
    check(wine.reg_query(RUN_KEY, RUN_VALUE) is None, "a Run value was left")
    check(wine.reg_query(RUNONCE_KEY, RUN_VALUE) is None, "a RunOnce value was left")


def not_an_archive(work):
    wine = Wine(SHARED_PREFIX)
    before = kov_dirs(wine)
    stub = work / "lonely.exe"
    shutil.copy(WIN_BIN / "kovsea-stub.exe", stub)
    running = wine.start(stub)
    rc, text = probe(wine, work, "box", 30000)
    check(rc == 0, "no message box appeared")
    check("title=KOV Error" in text, text)
    check("text=This is not a valid KOV SEA file!" in text, text)
    check(f"owner={PROGRESS_CAPTION}" in text, f"the box is not owned by the dialog: {text}")
    check(running.wait(timeout=60) == 1, "exit code is not 1")
    check(kov_dirs(wine) == before, "something was created")


def uncreatable_entry(work):
    wine = Wine(SHARED_PREFIX)
    before = kov_dirs(wine)
    # "Disk1" arrives as a file, so nothing can be created inside it.
    stream = entry("Disk1", b"plain file") + entry("Disk1\\Setup.exe", b"MZ") + entry("later", b"x")
    sea = work / "broken.exe"
    write_sea(sea, stream, entries=3)
    running = wine.start(sea)
    rc, text = probe(wine, work, "box", 30000)
    check(rc == 0, "no message box appeared")
    check("text=Cannot create the current file." in text, text)
    check("title=C:\\" in text and text.split("title=", 1)[1].splitlines()[0].endswith("\\Disk1\\Setup.exe"),
          f"the caption is not the entry's path: {text}")
    check(running.wait(timeout=60) == 1, "exit code is not 1")
    check(kov_dirs(wine) == before, "extracted files were left behind")


def command_line_ignored(work):
    wine, before, tree, sea = packed_product(work)
    log = work / "log.txt"
    rc = wine.run(sea, "/s", "/v/qn", "--extract-only", "C:\\elsewhere", env=fixture_env(log))
    check(rc == 1, f"exit code {rc}")
    seen = {l for l in read_log(log) if l.startswith("file ")}
    check(seen == expected_listing(tree), "Setup.exe did not see the archive's files")
    check(kov_dirs(wine) == before, "the extraction root is still there")


def two_copies(work):
    wine, before, tree, sea = packed_product(work)
    logs = [work / "a.txt", work / "b.txt"]
    runs = [wine.start(sea, env=fixture_env(log, sleep=1500)) for log in logs]
    check([r.wait(timeout=120) for r in runs] == [1, 1], "a copy did not end with 1")
    roots = [root_of(setup_line(read_log(log))) for log in logs]
    check(roots[0] != roots[1], f"both copies used {roots[0]}")
    check(kov_dirs(wine) == before, "an extraction root was left behind")


def big_sea(work):
    """A self-extractor of one 1 GiB file: its extraction takes about a second under Wine."""
    tree = installer_tree(work)
    with open(tree / "Disk1" / "huge.cab", "wb") as f:
        block = bytearray(os.urandom(1 << 20))
        for i in range(1024):
            block[0:4] = i.to_bytes(4, "little")
            f.write(block)
    sea = work / "big.exe"
    pack(tree, sea)
    (tree / "Disk1" / "huge.cab").unlink()
    return sea


def cancel_during_extraction(work):
    """Cancel clicked with the pointer, then Escape and Enter on the focused dialog (Cancel is
    its default button), each within the first second of a 1 GiB extraction: each hides the
    dialog and stops the run before Setup.exe, with nothing left. On a display without a
    window manager Wine withdraws the hidden dialog only after about 2 s, the Cancel lands
    after the extraction has ended, and this fails."""
    wine = Wine(SHARED_PREFIX)
    before = kov_dirs(wine)
    sea = big_sea(work)
    for how in ("click", "Escape", "Return"):
        log = work / f"log-{how}.txt"
        running = wine.start(sea, env=fixture_env(log))
        check(wait_until(lambda: visible_window(PROGRESS_CAPTION), 60, interval=0.01),
              "the dialog never appeared")
        shown = time.monotonic()
        if how == "click":
            click_control(wine, work, PROGRESS_CAPTION, 2)
        else:
            press_key(PROGRESS_CAPTION, how)
        pressed = time.monotonic() - shown
        check(pressed < 1.0, f"{how} came {pressed:.2f} s after the dialog appeared")
        check(running.wait(timeout=120) == 1, "exit code is not 1")
        check(not log.exists(), f"Setup.exe ran after {how}: " + " ".join(read_log(log)[:1]))
        check(kov_dirs(wine) == before, f"extracted files were left behind after {how}")


def cancel_after_extraction(work):
    wine, before, tree, sea = packed_product(work)
    log = work / "log.txt"
    running = wine.start(sea, env=fixture_env(log, sleep=3000))
    check(wait_until(lambda: log.exists(), 60), "Setup.exe never started")
    rc, _ = probe(wine, work, "cancel", PROGRESS_CAPTION)
    check(rc == 0, "the (hidden) dialog was not there to cancel")
    check(running.wait(timeout=120) == 1, "exit code is not 1")
    check("setup end" in read_log(log), "Setup.exe was cut short")
    check(kov_dirs(wine) == before, "extracted files were left behind")


def run_again(work, sea_name, decoy=None):
    """Request 2 end to end: the stub registers itself, quoted, in the RunOnce key and asks
    for a restart. Wine's restart does what Windows does at the next log-on: it removes the
    value and starts the command, and that run, asking for nothing, restarts nothing and
    leaves no value in either key. Returns the run log and the witness log."""
    with private_wine() as wine:
        tree = installer_tree(work)
        sea = work / sea_name
        pack(tree, sea)
        if decoy:
            shutil.copy(WIN_BIN / "installer_stand_in.exe", work / decoy)
        log = work / "log.txt"
        witness_log = work / "witness.txt"
        wine.start(WIN_BIN / "session_witness.exe", win_path(witness_log))
        check(wait_until(lambda: "ready" in read_log(witness_log), 30), "the witness never started")
        # An older build's value in Run goes as well.
        wine.run("reg", "add", RUN_KEY, "/v", RUN_VALUE, "/d", "C:\\old.exe", "/f")
        rc = wine.run(sea, env=fixture_env(log, reboot=2), timeout=120)
        check(rc in (1, 0), f"exit code {rc}")
        # The witness logs the values it finds at the restart's query, after announcing it.
        check(wait_until(lambda: any(l.startswith("runonce=") for l in read_log(witness_log)), 60),
              f"no restart was asked for: {read_log(witness_log)}")
        witnessed = read_log(witness_log)
        check("run=none" in witnessed, f"a Run value stood at the restart: {witnessed}")
        check(f'runonce="{win_path(sea)}"' in witnessed,
              f"the RunOnce value at the restart is not the quoted path: {witnessed}")
        # The run started by the restart.
        check(wait_until(lambda: read_log(log).count("setup end") == 2, 90),
              f"the stub was not started again after the restart: {read_log(log)}")
        check(wait_until(lambda: wine.reg_query(RUNONCE_KEY, RUN_VALUE) is None and
                         wine.reg_query(RUN_KEY, RUN_VALUE) is None, 60),
              "a run-again value was left behind")
        check(wine.reg_query(PRODUCT_KEY, "Reboot") == ("REG_DWORD", "0x0"),
              "the second run's hand-off did not reset the request")
        check(wait_until(lambda: kov_dirs(wine) == [], 30), "extracted files were left behind")
        check(read_log(witness_log).count("query-end-session") == 1, "restarted more than once")
        return read_log(log)


def run_again_request(work):
    lines = run_again(work, "product.exe")
    values = [l for l in lines if l.startswith("runonce-value=")]
    check(values == ["runonce-value=none", "runonce-value=none"],
          f"the RunOnce value seen by each run (Windows deletes it before it runs it): {values}")


def run_again_from_a_path_with_a_blank(work):
    """The stub saved as "product setup.exe" with a program "product.exe" beside it: an
    unquoted value would start "product.exe" at log-on. The quoted one starts the stub."""
    lines = run_again(work, "product setup.exe", decoy="product.exe")
    setups = [l for l in lines if l.startswith("setup path=")]
    check(len(setups) == 2 and all("\\Disk1\\Setup.exe" in l for l in setups),
          f"something else ran at log-on: {setups}")


def restart_reaches_the_platform(work):
    """RebootSystem on its own: the request reaches Wine, which ends the session, and a
    window of another program is asked whether the session may end."""
    with private_wine() as wine:
        witness_log = work / "witness.txt"
        wine.start(WIN_BIN / "session_witness.exe", win_path(witness_log))
        check(wait_until(lambda: "ready" in read_log(witness_log), 30), "the witness never started")
        wine.run(WIN_BIN / "restart_probe.exe", win_path(work / "probe.txt"))
        check(wait_until(lambda: "end-session 1" in read_log(witness_log), 60),
              f"the session did not end: {read_log(witness_log)}")
        check(read_log(witness_log).index("query-end-session") < read_log(witness_log).index("end-session 1"),
              "asked before ending")


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


def real_installer(work):
    """A real installer nobody here wrote: an NSIS Setup.exe that installs a file and asks
    for a restart through "Reboot" = 1."""
    if shutil.which("makensis") is None:
        raise SystemExit(77)
    script = work / "setup.nsi"
    script.write_text(r'''
Unicode true
Name "KOV SEA NSIS sample"
OutFile "Setup.exe"
RequestExecutionLevel admin
SilentInstall silent
InstallDir "$PROGRAMFILES\KovseaNsisSample"
Section
  SetOutPath "$INSTDIR"
  File "payload.txt"
  WriteRegDWORD HKLM "Software\Orvane\KOV" "Reboot" 1
SectionEnd
''')
    (work / "payload.txt").write_text("installed by a real NSIS installer\n")
    proc = subprocess.run(["makensis", "-V1", str(script)], cwd=work, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    check(proc.returncode == 0, f"makensis failed: {proc.stdout.decode()}")
    tree = work / "tree"
    (tree / "Disk1").mkdir(parents=True)
    shutil.move(str(work / "Setup.exe"), tree / "Disk1" / "Setup.exe")
    sea = work / "nsis-product.exe"
    pack(tree, sea)
    with private_wine() as wine:
        witness_log = work / "witness.txt"
        witness = wine.start(WIN_BIN / "session_witness.exe", win_path(witness_log))
        check(wait_until(lambda: "ready" in read_log(witness_log), 30), "the witness never started")
        wine.run(sea, timeout=180)
        check(wait_until(lambda: "query-end-session" in read_log(witness_log), 60),
              "the stub did not ask for a restart")
        installed = list((wine.prefix / "drive_c").glob("Program Files*/KovseaNsisSample/payload.txt"))
        check(len(installed) == 1, "the NSIS installer did not install its file")
        check(wait_until(lambda: kov_dirs(wine) == [], 30), "extracted files were left behind")


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


def foreign_temp_directory(work):
    """A temporary directory whose name the ANSI code page cannot spell: the stub extracts
    under its short name, Setup.exe sees every file, and nothing is left in it."""
    wine, before, tree, sea = packed_product(work)
    log = work / "log.txt"
    rc, printed = wine.output(WIN_BIN / "foreign_temp_launcher.exe", win_path(sea), env=fixture_env(log))
    report = dict(line.split(" ", 1) for line in printed.splitlines() if " " in line)
    check(rc == 1, f"exit code {rc}: {report}")
    short = report.get("short", "")
    check("~" in short and short.isascii(), f"no short name to compare with: {report}")
    setup = setup_line(read_log(log))
    check(f'cmdline="{short}\\KOV' in setup, f"Setup.exe was not started under {short}: {setup}")
    seen = {l for l in read_log(log) if l.startswith("file ")}
    check(seen == expected_listing(tree), f"Setup.exe saw {sorted(seen)}")
    check(report.get("left") == "0", f"the stub left {report.get('left')} entries behind")
    check(kov_dirs(wine) == before, "an extraction root was left in the usual directory")


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


def worker_alone(work):
    """The extraction worker on its own (no dialog, a stand-in progress record) in a file
    built by kovsea: it extracts, hands off to Setup.exe, deletes the tree and returns 0."""
    wine = Wine(SHARED_PREFIX)
    before = kov_dirs(wine)
    tree = installer_tree(work)
    sea = work / "probe.exe"
    pack(tree, sea, stub=WIN_BIN / "worker_probe.exe")
    log = work / "log.txt"
    rc = wine.run(sea, env=fixture_env(log))
    check(rc == 0, f"ExtractArchive did not return 0 (exit code {rc})")
    seen = {l for l in read_log(log) if l.startswith("file ")}
    check(seen == expected_listing(tree), "Setup.exe did not see the archive's files")
    check(kov_dirs(wine) == before, "the extraction root is still there")


SCENARIOS = {f.__name__: f for f in [complete_run, worker_alone, not_an_archive, uncreatable_entry,
                                     command_line_ignored, two_copies, cancel_during_extraction,
                                     cancel_after_extraction, run_again_request,
                                     run_again_from_a_path_with_a_blank, restart_reaches_the_platform,
                                     kovsea_on_windows, real_installer, signed_installer,
                                     foreign_temp_directory, vendor_resources, digests_match_sha256sum,
                                     kovsea_zip_on_windows]}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in SCENARIOS:
        print(__doc__ + "Scenarios: " + ", ".join(SCENARIOS))
        return 2
    if not os.environ.get("DISPLAY"):
        print("needs an X display (scripts/test starts one)")
        return 77
    with tempfile.TemporaryDirectory(prefix="kovsea-e2e-") as tmp:
        try:
            SCENARIOS[sys.argv[1]](pathlib.Path(tmp))
        except Failure as failure:
            print(f"FAIL {sys.argv[1]}: {failure}")
            return 1
    print(f"PASS {sys.argv[1]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
