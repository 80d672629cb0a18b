#!/usr/bin/env python3
"""End-to-end runs of the real stub under Wine, packed with kovsea.

Usage: stub_e2e.py SCENARIO | --list      (exit 0 pass, 1 fail, 77 skipped)
"""

import os
import shutil
import subprocess
import sys
import time

from harness import (Failure, PROGRESS_CAPTION, nsis_installer_sea, SHARED_PREFIX, WIN_BIN, Wine, check, entry, expected_listing, fixture_env,
                     installer_tree, kov_dirs, pack, packed_product, private_wine, probe, read_log, root_of,
                     run_scenarios, setup_line, visible_window, wait_until, click_control, press_key, win_path,
                     window_state, write_sea)

PRODUCT_KEY = r"HKLM\Software\Orvane\KOV"
RUN_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
RUNONCE_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"
RUN_VALUE = "Run KOV SEA Installer on Reboot"


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


def caption_in_the_users_language(work):
    """The box for an entry that cannot be created names it as the user's code page spells
    it: German in 1252, Japanese in 932, read back exactly through the wide calls."""
    for lang, codepage, name in (("de_DE.UTF-8", "cp1252", "Größe.txt"), ("ja_JP.UTF-8", "cp932", "設定.txt")):
        with private_wine() as wine:
            before = kov_dirs(wine)
            # "Daten" arrives as a file, so nothing can be created inside it.
            stream = entry("Daten", b"plain file") + entry(f"Daten\\{name}", b"x", codepage)
            sea = work / f"{codepage}.exe"
            write_sea(sea, stream, entries=2)
            running = wine.start(sea, env={"LANG": lang, "LC_ALL": lang})
            check(wait_until(lambda: visible_window("Daten") is not None, 60), f"{lang}: no box appeared")
            rc, text = probe(wine, work, "box", 30000)
            check(rc == 0 and "text=Cannot create the current file." in text, f"{lang}: probe {rc}: {text}")
            caption = text.split("title=", 1)[1].split("\n", 1)[0]
            check(caption.endswith(f"\\Daten\\{name}"), f"{lang}: the caption is {caption!r}")
            check(running.wait(timeout=60) == 1, f"{lang}: exit code is not 1")
            check(kov_dirs(wine) == before, f"{lang}: extracted files were left behind")


def command_line_ignored(work):
    wine, before, tree, sea = packed_product(work)
    log = work / "log.txt"
    rc = wine.run(sea, "/s", "/v/qn", "--extract-only", "C:\\elsewhere", env=fixture_env(log))
    check(rc == 1, f"exit code {rc}")
    seen = {l for l in read_log(log) if l.startswith("file ")}
    check(seen == expected_listing(tree), "Setup.exe did not see the archive's files")
    check(kov_dirs(wine) == before, "the extraction root is still there")


def foreign_engine_window(work):
    """Another program's installer engine, open since before the run, does not hold the run:
    the stub waits only for engine windows of processes started since its Setup.exe."""
    wine, before, tree, sea = packed_product(work)
    foreign_log = work / "foreign.txt"
    foreign = wine.start(WIN_BIN / "installer_stand_in.exe", "--engine", "30000", "0", env=fixture_env(foreign_log))
    try:
        check(wait_until(lambda: "engine start" in " ".join(read_log(foreign_log)), 30), "the foreign engine did not start")
        log = work / "log.txt"
        start = time.monotonic()
        rc = wine.run(sea, env=fixture_env(log), timeout=60)
        elapsed = time.monotonic() - start
        check(rc == 1, f"exit code {rc}")
        check(elapsed < 15, f"the run waited {elapsed:.1f}s for another program's engine window")
        check(kov_dirs(wine) == before, "the extraction root is still there")
    finally:
        foreign.kill()
        subprocess.run(["wineserver", "-k"], env=wine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def dialog_hidden_while_installing(work):
    """For a small payload the hand-off hides the dialog while it may still be showing itself:
    the dialog is hidden through the whole installation, run after run."""
    wine, before, tree, sea = packed_product(work)
    for attempt in range(3):
        log = work / f"log{attempt}.txt"
        running = wine.start(sea, env=fixture_env(log, sleep=3000))
        check(wait_until(lambda: any(l.startswith("setup path=") for l in read_log(log)), 60),
              "Setup.exe did not start")
        time.sleep(1.0)
        state = window_state(wine, work, PROGRESS_CAPTION)
        shown = visible_window(PROGRESS_CAPTION)
        check(running.wait(timeout=60) == 1, "exit code is not 1")
        check(not shown and (state is None or state["visible"] == 0),
              f"run {attempt + 1}: the dialog is visible while Setup.exe runs ({state})")
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


def real_installer(work):
    """A real installer nobody here wrote: an NSIS Setup.exe that installs a file and asks
    for a restart through "Reboot" = 1."""
    tree, sea = nsis_installer_sea(work, r'WriteRegDWORD HKLM "Software\Orvane\KOV" "Reboot" 1')
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


def foreign_own_directory(work):
    """The self-extractor in a directory the ANSI code page cannot spell (as a download folder
    of a user named Łukasz): it still opens its own file, extracts and runs Setup.exe."""
    wine, before, tree, sea = packed_product(work)
    downloads = work / "Łukasz" / "Downloads"
    downloads.mkdir(parents=True)
    moved = downloads / "product.exe"
    shutil.move(str(sea), str(moved))
    log = work / "log.txt"
    running = wine.start(moved, env=fixture_env(log))
    try:
        rc = running.wait(timeout=60)
    except subprocess.TimeoutExpired:
        _, text = probe(wine, work, "box", 2000)
        wine.stop()
        raise Failure(f"the run did not end; a box says: {text.strip()}")
    check(rc == 1, f"exit code {rc}")
    seen = {l for l in read_log(log) if l.startswith("file ")}
    check(seen == expected_listing(tree), f"Setup.exe saw {sorted(seen)}: {read_log(log)}")
    check(kov_dirs(wine) == before, "the extraction root is still there")


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


SCENARIOS = [complete_run, worker_alone, not_an_archive, uncreatable_entry, caption_in_the_users_language,
             command_line_ignored, foreign_engine_window,
             dialog_hidden_while_installing, two_copies,
             cancel_during_extraction, cancel_after_extraction, run_again_request,
             run_again_from_a_path_with_a_blank, restart_reaches_the_platform, real_installer,
             foreign_temp_directory, foreign_own_directory]

if __name__ == "__main__":
    sys.exit(run_scenarios(__doc__, SCENARIOS))
