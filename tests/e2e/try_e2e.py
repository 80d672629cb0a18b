#!/usr/bin/env python3
"""End-to-end runs of `kovsea try`: real self-extractors run in kovsea's throwaway Wine
prefix, each reported in text and in JSON (the JSON checked against
docs/kovsea-try.schema.json). The Wine template is kept in build/try-cache, so that only
the first scenario of a machine makes it.

Usage: try_e2e.py SCENARIO | --list      (exit 0 pass, 1 fail, 77 skipped)
"""

import json
import os
import pathlib
import shutil
import subprocess
import sys

from harness import (KOVSEA, ROOT, SKIP, WIN_BIN, Failure, check, entry, fixture_env, installer_tree, nsis_installer_sea, pack,
                     read_log, run_scenarios, write_sea)

SCHEMA = ROOT / "docs" / "kovsea-try.schema.json"
CACHE = ROOT / "build" / "try-cache"
NOT_A_SEA = "This is not a valid KOV SEA file!"
CANNOT_START = "Cannot start the executable."


def try_env(extra=None):
    env = dict(os.environ, XDG_CACHE_HOME=str(CACHE), KOVSEA_OBSERVER=str(WIN_BIN / "kovsea-observer.exe"))
    env.update(extra or {})
    return env


def kovsea_try(sea, *options, env=None, timeout=300, before_each=None):
    """Runs `kovsea try` twice, for text and for JSON (calling `before_each` before each);
    returns (exit code, text, report)."""
    if not KOVSEA.exists():
        raise SystemExit(SKIP)
    results = []
    for json_flag in ([], ["--json"]):
        if before_each:
            before_each()
        proc = subprocess.run([str(KOVSEA), "try", *map(str, options), *json_flag, str(sea)], env=try_env(env),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        results.append(proc)
    text, as_json = results
    check(text.returncode == as_json.returncode,
          f"exit codes differ: {text.returncode} as text, {as_json.returncode} as JSON")
    check(as_json.stderr == b"", f"--json printed on stderr: {as_json.stderr.decode()}")
    report = json.loads(as_json.stdout)
    validate(report)
    check(report["ok"] == (as_json.returncode == 0), f"ok is {report['ok']} with exit code {as_json.returncode}")
    return text.returncode, text.stdout.decode(), report


def validate(report):
    try:
        import jsonschema
    except ImportError:
        raise Failure("python3-jsonschema is not installed (scripts/bootstrap installs it)")
    try:
        jsonschema.validate(report, json.loads(SCHEMA.read_text()))
    except jsonschema.ValidationError as error:
        raise Failure(f"the JSON report does not match {SCHEMA.name}: {error.message} at {list(error.absolute_path)}")


def verdict(text):
    return text.splitlines()[0]


def in_order(text, labels):
    """The labels appear in the text in this order."""
    at = -1
    for label in labels:
        found = text.find(label, at + 1)
        check(found > at, f"'{label}' is not after the report's earlier sections:\n{text}")
        at = found


def sample_sea(work):
    """The demo's sample: samples/tree with the sample Setup.exe and samples/setup.ini."""
    tree = work / "tree"
    shutil.copytree(ROOT / "samples" / "tree", tree)
    shutil.copy(WIN_BIN / "demo_setup.exe", tree / "Disk1" / "Setup.exe")
    (tree / "Disk1" / "data1.cab").write_bytes(os.urandom(300_000))
    sea = work / "demo-sea.exe"
    pack(tree, sea, "--setup-ini", ROOT / "samples" / "setup.ini")
    return tree, sea


def try_sample(work):
    """The demo's sample on the test's display: the dialog, the tree Setup.exe found, equal to
    the catalogue, the side file, Setup.exe's and the stub's exit codes, nothing left, no
    restart; a picture of every window with --screenshots."""
    tree, sea = sample_sea(work)
    shots = work / "shots"
    rc, text, report = kovsea_try(sea, "--screenshots", shots)
    check(rc == 0, f"exit code {rc}:\n{text}")
    check(verdict(text).startswith("kovsea try: OK"), text)
    in_order(text, ["progress dialog", "extraction root", "tree Setup.exe found", "side files", "message boxes",
                    "Setup.exe exit code", "installer engine", "left in temp", "registry", "restart", "stub",
                    "total"])
    check("your display" in report["display"], report["display"])
    (run,) = report["runs"]
    # A payload this small may be extracted before the dialog is ever shown: the hand-off's hide
    # then keeps it hidden, and the report says it did not appear.
    check(not run["dialog_appeared"] or run["setup_seconds"] >= run["dialog_seconds"], f"{run['dialog_seconds']}")
    check(run["extraction_root"].startswith(report["temp_directory"] + "KOV"), run["extraction_root"])
    found = {r["name"]: r for r in run["tree"]}
    for path in (tree / "Disk1").rglob("*"):
        name = str(path.relative_to(tree)).replace("/", "\\")
        check(name in found and found[name]["listed"] == "same", f"{name}: {found.get(name)}")
        if path.is_file():
            check(found[name]["size"] == path.stat().st_size, f"{name} size {found[name]['size']}")
            check(f"{found[name]['sha256']}  {name}" in text, f"{name} not in the text report with its digest")
    side = {s["key"]: s for s in run["side_files"]}
    check(side["setup"]["listed"] == "same" and side["setup"]["size"] == (ROOT / "samples" / "setup.ini").stat().st_size,
          f"{side}")
    check(run["setup_exit_code"] == 0 and run["stub_exit_code"] == 1, f"{run['setup_exit_code']} {run['stub_exit_code']}")
    check(run["left"] == [] and run["restarts"] == [] and run["message_boxes"] == [], "something left or asked")
    check(any(v["name"] == "Reboot" and v["data"] == "0" for v in run["registry"]["after"]["values"]),
          f"{run['registry']}")
    dialog = [w for w in run["windows"] if w["title"] == "KOV Self-Extracting Archive"]
    check(not run["dialog_appeared"] or dialog and dialog[0]["screenshot"] and pathlib.Path(dialog[0]["screenshot"]).read_bytes()[:4] == b"\x89PNG",
          f"no picture of the dialog: {run['windows']}")
    check(not pathlib.Path(report["prefix"]["path"]).exists(), "the prefix was not removed")


def try_real_installer(work):
    """A real third-party installer as Setup.exe: an NSIS installer built here that installs
    a file into Program Files and writes a value into the product key. --keep keeps the
    prefix, where the installed file is found."""
    tree, sea = nsis_installer_sea(work, r'WriteRegStr HKLM "Software\Orvane\KOV" "InstalledBy" "NSIS sample"')
    keep = work / "kept"
    proc = subprocess.run([str(KOVSEA), "try", "--headless", "--keep", str(keep), "--json", str(sea)], env=try_env(),
                          stdout=subprocess.PIPE, timeout=300)
    report = json.loads(proc.stdout)
    validate(report)
    check(proc.returncode == 0, f"exit code {proc.returncode}: {report['problems']}")
    (run,) = report["runs"]
    check(run["setup_exit_code"] == 0, f"NSIS exit code {run['setup_exit_code']}")
    values = {(v["where"], v["name"]): v["data"] for v in run["registry"]["installer"]["values"]}
    check(values.get(("product", "InstalledBy")) == "NSIS sample", f"the installer's value: {values}")
    installed = list((keep / "drive_c").glob("Program Files*/KovseaNsisSample/payload.txt"))
    check(len(installed) == 1, "the NSIS installer did not install its file in the kept prefix")
    check(report["prefix"]["kept"] and pathlib.Path(report["prefix"]["path"]) == keep, f"{report['prefix']}")
    rc, text, _ = kovsea_try(sea, "--headless")
    check(rc == 0 and "\"InstalledBy\" = NSIS sample" in text, text)


def try_damaged_trailer(work):
    """A file whose trailer is damaged: the stub's box, its caption and text, is the reason,
    with a picture; Setup.exe never starts."""
    _, sea = sample_sea(work)
    data = bytearray(sea.read_bytes())
    data[-52:-44] = b"BROKEN!!"
    sea.write_bytes(bytes(data))
    rc, text, report = kovsea_try(sea, "--headless", "--screenshots", work / "shots")
    check(rc == 1, f"exit code {rc}")
    check(verdict(text) == f'kovsea try: FAILED: the stub showed an error box: "KOV Error": {NOT_A_SEA}', verdict(text))
    check(report["problems"][0]["what"] == f'the stub showed an error box: "KOV Error": {NOT_A_SEA}',
          f"{report['problems']}")
    (run,) = report["runs"]
    (box,) = run["message_boxes"]
    check(box["from_stub"] and box["answer"] == "dismissed with its default button", f"{box}")
    check(box["screenshot"] and pathlib.Path(box["screenshot"]).read_bytes()[:4] == b"\x89PNG", f"{box}")
    check(run["setup_seconds"] is None and run["tree"] == [], "Setup.exe ran")


def try_missing_setup(work):
    """An archive without Disk1\\Setup.exe: the stub cannot start it and says so."""
    sea = work / "no-setup.exe"
    write_sea(sea, entry("Disk1") + entry("Disk1\\readme.txt", b"no installer here"), entries=2)
    rc, text, report = kovsea_try(sea, "--headless", "--screenshots", work / "shots")
    check(rc == 1, f"exit code {rc}")
    (run,) = report["runs"]
    (box,) = run["message_boxes"]
    check(box["text"] == CANNOT_START and box["caption"].endswith('\\Disk1\\Setup.exe"'), f"{box}")
    whats = [p["what"] for p in report["problems"]]
    check(whats[0].startswith("the stub showed an error box") and "Setup.exe never started" in whats, f"{whats}")
    check(run["left"] == [], f"the stub left {run['left']}")


def try_file_left_behind(work):
    """A child of the installer still holds a file when the stub deletes the tree: the tree is
    left, marked for deletion at the next restart, and the child is named."""
    tree = installer_tree(work)
    sea = work / "product.exe"
    pack(tree, sea)
    log = work / "log.txt"
    rc, text, report = kovsea_try(sea, "--headless", env=fixture_env(log, hold="data1.cab,4000"))
    check(rc == 1, f"exit code {rc}")
    check(verdict(text).startswith("kovsea try: FAILED: ") and "left under the temporary directory" in verdict(text),
          verdict(text))
    (run,) = report["runs"]
    left = {e["path"].split("\\", 1)[-1]: e for e in run["left"]}
    check("Disk1\\data1.cab" in left and left["Disk1\\data1.cab"]["deleted_at_restart"], f"{run['left']}")
    check(run["extraction_root"].endswith(run["left"][0]["path"] + "\\"), f"{run['left'][0]}")
    check(any("--hold" in p["command_line"] for p in run["still_running"]), f"{run['still_running']}")
    check("--hold" in report["problems"][0]["fix"], f"{report['problems'][0]}")


def try_restart_request(work):
    """The installer asks to restart and run the stub again (2): the restart is reported and
    not performed, the RunOnce value is the stub's quoted path; with --restart it is
    performed and the run that RunOnce starts is reported as the second."""
    tree = installer_tree(work)
    sea = work / "product.exe"
    pack(tree, sea)
    log = work / "log.txt"

    def fresh_log():
        # The stand-in answers once per log: a new log is a new installer run.
        for path in (log, pathlib.Path(str(log) + ".answered")):
            if path.exists():
                path.unlink()

    rc, text, report = kovsea_try(sea, "--headless", env=fixture_env(log, reboot=2), before_each=fresh_log)
    check(rc == 0, f"exit code {rc}: {report['problems']}")
    (run,) = report["runs"]
    (restart,) = run["restarts"]
    check(not restart["performed"] and "wineboot" in restart["command_line"] and restart["asked_by"].startswith(sea.name),
          f"{restart}")
    after = {(v["where"], v["name"]): v["data"] for v in run["registry"]["after"]["values"]}
    # The sandbox shows the file at a fixed place of its own, under its own name.
    check(after.get(("runonce", "Run KOV SEA Installer on Reboot")) == f'"Z:\\run\\kovsea\\input\\{sea.name}"',
          f"{after}")
    check(("product", "Reboot") in after and after[("product", "Reboot")] == "2", f"{after}")
    check("not performed (--restart performs it)" in text, text)
    check(read_log(log).count("setup end") == 1, "Setup.exe ran again without --restart")

    rc, text, report = kovsea_try(sea, "--headless", "--restart", env=fixture_env(log, reboot=2), before_each=fresh_log)
    check(rc == 0, f"exit code {rc}: {report['problems']}")
    check(report["restart_performed"] and len(report["runs"]) == 2, f"{len(report['runs'])} runs")
    first, second = report["runs"]
    check(second["started_by"] == "the restart (RunOnce)" and second["setup_exit_code"] == 0, f"{second}")
    check(any(r["performed"] for r in first["restarts"]), f"{first['restarts']}")
    check(second["restarts"] == [] and second["left"] == [], "the second run asked again or left something")
    check("run 2, started by the restart (RunOnce)" in text, text)


def try_timeout(work):
    """An installer that does not end: after --timeout every process is ended and the one
    still running, Setup.exe, is named."""
    tree = installer_tree(work)
    sea = work / "product.exe"
    pack(tree, sea)
    rc, text, report = kovsea_try(sea, "--headless", "--timeout", 3, env=fixture_env(work / "log.txt", sleep=120000))
    check(rc == 1, f"exit code {rc}")
    check(report["timed_out"] and verdict(text).startswith("kovsea try: FAILED: timed out after 3 s"), verdict(text))
    running = " ".join(p["process"] for p in report["running_at_timeout"])
    check("Setup.exe" in running, f"still running: {report['running_at_timeout']}")


def try_without_wine(work):
    """Without Wine on PATH: one error naming the Debian packages, and nothing started (no
    template, no prefix)."""
    tree = installer_tree(work)
    sea = work / "product.exe"
    pack(tree, sea)
    bin_dir = work / "bin"
    bin_dir.mkdir()
    cache = work / "cache"
    env = dict(os.environ, PATH=str(bin_dir), XDG_CACHE_HOME=str(cache))
    env.pop("DISPLAY", None)
    for json_flag in ([], ["--json"]):
        proc = subprocess.run([str(KOVSEA), "try", *json_flag, str(sea)], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        check(proc.returncode == 1, f"exit code {proc.returncode}")
        said = (proc.stdout if json_flag else proc.stderr).decode()
        for package in ("wine", "wine32:i386", "xvfb", "openbox"):
            check(package in said, f"'{package}' is not named: {said}")
        if json_flag:
            check(json.loads(proc.stdout)["ok"] is False and proc.stderr == b"", said)
        else:
            check(said.startswith("kovsea: error: ") and proc.stdout == b"", said)
    check(not cache.exists(), "a template or prefix was made")


SCENARIOS = [try_sample, try_real_installer, try_damaged_trailer, try_missing_setup, try_file_left_behind,
             try_restart_request, try_timeout, try_without_wine]

if __name__ == "__main__":
    sys.exit(run_scenarios(__doc__, SCENARIOS))
