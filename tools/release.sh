#!/usr/bin/env bash
# The release command: builds the 32-bit programs of one product version in the
# release build tree (build/release, shared by every version and apart from the
# presets' trees), with the public half of the signing key built in,
# then the setup program, and writes dist/release/A.B.C.D/:
#
#   slwintool_set_up.exe     the setup program
#   programs/                the three programs it carries
#   winget/                  the winget manifest (version, installer, locales)
#   site/                    the tree to copy to the update site's web root:
#     installer/solberio/search/latestversion.ini
#     installer/solberio/search/A.B.C.D/slwintool_set_up.exe
#     linux/apt/, linux/solberio-archive-keyring.gpg   (with --apt-key)
#   solberio-finder_A.B.C.D_amd64.deb                 (with --apt-key)
#   SHA256SUMS               every other file's SHA-256
#   SHA256SUMS.unsigned      with Authenticode: the same files unsigned
#
#   bash tools/release.sh --version A.B.C.D --signing-key KEY.pem [--site-url URL]
#        [--codesign-cert CERT.pem --codesign-key KEY.pem [--timestamp-url URL]]
#        [--apt-key KEY.asc]
#   bash tools/release.sh --new-key FILE      a new P-256 signing key (PEM)
#
# --codesign-cert/--codesign-key: Authenticode (osslsigncode, SHA-256) for
# every program, the uninstaller and the setup program; the certificate file
# holds the code-signing certificate and its chain, the key is unencrypted
# PEM. --timestamp-url: an RFC 3161 time-stamp server for those signatures.
# --apt-key: an OpenPGP secret key (armored, no passphrase) that signs the
# apt repository of the Linux package.
# The outputs are reproducible: the same commit and version give the same
# unsigned files (SOURCE_DATE_EPOCH is the commit's time).
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
# The .deb's archive members carry the files' modes: one umask for every release.
umask 022
die() { echo "release.sh: $*" >&2; exit 1; }
usage() { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 2; }

version="" key="" site_url="" arch=win32 out="$root/dist/release" new_key=""
codesign_cert="" codesign_key="" timestamp_url="" apt_key=""
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=${2-}; shift 2 || usage ;;
    --signing-key) key=${2-}; shift 2 || usage ;;
    --site-url) site_url=${2-}; shift 2 || usage ;;
    --arch) arch=${2-}; shift 2 || usage ;;
    --out) out=${2-}; shift 2 || usage ;;
    --new-key) new_key=${2-}; shift 2 || usage ;;
    --codesign-cert) codesign_cert=${2-}; shift 2 || usage ;;
    --codesign-key) codesign_key=${2-}; shift 2 || usage ;;
    --timestamp-url) timestamp_url=${2-}; shift 2 || usage ;;
    --apt-key) apt_key=${2-}; shift 2 || usage ;;
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

if [ -n "$codesign_cert$codesign_key$timestamp_url" ]; then
  [ -n "$codesign_cert" ] && [ -n "$codesign_key" ] ||
    die "Authenticode needs both --codesign-cert CERT.pem and --codesign-key KEY.pem"
  need osslsigncode "package osslsigncode"
  for file in "$codesign_cert" "$codesign_key"; do
    [ -r "$file" ] || die "cannot read $file"
    outside_repo "$file"
  done
  openssl x509 -in "$codesign_cert" -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' ||
    die "$codesign_cert is no code-signing certificate (PEM, extended key usage codeSigning)"
  [ "$(openssl x509 -in "$codesign_cert" -noout -pubkey 2>/dev/null)" = \
    "$(openssl pkey -in "$codesign_key" -pubout 2>/dev/null)" ] ||
    die "$codesign_key is not the private key of $codesign_cert (or not unencrypted PEM)"
  [ -z "$timestamp_url" ] || [[ $timestamp_url =~ ^https?://[^[:space:]]+$ ]] ||
    die "malformed --timestamp-url '$timestamp_url'"
fi
if [ -n "$apt_key" ]; then
  [ -r "$apt_key" ] || die "cannot read the apt key $apt_key"
  outside_repo "$apt_key"
  need gpg "package gpg"
  need apt-ftparchive "package apt-utils"
  need cpack "package cmake"
fi

# Reproducible outputs: every time stamp is the commit's time.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) ||
    die "no git commit to take the release time from (or set SOURCE_DATE_EPOCH)"
fi
export SOURCE_DATE_EPOCH
[ -z "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ] ||
  echo "release.sh: note: the work tree has uncommitted changes; this release is not of commit $(git -C "$root" rev-parse --short HEAD)" >&2

case $arch in
  win32) toolchain=cmake/toolchain-mingw-i686.cmake compiler=i686-w64-mingw32-g++ tree="$root/build/release" winget_arch=x86 ;;
  win64) toolchain=cmake/toolchain-mingw-x86_64.cmake compiler=x86_64-w64-mingw32-g++ tree="$root/build/release-win64" winget_arch=x64 ;;
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
step "build the programs" \
  cmake --build "$tree" -j "$(nproc)" --target sl_finder Updater Quenlow

programs=("ソルベリオ Windows Tool.exe" Updater.exe Quenlow.exe)
# The setup program records the programs' times: the commit's.
mkdir -p "$stage/unsigned/programs" "$stage/v/programs" "$stage/v/site/$object/$version"
for program in "${programs[@]}"; do
  cp "$tree/dist/$program" "$stage/unsigned/programs/" || die "missing $tree/dist/$program"
  touch -d "@$SOURCE_DATE_EPOCH" "$stage/unsigned/programs/$program"
done
nsis_defines=(-DVERSION="$version" -DOUTFILE=slwintool_set_up.exe)
[ "$arch" = win32 ] || nsis_defines+=(-DTARGET_AMD64)
# makensis writes the setup program into the folder it runs in.
setup_program() {
  (cd "$1" && makensis -V2 -NOCD "${nsis_defines[@]}" -DPROGRAMS="$1/programs" "${@:2}" \
    "$root/installer/slwintool_set_up.nsi")
}
step "build the setup program" setup_program "$stage/unsigned"
if [ -n "$codesign_cert" ]; then
  export SL_CODESIGN_CERT="$codesign_cert" SL_CODESIGN_KEY="$codesign_key" SL_TIMESTAMP_URL="$timestamp_url"
  for program in "${programs[@]}"; do
    cp -p "$stage/unsigned/programs/$program" "$stage/v/programs/"
    step "Authenticode: $program" "$root/tools/codesign.sh" "$stage/v/programs/$program"
  done
  step "Authenticode: the uninstaller and the setup program" \
    setup_program "$stage/v" -DCODESIGN="$root/tools/codesign.sh"
else
  echo "-- no Authenticode (no --codesign-cert/--codesign-key): the programs and the setup program are unsigned"
  cp -p "$stage/unsigned/programs/"* "$stage/v/programs/"
  cp -p "$stage/unsigned/slwintool_set_up.exe" "$stage/v/"
fi
setup="$stage/v/slwintool_set_up.exe"
[ -s "$setup" ] || die "makensis made no setup program"
cp -p "$setup" "$stage/v/site/$object/$version/slwintool_set_up.exe"

echo "-- sign the version file"
ini="$stage/v/site/$object/latestversion.ini"
hash=$(sha256sum "$setup" | cut -d' ' -f1)
printf 'LatestVersion=%s\nURL=%s\nSHA256=%s\n' "$version" "$installer_url" "$hash" >"$ini"
openssl dgst -sha256 -sign "$key" -out "$stage/sig.der" "$ini" 2>>"$log" || die "signing failed"
openssl pkey -in "$key" -pubout -out "$stage/pub.pem" 2>>"$log" &&
  openssl dgst -sha256 -verify "$stage/pub.pem" -signature "$stage/sig.der" "$ini" >>"$log" 2>&1 ||
  die "the signature does not verify"
printf 'Signature=%s\n' "$(base64 -w0 "$stage/sig.der")" >>"$ini"

echo "-- winget manifest"
bash "$root/tools/winget_manifest.sh" "$stage/v/winget" "$version" "$winget_arch" "$installer_url" "$hash"

if [ -n "$apt_key" ]; then
  linux_tree="$root/build/release-linux"
  step "configure $linux_tree" cmake -S "$root" -B "$linux_tree" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DSL_PRODUCT_VERSION="$version" -DSL_BUILD_TESTS=OFF \
    -DSL_DIST_DIR="$linux_tree/dist"
  step "build the Linux programs" \
    cmake --build "$linux_tree" -j "$(nproc)" --target solberio-finder slfind sl_package_files
  deb="solberio-finder_${version}_amd64.deb"
  rm -f "$linux_tree/dist/$deb"
  step "the Debian package" bash -c 'cd "$1" && cpack -G DEB' _ "$linux_tree"
  cp -p "$linux_tree/dist/$deb" "$stage/v/$deb" || die "cpack made no $deb"
  step "the apt repository" bash "$root/tools/apt_repo.sh" "$stage/v/site/linux" "$stage/v/$deb" "$apt_key"
fi

# The sums of every file, names relative to the release folder, in one order.
sums() { (cd "$1" && find . -type f ! -name 'SHA256SUMS*' -printf '%P\n' | LC_ALL=C sort |
  while IFS= read -r f; do sha256sum -- "$f"; done); }
sums "$stage/v" >"$stage/v/SHA256SUMS"
if [ -n "$codesign_cert" ]; then
  # The same release as it is without Authenticode: what a rebuild without
  # the certificate gives, file for file.
  { (cd "$stage/unsigned" && for f in programs/* slwintool_set_up.exe; do sha256sum -- "$f"; done)
    [ -z "$apt_key" ] || (cd "$stage/v" && sha256sum -- "$deb"); } |
    LC_ALL=C sort -k2 >"$stage/v/SHA256SUMS.unsigned"
fi

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
