#!/usr/bin/env bash
# The Windows zip as an admin unpacks it: kovsea.exe beside the stub it finds there, with the
# README, the licence and the admin's documents (deploying.md and the json.md it links to).
#   zip_test.sh PACKAGES_DIR
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
zips=("$1"/kovsea-*-win32.zip)
[ -f "${zips[0]}" ] || fail "no kovsea-*-win32.zip in $1"
[ ${#zips[@]} -eq 1 ] || fail "more than one zip in $1: ${zips[*]}"
python3 - "${zips[0]}" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
programs = [n for n in names if n.endswith("/kovsea.exe") or n == "kovsea.exe"]
if len(programs) != 1:
    sys.exit(f"FAIL: the zip holds {len(programs)} kovsea.exe: {names}")
top = programs[0][: -len("kovsea.exe")]
for wanted in ("kovsea-stub.exe", "README.md", "LICENSE", "docs/deploying.md", "docs/json.md"):
    if top + wanted not in names:
        sys.exit(f"FAIL: the zip has no {top + wanted} beside kovsea.exe: {names}")
print(f"{sys.argv[1]}: kovsea.exe, the stub, README.md, LICENSE and docs/ side by side")
PY
