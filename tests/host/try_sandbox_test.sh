#!/usr/bin/env bash
# kovsea try's sandbox, tried the way a hostile installer would: a stand-in for Wine
# (tests/host/fake_wine) speaks the observer's protocol and then writes to the host, leaves
# a Linux program running, forges the observer's record, fails, or hangs until kovsea is
# signalled. Each case checks the report and the host afterwards. Real bubblewrap, Xvfb and
# openbox; no Wine needed.
#
#   try_sandbox_test.sh KOVSEA STUB OBSERVER SCRATCH
set -uo pipefail
kovsea=$(realpath "$1") stub=$(realpath "$2") observer=$(realpath "$3") scratch=$(realpath -m "$4")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

python3 -c 'import jsonschema' 2>/dev/null || { echo "needs python3-jsonschema (scripts/bootstrap installs it)"; exit 1; }
for program in bwrap Xvfb openbox python3; do
  command -v "$program" >/dev/null || { echo "needs $program (scripts/bootstrap installs it)"; exit 1; }
done
[ -f "$stub" ] || { echo "no stub at $stub: build the win32 preset first"; exit 1; }

# The stand-in and the trees it copies lie in its own folder, which the sandbox shows (read-only,
# as a folder on PATH) even where the scratch folder is in a hidden place such as /tmp.
rm -rf "$scratch" && mkdir -p "$scratch/work" || exit 1
cp -a "$here/fake_wine" "$scratch/bin"
mkdir -p "$scratch/bin/tree/Disk1"
printf 'MZ stand-in' >"$scratch/bin/tree/Disk1/Setup.exe"
printf 'data' >"$scratch/bin/tree/Disk1/data.txt"
"$kovsea" pack --stub "$stub" -o "$scratch/work/product.exe" "$scratch/bin/tree" >/dev/null || exit 1
export PATH="$scratch/bin:$PATH" XDG_CACHE_HOME="$scratch/cache" KOVSEA_OBSERVER="$observer"
cd "$scratch/work" || exit 1

scenario() { printf 'scenario=%s\ntree=%s/tree\nhost_probe=%s/escaped\nhost_template=%s\nexit_code=%s\n' \
  "$1" "$scratch/bin" "$scratch" "$(ls -d "$scratch"/cache/kovsea/wine-prefix-* 2>/dev/null | head -1)" "${2:-0}" \
  >"$scratch/bin/scenario"; }
schema=$here/../../docs/kovsea-try.schema.json
try() { "$kovsea" try --headless "$@" 2>"$scratch/stderr"; }
# Every JSON report holds to the published schema.
valid() { python3 -c 'import json,sys,jsonschema; jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))' "$1" "$schema" || fail "$1 does not hold to the schema"; }
field() { python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); print(eval(sys.argv[2], {}, {"r": r}))' "$@"; }
lingering() { pgrep -f "sleep 3131" >/dev/null; }

# A clean run is OK, under a sandbox, with every condition met.
scenario clean
try --json product.exe >clean.json; rc=$?
valid clean.json
[ $rc = 0 ] || fail "clean: exit $rc: $(head -c 400 clean.json)"
[ "$(field clean.json 'r["isolation"]["isolated"]')" = True ] || fail "clean: not reported as isolated"
[ "$(field clean.json 'all(r["conditions"].values())')" = True ] || fail "clean: a condition failed"
template=$(ls -d "$scratch"/cache/kovsea/wine-prefix-*)
before=$(cd "$template" && find . -type f -exec sha256sum {} + | sort | sha256sum)

# Each case: scenario, Setup.exe's exit code, options, expected exit code, the condition that fails.
while IFS='|' read -r name code options want condition; do
  scenario "$name" "$code"
  # shellcheck disable=SC2086
  try --json $options product.exe >"$name.json"; rc=$?
  valid "$name.json"
  [ "$rc" = "$want" ] || fail "$name: exit $rc, expected $want: $(head -c 300 "$name.json")"
  if [ -n "$condition" ]; then
    [ "$(field "$name.json" "r['conditions']['$condition']")" = False ] || fail "$name: $condition not failed"
  fi
done <<'CASES'
escape|0||0|
linger|0||1|no-process-outlived-the-stub
forge|0||1|record-whole
clean|1603||1|setup-exit-code
clean|1603|--success-exit 1603,3010|0|
timeout|0||1|setup-exit-code
CASES
[ "$(field timeout.json 'r["runs"][0]["setup_exit_code"] is None and r["runs"][0]["stub_ended_by_try"]')" = True ] ||
  fail "timeout: a process ended by kovsea try was given an exit code: $(head -c 600 timeout.json)"


# Nothing reached the host, the template or a later run; nothing outlived kovsea.
for path in "$scratch/escaped" "$HOME/kovsea-escaped" /tmp/kovsea-escaped; do
  [ ! -e "$path" ] || { fail "the installer wrote $path on the host"; rm -f "$path"; }
done
after=$(cd "$template" && find . -type f -exec sha256sum {} + | sort | sha256sum)
[ "$before" = "$after" ] || fail "the Wine template changed"
lingering && fail "a program the installer started outlived kovsea try"
[ "$(field linger.json 'r["runs"][0]["outlived"][0]["command_line"]')" != "" ] || fail "linger: not named"

# A signal ends the trial, everything it started and its folder: SIGHUP as SIGINT and SIGTERM.
scenario hang
for signal in HUP INT TERM; do
  "$kovsea" try --headless product.exe >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 100); do lingering && break; sleep 0.1; done
  lingering || fail "SIG$signal: the hanging installer never started"
  kill -"$signal" "$pid"
  wait "$pid"
  rc=$?
  [ "$rc" != 0 ] || fail "SIG$signal: exit 0"
  sleep 0.2
  lingering && fail "SIG$signal: the installer outlived kovsea try"
  [ -z "$(ls "$scratch/cache/kovsea/sandboxes")" ] || fail "SIG$signal: the sandbox's folder was left"
  pkill -f "sleep 3131"
done

# The file named is the file run: a name Windows would read as a path is refused.
cp product.exe 'x\b.exe'
scenario clean
try 'x\b.exe' >/dev/null; rc=$?
[ $rc = 1 ] && grep -q "Windows cannot name this file" "$scratch/stderr" || fail "x\\b.exe: exit $rc: $(cat "$scratch/stderr")"

# Names are compared in the code page the file was packed with: a 932 file whose Japanese
# names Setup.exe sees as packed matches under --codepage 932, not under the default.
mkdir -p "$scratch/bin/tree932/Disk1" && printf 'MZ' >"$scratch/bin/tree932/Disk1/Setup.exe" && printf 'x' >"$scratch/bin/tree932/Disk1/製品.txt"
"$kovsea" pack --codepage 932 --stub "$stub" -o product932.exe "$scratch/bin/tree932" >/dev/null || fail "pack --codepage 932"
scenario clean
sed -i "s|^tree=.*|tree=$scratch/bin/tree932|" "$scratch/bin/scenario"
try --codepage 932 product932.exe >/dev/null; rc=$?
[ $rc = 0 ] || fail "--codepage 932: exit $rc: $(cat "$scratch/stderr")"
try --json product932.exe >cp1252.json; rc=$?
[ $rc = 1 ] && [ "$(field cp1252.json 'r["conditions"]["tree-as-listed"]')" = False ] || fail "default code page: exit $rc"

# Without a sandbox the report says so first.
try --no-isolation product.exe >plain.txt; rc=$?
head -1 plain.txt | grep -q "NOT ISOLATED" || fail "--no-isolation: first line: $(head -1 plain.txt)"

[ $failures = 0 ] && echo "try sandbox: every case passed"
rm -rf "$scratch"
exit $((failures > 0))
