#!/usr/bin/env bash
# The release command: builds the 32-bit programs of one product version in the
# release build tree (build/release, shared by every version and apart from the
# presets' trees), with the public half of the signing key built in,
# then the setup program, and writes dist/release/A.B.C.D/:
#
#   slwintool_set_up.exe     the setup program
#   programs/                the three programs it carries
#   site/                    the tree to copy to the update site's web root:
#     installer/solberio/search/latestversion.ini
#     installer/solberio/search/A.B.C.D/slwintool_set_up.exe
#
#   bash tools/release.sh --version A.B.C.D --signing-key KEY.pem [--site-url URL]
#   bash tools/release.sh --new-key FILE      a new P-256 signing key (PEM)
#
# --site-url: where the site tree is served (default: the host of the
# programs' built-in update-site URL); the version file's URL points there.
# The version file has four lines, LF line ends: LatestVersion=, URL=,
# SHA256= (the setup program's SHA-256) and Signature= (base64 of the ECDSA
# P-256/SHA-256 signature in DER over every byte before that line).
# Keep signing keys outside the repository.
#
# For tests: --arch win64 builds the 64-bit programs and setup program of the
# same sources, and --out DIR writes DIR/A.B.C.D instead of dist/release.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
die() { echo "release.sh: $*" >&2; exit 1; }
usage() { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 2; }

version="" key="" site_url="" arch=win32 out="$root/dist/release" new_key=""
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=${2-}; shift 2 || usage ;;
    --signing-key) key=${2-}; shift 2 || usage ;;
    --site-url) site_url=${2-}; shift 2 || usage ;;
    --arch) arch=${2-}; shift 2 || usage ;;
    --out) out=${2-}; shift 2 || usage ;;
    --new-key) new_key=${2-}; shift 2 || usage ;;
    -h | --help) usage ;;
    *) die "unknown argument '$1' (see --help)" ;;
  esac
done

need() { command -v "$1" >/dev/null 2>&1 || die "missing tool '$1' ($2): run bash tools/setup.sh"; }
need openssl "package openssl"

# Refuses a key path inside the repository: a key there is one 'git add' from
# being published.
outside_repo() {
  local dir
  dir=$(cd "$(dirname "$1")" 2>/dev/null && pwd -P) || die "no folder for the key file '$1'"
  case "$dir/" in
    "$(cd "$root" && pwd -P)/"*) die "keep signing keys outside the repository (not $1)" ;;
  esac
}

if [ -n "$new_key" ]; then
  [ -z "$version" ] || die "--new-key makes a key only; run the release separately"
  [ ! -e "$new_key" ] || die "$new_key exists already; not overwriting a key"
  outside_repo "$new_key"
  (umask 077 && openssl ecparam -name prime256v1 -genkey -noout -out "$new_key") ||
    die "openssl could not make the key"
  echo "signing key: $new_key (P-256, PEM; keep it private and outside the repository)"
  exit 0
fi

[ -n "$version" ] || die "--version A.B.C.D is required (see --help)"
[[ $version =~ ^(0|[1-9][0-9]{0,4})(\.(0|[1-9][0-9]{0,4})){3}$ ]] ||
  die "malformed version '$version': four numbers 0-65535 joined by dots, like 1.0.0.1"
IFS=. read -r -a parts <<<"$version"
for part in "${parts[@]}"; do
  [ "$part" -le 65535 ] || die "malformed version '$version': $part is above 65535"
done
[ -n "$key" ] ||
  die "--signing-key KEY.pem is required: every release is signed (make a key once with: bash tools/release.sh --new-key FILE, outside the repository)"
[ -r "$key" ] || die "cannot read the signing key $key"
outside_repo "$key"
openssl pkey -in "$key" -noout -text 2>/dev/null | grep -q 'prime256v1' ||
  die "$key is not a P-256 private key in PEM (make one with --new-key)"

case $arch in
  win32) toolchain=cmake/toolchain-mingw-i686.cmake compiler=i686-w64-mingw32-g++ tree="$root/build/release" ;;
  win64) toolchain=cmake/toolchain-mingw-x86_64.cmake compiler=x86_64-w64-mingw32-g++ tree="$root/build/release-win64" ;;
  *) die "--arch is win32 (the release) or win64 (tests)" ;;
esac
need cmake "package cmake"
need ninja "package ninja-build"
need makensis "package nsis"
need "$compiler" "package g++-mingw-w64"
need sha256sum "package coreutils"
need base64 "package coreutils"

if [ -z "$site_url" ]; then
  host=$(sed -n 's/^set(SL_UPDATE_HOST "\([^"]*\)".*/\1/p' "$root/CMakeLists.txt")
  [ -n "$host" ] || die "cannot read the default update-site host from CMakeLists.txt"
  site_url="http://$host"
fi
[[ $site_url =~ ^http://[^/[:space:]]+(/[^[:space:]]*)?$ ]] ||
  die "malformed --site-url '$site_url': http://HOST[/PATH]"
site_url=${site_url%/}
object="installer/solberio/search"
installer_url="$site_url/$object/$version/slwintool_set_up.exe"

# Everything is written into a staging folder beside the release folder and
# moved into place at the end: a failed step leaves no release folder.
mkdir -p "$out" || die "cannot make $out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d "$out/.staging-$version.XXXXXX") || die "cannot write to $out"
trap 'rm -rf "$stage"' EXIT
trap 'exit 1' INT TERM
log="$stage/build.log"
step() {
  local what=$1; shift
  echo "-- $what"
  "$@" >>"$log" 2>&1 || { tail -n 30 "$log" >&2; die "$what failed (log above)"; }
}

# One tree per kind serves every version: another version recompiles only
# what includes the version header (the resources name it as a dependency,
# since windres reports none).
mkdir -p "$tree"
# Rewritten only when the key changed, so that an unchanged key rebuilds nothing.
public_key="$tree/update_public_key.der"
step "public key" openssl pkey -in "$key" -pubout -outform DER -out "$stage/public_key.der"
cmp -s "$stage/public_key.der" "$public_key" || cp "$stage/public_key.der" "$public_key"
step "configure $tree" cmake -S "$root" -B "$tree" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DSL_PRODUCT_VERSION="$version" -DSL_BUILD_TESTS=OFF -DSL_DIST_DIR="$tree/dist" \
  -DSL_UPDATE_PUBLIC_KEY="$public_key"
step "build the programs and the setup program" \
  cmake --build "$tree" -j "$(nproc)" --target sl_setup
setup="$tree/bin/slwintool_set_up.exe"
[ -s "$setup" ] || die "the build made no $setup"

mkdir -p "$stage/v/programs" "$stage/v/site/$object/$version"
for program in "ソルベリオ Windows Tool.exe" Updater.exe Quenlow.exe; do
  cp "$tree/dist/$program" "$stage/v/programs/" || die "missing $tree/dist/$program"
done
cp "$setup" "$stage/v/slwintool_set_up.exe"
cp "$setup" "$stage/v/site/$object/$version/slwintool_set_up.exe"

echo "-- sign the version file"
ini="$stage/v/site/$object/latestversion.ini"
hash=$(sha256sum "$setup" | cut -d' ' -f1)
printf 'LatestVersion=%s\nURL=%s\nSHA256=%s\n' "$version" "$installer_url" "$hash" >"$ini"
openssl dgst -sha256 -sign "$key" -out "$stage/sig.der" "$ini" 2>>"$log" || die "signing failed"
openssl pkey -in "$key" -pubout -out "$stage/pub.pem" 2>>"$log" &&
  openssl dgst -sha256 -verify "$stage/pub.pem" -signature "$stage/sig.der" "$ini" >>"$log" 2>&1 ||
  die "the signature does not verify"
printf 'Signature=%s\n' "$(base64 -w0 "$stage/sig.der")" >>"$ini"

final="$out/$version"
if [ -e "$final" ]; then
  mv "$final" "$stage/previous" || die "cannot replace $final"
fi
if ! mv "$stage/v" "$final"; then
  [ ! -e "$stage/previous" ] || mv "$stage/previous" "$final"
  die "cannot move the release to $final"
fi
echo "release $version ($arch): $final"
echo "  setup program: $final/slwintool_set_up.exe ($(stat -c %s "$final/slwintool_set_up.exe") bytes)"
echo "  site tree:     $final/site (version file URL=$installer_url)"
