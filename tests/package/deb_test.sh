#!/usr/bin/env bash
# The Debian package as an admin installs it: built with CPack from this build, passed by
# lintian, unpacked into a scratch root (dpkg -x), and the installed kovsea packs and
# verifies with the stub it finds in ../share/kovsea, without being told where it is. Its
# manual page and bash completion, found where man and bash-completion look, say what its
# --help says.
#   deb_test.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/completion.bash"
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in lintian man; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/bootstrap installs it)"
done
[ -f /usr/share/bash-completion/bash_completion ] ||
  fail "bash-completion is not installed (scripts/bootstrap installs it)"
scratch=$(mktemp -d /tmp/kovsea-deb-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch/packages" >/dev/null)
deb=$(ls "$scratch"/packages/kovsea_*.deb)
dpkg-deb -f "$deb" Package Version Depends Recommends
# cpack escapes some description sources for XML; the control file must hold plain text.
if dpkg-deb -f "$deb" Description | grep -E '&[a-z]+;|&#[0-9]+;'; then
  fail "the package description holds XML entities"
fi

# lintian: no error and no warning. The only way past one is an override in the package's
# overrides file, with a comment above it saying why.
lintian --fail-on error,warning --display-info "$deb" >"$scratch/lintian.txt" 2>&1 || status=$?
grep -v 'running with root privileges' "$scratch/lintian.txt" || true
[ "${status:-0}" -eq 0 ] || fail "lintian exited with ${status}"
! grep -q '^[EW]: ' "$scratch/lintian.txt" || fail "lintian reports errors or warnings"

dpkg -x "$deb" "$scratch/root"
root=$scratch/root
overrides=$root/usr/share/lintian/overrides/kovsea
if [ -f "$overrides" ]; then
  awk '/^#/ { reason = 1; next } /^[[:space:]]*$/ { reason = 0; next }
       !reason { print "override without a reason: " $0; bad = 1 } END { exit bad }' "$overrides" ||
    fail "every lintian override needs a comment giving its reason"
fi

# The admin's documents, where Debian keeps a package's documentation; deploying.md links
# to json.md beside it.
for doc in README.md deploying.md json.md; do
  [ -s "$root/usr/share/doc/kovsea/$doc" ] || fail "the package has no /usr/share/doc/kovsea/$doc"
done

kovsea=$root/usr/bin/kovsea
stub=$root/usr/share/kovsea/kovsea-stub.exe
test -x "$kovsea"
test -f "$stub"
mkdir -p "$scratch/tree/Disk1"
printf 'MZ stand-in installer' >"$scratch/tree/Disk1/Setup.exe"
printf 'payload' >"$scratch/tree/Disk1/data1.cab"
env -u KOVSEA_STUB "$kovsea" pack -o "$scratch/product.exe" "$scratch/tree"
env -u KOVSEA_STUB "$kovsea" verify "$scratch/product.exe"
# The stub part of the packed file is the installed stub, byte for byte.
expected=$(sha256sum "$stub" | cut -d' ' -f1)
"$kovsea" list --json "$scratch/product.exe" | grep -q "\"stub_sha256\": \"$expected\""
echo "installed kovsea packed with its installed stub ($expected)"

# The commands as the installed kovsea lists them: the documents must cover each one.
"$kovsea" --help >"$scratch/help.txt"
mapfile -t commands < <(help_commands <"$scratch/help.txt")
[ ${#commands[@]} -gt 0 ] || fail "kovsea --help lists no commands"

# The manual page: man renders it without a warning, with a section for every command
# that names each of the command's options.
page=$root/usr/share/man/man1/kovsea.1.gz
MANWIDTH=80 man --warnings=w -l "$page" >"$scratch/man.txt" 2>"$scratch/man-warnings.txt"
[ ! -s "$scratch/man-warnings.txt" ] || { cat "$scratch/man-warnings.txt" >&2; fail "man warns about kovsea.1"; }
zcat "$page" | groff -man -Tutf8 -ww -z 2>"$scratch/groff-warnings.txt"
[ ! -s "$scratch/groff-warnings.txt" ] || { cat "$scratch/groff-warnings.txt" >&2; fail "groff warns about kovsea.1"; }
for command in "${commands[@]}"; do
  awk -v heading="   kovsea $command" '$0 == heading { on = 1; next } /^   kovsea |^[A-Z]/ { on = 0 } on' \
    "$scratch/man.txt" >"$scratch/man-$command.txt"
  [ -s "$scratch/man-$command.txt" ] || fail "kovsea(1) has no section for $command"
  for option in $("$kovsea" "$command" --help | help_options); do
    [ "$option" = --help ] && continue
    grep -q -- "$option" "$scratch/man-$command.txt" || fail "kovsea(1) does not name $command $option"
  done
done
for heading in EXAMPLES "SEE ALSO"; do
  grep -qx "$heading" "$scratch/man.txt" || fail "kovsea(1) has no $heading section"
done
echo "kovsea(1) renders without warnings and documents: ${commands[*]}"

# The completion, loaded by bash-completion from the scratch root as it loads it from /usr:
# `kovsea ` offers exactly the commands, `kovsea COMMAND --` exactly that command's options,
# a file option's value is a path and a number's is nothing.
export here root scratch kovsea
export commands_list="${commands[*]}"
bash --norc --noprofile -c '
  set -euo pipefail
  . "$here/completion.bash"
  fail() { echo "FAIL: $*" >&2; exit 1; }
  export XDG_DATA_DIRS=$root/usr/share BASH_COMPLETION_USER_DIR=$scratch/no-user-completions
  . /usr/share/bash-completion/bash_completion
  __load_completion kovsea || fail "bash-completion finds no completion for kovsea"
  function=$(complete -p kovsea | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
  shopt -s extdebug
  source_file=$(declare -F "$function" | cut -d" " -f3-)
  [ "$source_file" = "$root/usr/share/bash-completion/completions/kovsea" ] ||
    fail "kovsea completion came from $source_file"
  shopt -u extdebug
  [ "$(completions kovsea "")" = "$(tr " " "\n" <<<"$commands_list" | sort)" ] ||
    fail "kovsea <TAB> offers: $(completions kovsea "" | tr "\n" " ")"
  for command in $commands_list; do
    expected=$("$kovsea" "$command" --help | help_options)
    [ "$(completions kovsea "$command" --)" = "$expected" ] ||
      fail "kovsea $command --<TAB> offers: $(completions kovsea "$command" -- | tr "\n" " ")"
  done
  cd "$scratch/tree"
  [ "$(completions kovsea pack --icon Di)" = Disk1 ] || fail "kovsea pack --icon offers no path"
  [ -z "$(completions kovsea pack --temp-length "")" ] || fail "kovsea pack --temp-length offers paths"
  # A flag takes no value: what follows it is the next option.
  [ "$(completions kovsea verify --allow-untranslated --j)" = --json ] ||
    fail "kovsea verify --allow-untranslated --j<TAB> offers: $(completions kovsea verify --allow-untranslated --j)"
  [ "$(completions kovsea pack --codepage 125 | tr "\n" " ")" = "1250 1251 1252 1253 1254 1255 1256 1257 1258 " ] ||
    fail "kovsea pack --codepage 125<TAB> offers: $(completions kovsea pack --codepage 125 | tr "\n" " ")"
  [ -z "$(completions kovsea install x.exe --timeout "")" ] || fail "kovsea install --timeout offers paths"
  cd "$scratch"
  [ "$(completions kovsea extract x.exe -o p)" = packages ] ||
    fail "kovsea extract -o p<TAB> offers: $(completions kovsea extract x.exe -o p | tr "\n" " ")"
'
echo "bash completion offers every command and each command's options"
