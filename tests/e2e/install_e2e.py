#!/usr/bin/env python3
"""End-to-end runs of `kovsea install` under Wine: kovsea.exe runs a packed installer (the
stand-in as Setup.exe) as a deployment system would, and its exit code, its log, the
registry, the temporary directory and what the installer saw are checked. kovsea.exe runs
through exit_code_probe.exe, since Wine gives Linux only the low 8 bits of an exit code.

Usage: install_e2e.py SCENARIO | --list      (exit 0 pass, 1 fail, 77 skipped)
"""

import itertools
import subprocess
import sys
import time

from harness import (SHARED_PREFIX, WIN_BIN, WINE_RUN, Wine, check, entry, expected_listing, fixture_env,
                     installer_tree, kov_dirs, pack, private_wine, read_log, run_scenarios, setup_line,
                     wait_until, win_path, write_sea)

PRODUCT_KEY = r"HKLM\Software\Orvane\KOV"
RUN_KEYS = [r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run",
            r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"]
RUN_VALUE = "Run KOV SEA Installer on Reboot"
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
RESTART_REQUIRED, RAN_OUT = 3010, 1460
_runs = itertools.count()


class Install:
    """One run of kovsea.exe install: its whole exit code, standard error, log lines and time."""

    def __init__(self, wine, work, sea, args=(), env=None, options=(), timeout=120):
        n = next(_runs)
        code, err, self.log_path = work / f"code-{n}.txt", work / f"stderr-{n}.txt", work / f"install-{n}.log"
        started = time.monotonic()
        with open(err, "wb") as stderr:
            # Files, not pipes: an installer left running would hold a pipe open.
            subprocess.run([str(WINE_RUN), WIN_BIN / "exit_code_probe.exe", win_path(code), win_path(WIN_BIN / "kovsea.exe"),
                            "install", "--log", win_path(self.log_path), *options, win_path(sea), "--", *args],
                           env=dict(wine.env, **(env or {})), stdout=subprocess.DEVNULL, stderr=stderr,
                           timeout=timeout, cwd=work)
        self.elapsed = time.monotonic() - started
        check(code.exists(), "kovsea.exe did not run")
        self.code = int(code.read_text())
        self.stderr = err.read_text(encoding="latin-1")
        self.log = read_log(self.log_path)

    def logged(self, text):
        return any(text in line for line in self.log)

    def root(self):
        roots = [l.split(" root: ", 1)[1].split(" ", 1)[0] for l in self.log if " root: " in l]
        check(len(roots) == 1, "no extraction root in the log:\n" + "\n".join(self.log))
        return roots[0]


def product(work, name="product.exe", **side):
    tree = installer_tree(work / name.replace(".", "-"))
    options = []
    for option, data in side.items():
        (work / option).write_bytes(data)
        options += ["--" + option.replace("_", "-"), work / option]
    sea = work / name
    pack(tree, sea, *options)
    return tree, sea


def arguments_and_log(work):
    """Setup.exe receives ARGS exactly, in kovsea's working directory, with every file and side
    file in place; the log (and with --verbose, standard error) holds every step; nothing is
    left under the temporary directory and nothing asked for a restart: exit code 0."""
    wine = Wine(SHARED_PREFIX)
    before = kov_dirs(wine)
    side = {"admin": b"admin" * 10, "setup_ini": b"[Startup]\r\n"}
    tree, sea = product(work, **side)
    acp = wine.reg_query(r"HKLM\System\CurrentControlSet\Control\Nls\CodePage", "ACP")
    args = ["/s", "two words", 'say "hi"', "back\\slash\\", "\\\\server\\share\\", 'tail\\"quote', "", "-x=1"]
    if acp == ("REG_SZ", "1252"):
        args.append("caf\u00e9 na\u00efve")
    log = work / "fixture.txt"
    run = Install(wine, work, sea, args, env=fixture_env(log), options=["--verbose"])
    check(run.code == 0, f"exit code {run.code}: {run.stderr}")
    lines = read_log(log)
    seen = [l[len("setup arg=["):-1] for l in lines if l.startswith("setup arg=")]
    check(seen == args, f"Setup.exe received {seen}, not {args}")
    setup = setup_line(lines)
    check(f"cwd={win_path(work)}" in setup, f"Setup.exe's working directory is not kovsea's: {setup}")
    files = {l for l in lines if l.startswith("file ")}
    expected = expected_listing(tree, {"KOVadmin.dat": side["admin"], "setup.ini": side["setup_ini"]})
    check(files == expected, f"Setup.exe saw {sorted(files ^ expected)} differently")
    check(kov_dirs(wine) == before, f"left under the temporary directory: {kov_dirs(wine)}")
    root = run.root()
    for step in ["install " + win_path(sea), "verified: ", "file: " + root + "Disk1\\Setup.exe",
                 "directory: " + root + "Disk1\\sub", "side file: " + root + "Disk1\\KOVadmin.dat (50 bytes)",
                 "restart request: reset to 0", 'started: "' + root + 'Disk1\\Setup.exe" /s "two words"',
                 "Setup.exe ended with exit code 0", "deleted: " + root + "Disk1\\data1.cab",
                 "restart request: 0, nothing asked", "exit code 0: success"]:
        check(run.logged(step), f"the log lacks '{step}':\n" + "\n".join(run.log))
    check(run.log[-3].endswith("deleted: " + root), f"the root was not deleted last: {run.log[-4:]}")
    check(all(l[:4].isdigit() and l[10] == "T" and l[23] == "Z" for l in run.log), "a log line without its timestamp")
    check([l for l in run.stderr.splitlines() if l[:2] == "20"] == run.log, "--verbose wrote other lines than the log")


def restart_requests(work):
    """"Reboot" 0/1/2/3 exit 0/3010/3010/3010; 3 deletes the product key first; nothing is
    registered in Run or RunOnce (an older value there goes); Windows is never asked to
    restart (a window of another program would be asked whether the session may end)."""
    with private_wine() as wine:
        _, sea = product(work)
        witness_log = work / "witness.txt"
        wine.start(WIN_BIN / "session_witness.exe", win_path(witness_log))
        check(wait_until(lambda: "ready" in read_log(witness_log), 30), "the witness never started")
        for request, expected in [(0, 0), (1, RESTART_REQUIRED), (2, RESTART_REQUIRED), (3, RESTART_REQUIRED)]:
            wine.run("reg", "add", RUN_KEYS[0], "/v", RUN_VALUE, "/d", "C:\\old.exe", "/f")
            run = Install(wine, work, sea, env=fixture_env(work / f"fixture-{request}.txt", reboot=request))
            check(run.code == expected, f"Reboot {request}: exit code {run.code}, expected {expected}: {run.stderr}")
            check(run.logged(f"restart request: {request}, "), f"Reboot {request}: not in the log: {run.log}")
            for key in RUN_KEYS:
                check(wine.reg_query(key, RUN_VALUE) is None, f"Reboot {request}: a value is left in {key}")
            left = wine.reg_query(PRODUCT_KEY, "Reboot")
            check(left is None if request == 3 else left == ("REG_DWORD", f"0x{request:x}"),
                  f"Reboot {request}: the product key holds {left}")
        time.sleep(2)
        check("query-end-session" not in read_log(witness_log), "a restart was asked for")
    # By construction too: kovsea.exe links neither the restart nor a dialog or message box.
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", WIN_BIN / "kovsea.exe"], stdout=subprocess.PIPE).stdout
    for function in (b"ExitWindowsEx", b"MessageBoxA", b"DialogBoxParamA"):
        check(function not in dump, f"kovsea.exe imports {function.decode()}")


def installer_exit_code(work):
    """Setup.exe's own non-zero exit code is the result, also over a restart request."""
    wine = Wine(SHARED_PREFIX)
    _, sea = product(work)
    for setup_code, reboot, expected in [(7, 0, 7), (1641, 0, 1641), (3010, 0, 3010), (1603, 1, 1603)]:
        run = Install(wine, work, sea, env=fixture_env(work / f"fixture-{setup_code}.txt", exit=setup_code, reboot=reboot))
        check(run.code == expected, f"Setup.exe {setup_code}, Reboot {reboot}: exit code {run.code}, expected {expected}")
        check(run.logged(f"Setup.exe ended with exit code {setup_code}"), f"not in the log: {run.log}")


def engine_window_wait(work):
    """An installer-engine window outlives Setup.exe, and its helper's outlives the engine:
    install waits for both processes, says so in the log, and only then deletes."""
    wine = Wine(SHARED_PREFIX)
    before = kov_dirs(wine)
    _, sea = product(work)
    log = work / "fixture.txt"
    run = Install(wine, work, sea, env=fixture_env(log, engine="1500,1200"))
    check(run.code == 0, f"exit code {run.code}: {run.stderr}")
    order = [" ".join(l.split()[:2]) for l in read_log(log) if l.split()[0] in ("engine", "helper")]
    check(order == ["engine start", "helper start", "engine end", "helper end"], f"{order}")
    check(run.elapsed >= 2.5, f"install did not wait for the engine ({run.elapsed:.1f} s)")
    for window_class in ("InstallShield_Win", "isdelete"):
        check(run.logged(f"owner of a window of class {window_class}"), f"no wait for {window_class}: {run.log}")
    waited = [i for i, l in enumerate(run.log) if "engine: process" in l and "has ended" in l]
    deleted = [i for i, l in enumerate(run.log) if "deleted: " in l]
    check(len(waited) == 2 and deleted and max(waited) < min(deleted), f"deleted before the engine ended: {run.log}")
    check(kov_dirs(wine) == before, "the extraction root is still there")


def pending_deletions(wine):
    found = wine.reg_query(SESSION_MANAGER, "PendingFileRenameOperations")
    return found[1] if found else ""


def held_file_scheduled(work):
    """A file still held open after the installer has ended (by a process without a window)
    is scheduled for deletion at the next restart with the directories that hold it; the
    system's next start removes them."""
    with private_wine() as wine:
        before = kov_dirs(wine)
        _, sea = product(work)
        run = Install(wine, work, sea, env=fixture_env(work / "fixture.txt", hold="data1.cab,8000"))
        check(run.code == 0, f"exit code {run.code}: {run.stderr}")
        scheduled = [l.split("(still in use): ", 1)[1] for l in run.log if "(still in use): " in l]
        check(any(p.endswith("\\Disk1\\data1.cab") for p in scheduled), f"the held file was not scheduled: {run.log}")
        pending = pending_deletions(wine)
        check(all(p in pending for p in scheduled), f"scheduled {scheduled}, but the system holds {pending}")
        check(run.logged("deleted: " + run.root() + "Disk1\\setup.ins"), f"what was not held was not deleted: {run.log}")
        time.sleep(9)  # the holder lets go
        wine.run("wineboot", "-r")
        check(wait_until(lambda: kov_dirs(wine) == before, 30), f"the next start left {kov_dirs(wine)}")


def timeout_leaves_installer_running(work):
    """--timeout ends the wait with 1460 and says so; the installer runs on to its end, and
    what it runs from is scheduled for deletion, not deleted under it."""
    with private_wine() as wine:
        _, sea = product(work)
        log = work / "fixture.txt"
        run = Install(wine, work, sea, env=fixture_env(log, sleep=10000, reboot=1), options=["--timeout", "2"])
        check(run.code == RAN_OUT, f"exit code {run.code}, expected {RAN_OUT}")
        check(run.elapsed < 9, f"install waited {run.elapsed:.1f} s")
        check("still runs after 2 s" in run.stderr, f"stderr: {run.stderr}")
        check("setup end" not in read_log(log), "the installer had ended already")
        check(not run.logged("deleted: ") and run.logged("scheduled for deletion"), f"{run.log}")
        check(not run.logged("restart request: 1"), "the running installer's restart request was read")
        pending = pending_deletions(wine)
        check(run.root() + "Disk1\\Setup.exe" in pending and run.root() in pending, f"not scheduled: {pending}")
        check(wait_until(lambda: "setup end" in read_log(log), 30), "the installer was cut short")
        check(len(kov_dirs(wine)) == 1, f"its files did not stay until the next start: {kov_dirs(wine)}")


def refused_files(work):
    """A file that is not a valid self-extractor exits 1 with a `kovsea: error:` line and
    extracts nothing; one without Disk1\\Setup.exe exits 1 once it cannot start it, and leaves
    nothing behind."""
    wine = Wine(SHARED_PREFIX)
    before = kov_dirs(wine)
    _, good = product(work)
    data = good.read_bytes()
    bad_magic = work / "bad-magic.exe"
    bad_magic.write_bytes(data[:-52] + b"NOTKOV" + data[-46:])
    # The first entry, the directory "Disk1", renamed "Dis:1", which Windows refuses.
    bad_name = work / "bad-name.exe"
    name_at = int.from_bytes(data[-44:-40], "little") + 4
    check(data[name_at:name_at + 6] == b"Disk1\0", "the first entry is not Disk1")
    bad_name.write_bytes(data[:name_at + 3] + b":" + data[name_at + 4:])
    no_setup = work / "no-setup.exe"
    write_sea(no_setup, entry("Disk1") + entry("Disk1\\readme.txt", b"read me"), entries=2)
    for sea, says in [(bad_magic, "not a KOV self-extractor"), (bad_name, "Dis:1"), (no_setup, "Setup.exe could not be started")]:
        log = work / f"fixture-{sea.stem}.txt"
        run = Install(wine, work, sea, env=fixture_env(log))
        check(run.code == 1, f"{sea.name}: exit code {run.code}")
        check("kovsea: error:" in run.stderr and says in run.stderr, f"{sea.name}: stderr {run.stderr}")
        check(not log.exists(), f"{sea.name}: Setup.exe ran")
        check(kov_dirs(wine) == before, f"{sea.name}: left {kov_dirs(wine)}")
        check(run.logged("exit code 1"), f"{sea.name}: {run.log}")
        check(run.logged("root: ") == (sea is no_setup), f"{sea.name}: extracted or not as it should: {run.log}")


SCENARIOS = [arguments_and_log, restart_requests, installer_exit_code, engine_window_wait, held_file_scheduled,
             timeout_leaves_installer_running, refused_files]

if __name__ == "__main__":
    sys.exit(run_scenarios(__doc__, SCENARIOS))
