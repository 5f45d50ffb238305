#!/usr/bin/env bash
# Rebuilds one release in two fresh clones of a commit at different paths
# (the second with another umask and time zone) and compares what they give:
#
#   bash tools/repro_check.sh [--commit REV] [--version A.B.C.D] [--arch win32|win64]
#
# Clone A makes the release with Authenticode and the apt repository (keys
# made for this check), clone B without Authenticode. B's programs, setup
# program and .deb must equal A's SHA256SUMS.unsigned, and the apt
# repository's unsigned files (Packages, Release, the pool, the keyring)
# must be the same in both. The signatures (the version file's Signature=,
# Authenticode, InRelease and Release.gpg) differ by design: ECDSA and
# OpenPGP signatures carry a random nonce or their own time. Prints the time
# it took; exits non-zero on any difference.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
commit=HEAD version=1.0.0.1 arch=win32
while [ $# -gt 0 ]; do
  case $1 in
    --commit) commit=${2:?}; shift 2 ;;
    --version) version=${2:?}; shift 2 ;;
    --arch) arch=${2:?}; shift 2 ;;
    *) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 2 ;;
  esac
done
commit=$(git -C "$root" rev-parse --verify "$commit^{commit}")
start=$(date +%s)
work=$(mktemp -d /tmp/slrepro.XXXXXX)
trap 'rm -rf "$work"' EXIT
keys="$work/keys"
bash "$root/tests/harness/test_pki.sh" "$keys"
bash "$root/tools/release.sh" --new-key "$keys/update.pem" >/dev/null

build() { # CLONE OUT [release options]
  local src=$1 out=$2; shift 2
  git clone --quiet --no-local "$root" "$src"
  git -C "$src" checkout --quiet --detach "$commit"
  (cd "$src" && nice -n 5 bash tools/release.sh --version "$version" --arch "$arch" \
    --signing-key "$keys/update.pem" --apt-key "$keys/apt.asc" --out "$out" "$@") >"$out.log" 2>&1 ||
    { tail -n 20 "$out.log" >&2; echo "repro_check.sh: the release in $src failed" >&2; exit 1; }
}
echo "-- release A: $work/a/src (Authenticode)"
build "$work/a/src" "$work/a/out" --codesign-cert "$keys/codesign.pem" --codesign-key "$keys/codesign.key"
echo "-- release B: $work/b/another/path/src (umask 002, TZ=Pacific/Kiritimati)"
(umask 002 && TZ=Pacific/Kiritimati build "$work/b/another/path/src" "$work/b/out")

a="$work/a/out/$version" b="$work/b/out/$version"
# B's sums of the files A lists unsigned, and the unsigned apt files of both.
awk 'NR == FNR { want[substr($0, 67)]; next } substr($0, 67) in want' "$a/SHA256SUMS.unsigned" \
  "$b/SHA256SUMS" | LC_ALL=C sort -k2 >"$work/b.unsigned"
apt_files() { grep ' site/linux/' "$1/SHA256SUMS" | grep -v -e '/InRelease$' -e '/Release.gpg$'; }
status=0
diff -u <(LC_ALL=C sort -k2 "$a/SHA256SUMS.unsigned") "$work/b.unsigned" || status=1
diff -u <(apt_files "$a") <(apt_files "$b") || status=1
[ "$(wc -l <"$work/b.unsigned")" -ge 5 ] || { echo "repro_check.sh: too few files compared" >&2; status=1; }
echo "-- compared: $(wc -l <"$work/b.unsigned") unsigned files, $(apt_files "$a" | wc -l) apt repository files"
echo "-- $(( $(date +%s) - start )) s"
if [ $status -ne 0 ]; then
  echo "repro_check.sh: the two releases of $commit differ" >&2
  exit 1
fi
echo "reproducible: release $version of $(git -C "$root" rev-parse --short "$commit")"
