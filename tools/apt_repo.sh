#!/usr/bin/env bash
# The apt repository of the Linux package, written by the release command:
#
#   tools/apt_repo.sh DIR PACKAGE.deb KEY.asc
#
# DIR/apt/ gets pool/main/s/solberio-finder/PACKAGE.deb and
# dists/stable/{Release,InRelease,Release.gpg} with
# dists/stable/main/binary-amd64/Packages (apt-ftparchive), signed with the
# OpenPGP secret key KEY.asc (armored, no passphrase); DIR gets
# solberio-archive-keyring.gpg, its public key. Release's Date is
# SOURCE_DATE_EPOCH when set.
set -euo pipefail

dir=${1:?usage: apt_repo.sh DIR PACKAGE.deb KEY.asc}
deb=${2:?} key=${3:?}
repo="$dir/apt"
pool="pool/main/s/solberio-finder"
mkdir -p "$repo/$pool" "$repo/dists/stable/main/binary-amd64"
cp -p "$deb" "$repo/$pool/"

# A keyring of this run only; its agent ends with it.
GNUPGHOME=$(mktemp -d /tmp/slapt.XXXXXX)
export GNUPGHOME
trap 'gpgconf --kill gpg-agent 2>/dev/null; rm -rf "$GNUPGHOME"' EXIT
gpg --batch --quiet --import "$key"
fpr=$(gpg --batch --with-colons --list-secret-keys | awk -F: '$1 == "fpr" { print $10; exit }')
[ -n "$fpr" ] || { echo "apt_repo.sh: $key holds no secret key" >&2; exit 1; }
gpg --batch --export "$fpr" >"$dir/solberio-archive-keyring.gpg"

cd "$repo"
apt-ftparchive packages pool >dists/stable/main/binary-amd64/Packages
release=(-o APT::FTPArchive::Release::Origin=Solberio -o APT::FTPArchive::Release::Label=Solberio
  -o APT::FTPArchive::Release::Suite=stable -o APT::FTPArchive::Release::Codename=stable
  -o APT::FTPArchive::Release::Architectures=amd64 -o APT::FTPArchive::Release::Components=main
  -o "APT::FTPArchive::Release::Description=Solberio finder for Linux")
apt-ftparchive "${release[@]}" release dists/stable >Release.new
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  date=$(LC_ALL=C date -u -d "@$SOURCE_DATE_EPOCH" '+%a, %d %b %Y %H:%M:%S UTC')
  sed -i "s/^Date: .*/Date: $date/" Release.new
fi
mv Release.new dists/stable/Release
gpg --batch --yes --local-user "$fpr" --digest-algo SHA512 --clearsign \
  -o dists/stable/InRelease dists/stable/Release
gpg --batch --yes --local-user "$fpr" --digest-algo SHA512 --armor --detach-sign \
  -o dists/stable/Release.gpg dists/stable/Release
