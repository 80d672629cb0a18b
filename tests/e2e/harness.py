"""Helpers for end-to-end runs of Windows programs under Wine: packing with kovsea, running
in the project's prefix or a throwaway copy of it, reading the registry with Wine's own
reg.exe, and reading message boxes and clicking as a user would."""

import contextlib
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
WIN_BIN = pathlib.Path(os.environ.get("KOVSEA_WIN_BIN", ROOT / "build" / "win32" / "bin"))
KOVSEA = pathlib.Path(os.environ.get("KOVSEA_HOST_TOOL", ROOT / "build" / "host" / "bin" / "kovsea"))
WINE_RUN = ROOT / "scripts" / "wine-run"
SHARED_PREFIX = pathlib.Path(os.environ.get("KOVSEA_WINEPREFIX", ROOT / "build" / "wineprefix"))
PROGRESS_CAPTION = "KOV Self-Extracting Archive"
SKIP = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def fnv1a(data: bytes) -> str:
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return f"{h:08x}"


def win_path(path) -> str:
    """The Windows name Wine gives a Linux path (drive Z: is the Linux root)."""
    return "Z:" + str(path).replace("/", "\\")


class Wine:
    """One Wine prefix: the shared one, or a private copy for runs that end the session."""

    def __init__(self, prefix: pathlib.Path):
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=str(prefix), KOVSEA_WINEPREFIX=str(prefix),
                        WINEDEBUG="-all")

    def run(self, program, *args, env=None, timeout=120, check_rc=None, cwd=None):
        merged = dict(self.env, **(env or {}))
        # No pipes: processes the program starts (wineboot after a restart request, say)
        # would keep them open long after the program itself has ended.
        proc = subprocess.run([str(WINE_RUN), str(program), *map(str, args)], env=merged,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout, cwd=cwd)
        if check_rc is not None:
            check(proc.returncode == check_rc,
                  f"{program} exited with {proc.returncode}, expected {check_rc}")
        return proc.returncode

    def output(self, program, *args, env=None, timeout=120):
        """Runs a program that ends by itself and returns its exit code and what it printed."""
        merged = dict(self.env, **(env or {}))
        proc = subprocess.run([str(WINE_RUN), str(program), *map(str, args)], env=merged,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
        return proc.returncode, proc.stdout.decode()

    def start(self, program, *args, env=None, cwd=None):
        merged = dict(self.env, **(env or {}))
        return subprocess.Popen([str(WINE_RUN), str(program), *map(str, args)], env=merged,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=cwd)

    def temp_dir(self) -> pathlib.Path:
        users = self.prefix / "drive_c" / "users"
        for candidate in sorted(users.glob("*/Temp")) + sorted(users.glob("*/AppData/Local/Temp")):
            if candidate.is_dir():
                return candidate
        raise Failure("no temporary directory in the Wine prefix")

    def reg_query(self, key, value):
        """The (type, data) of a registry value as reg.exe shows it, or None."""
        with tempfile.TemporaryFile() as out:
            subprocess.run([str(WINE_RUN), "reg", "query", key, "/v", value], env=self.env,
                           stdout=out, stderr=subprocess.DEVNULL, timeout=60)
            out.seek(0)
            text = out.read()
        proc = subprocess.CompletedProcess([], 0, text)
        for line in proc.stdout.decode("latin-1").splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0] == value.split()[0] and value in line:
                rest = line.strip()[len(value):].split(None, 1)
                return (rest[0], rest[1] if len(rest) > 1 else "")
        return None

    def reg_set_dword(self, key, value, data):
        self.run("reg", "add", key, "/v", value, "/t", "REG_DWORD", "/d", str(data), "/f")

    def reg_delete(self, key, value=None):
        args = ["reg", "delete", key] + (["/v", value] if value else []) + ["/f"]
        self.run(*args)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


@contextlib.contextmanager
def private_wine():
    """A throwaway copy of the shared prefix, for runs that ask Wine to end the session
    (which ends every process of the prefix)."""
    with tempfile.TemporaryDirectory(prefix="kovsea-prefix-") as tmp:
        prefix = pathlib.Path(tmp) / "prefix"
        shutil.copytree(SHARED_PREFIX, prefix, symlinks=True,
                        ignore=shutil.ignore_patterns("wineserver"))
        wine = Wine(prefix)
        try:
            yield wine
        finally:
            wine.stop()


def pack(tree, out, *options, stub=None):
    if not KOVSEA.exists():
        raise SystemExit(SKIP)
    stub = stub or (WIN_BIN / "kovsea-stub.exe")
    proc = subprocess.run([str(KOVSEA), "pack", "--stub", str(stub), "-o",
                           str(out), str(tree), *map(str, options)],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    check(proc.returncode == 0, f"kovsea pack failed: {proc.stderr.decode()}")


def write_sea(path, stream: bytes, stub=None, entries=1):
    """A self-extractor written by hand: the stub, a stream, and a trailer."""
    import struct
    image = (stub or (WIN_BIN / "kovsea-stub.exe")).read_bytes()
    trailer = b"KOVSEA\0\0" + struct.pack("<III", len(image), len(stream), entries) + b"\0" * 32
    path.write_bytes(image + stream + trailer)
    path.chmod(0o755)


def entry(name: str, data=None, codepage="cp1252") -> bytes:
    import struct
    if data is None:
        return struct.pack("<I", 0xFFFFFFFF) + name.encode(codepage) + b"\0"
    return struct.pack("<I", len(data)) + name.encode(codepage) + b"\0" + data


def installer_tree(base: pathlib.Path, extra_files=None) -> pathlib.Path:
    tree = base / "tree"
    disk = tree / "Disk1"
    disk.mkdir(parents=True)
    shutil.copy(WIN_BIN / "installer_stand_in.exe", disk / "Setup.exe")
    (disk / "setup.ins").write_bytes(b"script" * 100)
    (disk / "data1.cab").write_bytes(os.urandom(200_000))
    (disk / "empty.hdr").write_bytes(b"")
    (disk / "sub").mkdir()
    (disk / "sub" / "lang.ini").write_bytes(b"[en]")
    for name, data in (extra_files or {}).items():
        (disk / name).write_bytes(data)
    return tree


def expected_listing(tree: pathlib.Path, side_files=None):
    """The "file" lines the stand-in logs for `tree`'s Disk1 plus the side files."""
    disk = tree / "Disk1"
    lines = set()
    for p in disk.rglob("*"):
        if p.is_file():
            rel = str(p.relative_to(disk)).replace("/", "\\")
            data = p.read_bytes()
            lines.add(f"file {rel} {len(data)} {fnv1a(data)}")
    for name, data in (side_files or {}).items():
        lines.add(f"file {name} {len(data)} {fnv1a(data)}")
    return lines


def read_log(path: pathlib.Path):
    return path.read_text(encoding="latin-1").splitlines() if path.exists() else []


def probe(wine: Wine, workdir: pathlib.Path, *args, timeout=60):
    out = workdir / f"probe-{time.monotonic_ns()}.txt"
    rc = wine.run(WIN_BIN / "window_probe.exe", win_path(out), *args, timeout=timeout)
    text = out.read_text(encoding="utf-8", errors="replace") if out.exists() else ""
    return rc, text


def wait_until(predicate, timeout, interval=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()


def visible_window(title):
    proc = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    ids = proc.stdout.split()
    return ids[0].decode() if ids else None


def window_state(wine: Wine, workdir, window_title):
    """Wine's own view of a window: {"visible": 0|1, "enabled", "foreground", "focus": id}."""
    rc, text = probe(wine, workdir, "state", window_title)
    if rc != 0:
        return None
    return {k: int(v) for k, v in (item.split("=") for item in text.split())}


def click_control(wine: Wine, workdir, window_title, control_id):
    """Clicks the centre of a dialog control with the X pointer, as a user would, after
    giving the window the input focus as a click on it would."""
    rc, text = probe(wine, workdir, "rect", window_title, control_id)
    check(rc == 0, f"control {control_id} of '{window_title}' not found")
    left, top, right, bottom = map(int, text.split())
    x, y = (left + right) // 2, (top + bottom) // 2
    window = visible_window(window_title)
    if window:
        subprocess.run(["xdotool", "windowfocus", window], check=False)
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)


def press_key(window_title, key):
    window = visible_window(window_title)
    check(window is not None, f"no visible window '{window_title}'")
    subprocess.run(["xdotool", "windowfocus", window], check=False)
    subprocess.run(["xdotool", "key", key], check=True)


# ---- Shared by the scenario files -------------------------------------------------------


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


def run_scenarios(doc, scenarios):
    """The main of a scenario file: `--list` prints the scenario names (the build reads them),
    a name runs that scenario (exit 0 pass, 1 fail, 77 skipped)."""
    import sys
    if sys.argv[1:] == ["--list"]:
        print(";".join(f.__name__ for f in scenarios))
        return 0
    by_name = {f.__name__: f for f in scenarios}
    if len(sys.argv) != 2 or sys.argv[1] not in by_name:
        print(doc + "Scenarios: " + ", ".join(by_name))
        return 2
    if not os.environ.get("DISPLAY"):
        print("needs an X display (scripts/test starts one)")
        return SKIP
    probe = subprocess.run([str(ROOT / "scripts" / "runs-i386")], stdout=subprocess.PIPE, text=True)
    if probe.returncode != 0:
        print("skipped: " + probe.stdout.strip())
        return SKIP
    with tempfile.TemporaryDirectory(prefix="kovsea-e2e-") as tmp:
        try:
            by_name[sys.argv[1]](pathlib.Path(tmp))
        except Failure as failure:
            print(f"FAIL {sys.argv[1]}: {failure}")
            return 1
    print(f"PASS {sys.argv[1]}")
    return 0


def nsis_installer_sea(work, registry_line):
    """A self-extractor whose Setup.exe is a real third-party installer, built here with
    makensis: it installs payload.txt into Program Files and runs `registry_line` (an NSIS
    registry instruction). Skips when makensis is missing."""
    if shutil.which("makensis") is None:
        raise SystemExit(SKIP)
    script = work / "setup.nsi"
    script.write_text("\n".join([
        "Unicode true", 'Name "KOV SEA NSIS sample"', 'OutFile "Setup.exe"', "RequestExecutionLevel admin",
        "SilentInstall silent", r'InstallDir "$PROGRAMFILES\KovseaNsisSample"', "Section", '  SetOutPath "$INSTDIR"',
        '  File "payload.txt"', "  " + registry_line, "SectionEnd", ""]))
    (work / "payload.txt").write_text("installed by a real NSIS installer\n")
    proc = subprocess.run(["makensis", "-V1", str(script)], cwd=work, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    check(proc.returncode == 0, f"makensis failed: {proc.stdout.decode()}")
    tree = work / "tree"
    (tree / "Disk1").mkdir(parents=True)
    shutil.move(str(work / "Setup.exe"), tree / "Disk1" / "Setup.exe")
    sea = work / "nsis-product.exe"
    pack(tree, sea)
    return tree, sea
