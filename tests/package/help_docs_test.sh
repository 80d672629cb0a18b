#!/usr/bin/env bash
# packaging/help_docs.py against a stand-in kovsea whose help has what the real one may
# grow: a command added later, an option name too wide for its column (its description on
# the next line) and a description over two lines. The generator must document them all,
# and refuse help laid out in a way it does not know rather than drop what it cannot read.
#   help_docs_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
. "$source_dir/tests/package/completion.bash"
generator=$source_dir/packaging/help_docs.py
fail() { echo "FAIL: $*" >&2; exit 1; }
scratch=$(mktemp -d /tmp/kovsea-help-docs-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
printf 'kovsea (9.9.9) unstable; urgency=medium\n\n  * Test.\n\n -- T <t@example.invalid>  Mon, 07 Dec 2026 10:00:00 +0000\n' \
  >"$scratch/changelog"

# The stand-in prints the help the layout ($layout) asks for.
fake=$scratch/kovsea
cat >"$fake" <<'EOF'
#!/bin/sh
case "$*" in
  --version) echo "kovsea 9.9.9" ;;
  --help) printf '%s\n' "Stand-in." "usage: kovsea [OPTIONS] SUBCOMMAND" "" "Options:" \
    "  -h,--help                   Print this help message and exit" "" "Subcommands:" \
    "  pack                        build one" "  try                         run one under Wine" ;;
  "pack --help") printf '%s\n' "build one" "usage: kovsea pack [OPTIONS] DIR" "" "Positionals:" \
    "  DIR TEXT REQUIRED           the tree" "" "Options:" \
    "  -h,--help                   Print this help message and exit" \
    "  -o,--output TEXT REQUIRED   the file to write" ;;
  "try --help") printf '%s\n' "run one under Wine" "usage: kovsea try [OPTIONS] FILE" "" "Options:" \
    "  -h,--help                   Print this help message and exit" \
    "  --screenshot-directory-name TEXT" "                              where screenshots go" \
    "  --wait UINT                 seconds to wait for the" "                              installer to end" \
    "$BROKEN" "" "Ends the run when the installer has ended." ;;
  *) exit 2 ;;
esac
EOF
chmod +x "$fake"

BROKEN="" python3 "$generator" man "$fake" --changelog "$scratch/changelog" -o "$scratch/kovsea.1"
BROKEN="" python3 "$generator" bash "$fake" -o "$scratch/kovsea.bash"
groff -man -Tutf8 -ww -z "$scratch/kovsea.1" 2>"$scratch/groff.txt"
[ ! -s "$scratch/groff.txt" ] || { cat "$scratch/groff.txt" >&2; fail "groff warns"; }
MANWIDTH=200 man -l "$scratch/kovsea.1" >"$scratch/man.txt"
# Each entry with its own description, whichever line the description started on.
while IFS='|' read -r entry description; do
  grep -A1 -F -- "$entry" "$scratch/man.txt" | grep -q -F -- "$description" ||
    fail "kovsea(1) does not give '$entry' its description '$description'"
done <<'EOF'
kovsea try|Run one under Wine.
--screenshot-directory-name TEXT|Where screenshots go.
--wait UINT|Seconds to wait for the installer to end.
-o, --output TEXT (required)|The file to write.
EOF
grep -q 'Ends the run when the installer has ended.' "$scratch/man.txt" || fail "kovsea(1) drops try's closing text"

(
  . "$scratch/kovsea.bash"
  [ "$(completions kovsea "" | tr '\n' ' ')" = "pack try " ] || fail "kovsea <TAB> offers: $(completions kovsea "")"
  [ "$(completions kovsea try -- | tr '\n' ' ')" = "--help --screenshot-directory-name --wait " ] ||
    fail "kovsea try --<TAB> offers: $(completions kovsea try --)"
)

# A line that fits no part of the layout stops the generator, and it writes nothing; so does
# an option whose value is not one placeholder (CLI11 glues a check's name or a note on).
while IFS='|' read -r broken says; do
  for kind in man bash; do
    if BROKEN="$broken" python3 "$generator" "$kind" "$fake" --changelog "$scratch/changelog" \
         -o "$scratch/broken.$kind" 2>"$scratch/error.txt"; then
      fail "help_docs.py $kind accepted help it cannot read: $broken"
    fi
    grep -q "$says" "$scratch/error.txt" || fail "help_docs.py $kind: $(cat "$scratch/error.txt")"
    [ ! -e "$scratch/broken.$kind" ] || fail "help_docs.py $kind wrote a file from help it cannot read"
  done
done <<'EOF'
stray text|does not fit the help layout
  --ca FILE:FILE              roots to check the chain with|does not give one placeholder
  --allow-untranslated Needs: --against|does not give one placeholder
EOF
echo "help_docs.py documents a new command, wide option names and long descriptions; refuses unknown layouts"
