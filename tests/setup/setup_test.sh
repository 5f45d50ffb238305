#!/usr/bin/env bash
# tools/setup.sh against a stand-in apt-get (and stand-in dpkg tools, so that
# every package counts as missing): a mirror in sync that fails
# `apt-get update` twice and then serves it, one that fails it for good, and
# a package that cannot be installed. Nothing on the machine is installed or
# changed; the stand-ins only record what they were asked.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# The script appends the locale to /etc/locale.gen when it is missing there;
# on a machine set up already (the test command's) it is there.
if ! grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root and a machine set up by tools/setup.sh"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stubs=$work/bin
mkdir -p "$stubs"

# apt-get: `update` fails while $work/update-failures holds a count above 0
# (the index of a mirror in sync), `install` refuses $SL_STUB_REFUSE.
cat >"$stubs/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "$*" >>"$STUB_DIR/apt-get.calls"
case "$1" in
  update)
    left=$(cat "$STUB_DIR/update-failures")
    if [ "$left" -gt 0 ]; then
      echo $((left - 1)) >"$STUB_DIR/update-failures"
      echo "Err:5 http://deb.example/debian-security bookworm-security/main i386 Packages"
      echo "  File has unexpected size (48230 != 48101). Mirror sync in progress? [IP: 198.51.100.7 80]"
      echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (48230 != 48101). Mirror sync in progress? [IP: 198.51.100.7 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi
    echo "Reading package lists..." ;;
  install)
    for arg in "$@"; do
      if [ -n "${SL_STUB_REFUSE:-}" ] && [ "$arg" = "$SL_STUB_REFUSE" ]; then
        echo "E: Unable to locate package $arg" >&2
        exit 100
      fi
    done ;;
esac
EOF
printf '#!/bin/sh\nexit 1\n' >"$stubs/dpkg-query"
printf '#!/bin/sh\necho i386\n' >"$stubs/dpkg"
printf '#!/bin/sh\necho ja_JP.utf8\n' >"$stubs/locale"
for quiet in locale-gen systemctl pkill; do printf '#!/bin/sh\nexit 0\n' >"$stubs/$quiet"; done
chmod +x "$stubs"/*

failures=0
# check NAME FAILED_UPDATES REFUSED EXPECTED_RC EXPECTED_UPDATES PATTERN...
check() {
  local name=$1 update_failures=$2 refuse=$3 expected_rc=$4 expected_updates=$5
  shift 5
  echo "$update_failures" >"$work/update-failures"
  rm -f "$work/apt-get.calls"
  local out rc updates pattern
  out=$(PATH="$stubs:$PATH" STUB_DIR=$work SL_STUB_REFUSE=$refuse SL_APT_RETRY_PAUSE=0 \
    bash "$root/tools/setup.sh" 2>&1)
  rc=$?
  updates=$(grep -c '^update' "$work/apt-get.calls")
  if [ "$rc" -ne "$expected_rc" ] || [ "$updates" -ne "$expected_updates" ]; then
    echo "FAIL $name: exit $rc (want $expected_rc), $updates updates (want $expected_updates)"
    echo "$out"
    failures=$((failures + 1))
    return
  fi
  for pattern in "$@"; do
    if ! grep -qF -- "$pattern" <<<"$out"; then
      echo "FAIL $name: no line with \"$pattern\" in"
      echo "$out"
      failures=$((failures + 1))
      return
    fi
  done
  echo "ok   $name"
}

check "mirror whole again at the third try" 2 "" 0 3 \
  "apt-get update failed (try 2 of 3)" "setup: done"
check "index still failing: names it and goes on" 5 "" 0 3 \
  "could not be read" "bookworm-security/main/binary-i386/Packages.xz" "setup: done"
check "a package refused: names it and fails" 0 nsis 1 1 \
  "these packages could not be installed: nsis"
check "32-bit Wine refused: says so and goes on" 0 wine32:i386 0 1 \
  "these packages could not be installed: wine32:i386" \
  "without 32-bit Wine the Windows suites run the 64-bit build" "setup: done"

[ "$failures" -eq 0 ]
