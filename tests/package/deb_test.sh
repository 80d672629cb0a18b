#!/bin/sh
# The Debian package as an admin installs it: built with CPack from this build, unpacked into
# a scratch root (dpkg -x), and the installed kovsea packs and verifies with the stub it
# finds in ../share/kovsea, without being told where it is.
#   deb_test.sh BUILD_DIR
set -eu
build=$1
scratch=$(mktemp -d /tmp/kovsea-deb-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch/packages" >/dev/null)
deb=$(ls "$scratch"/packages/kovsea_*.deb)
dpkg-deb -f "$deb" Package Version Depends
dpkg -x "$deb" "$scratch/root"
kovsea=$scratch/root/usr/bin/kovsea
stub=$scratch/root/usr/share/kovsea/kovsea-stub.exe
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
