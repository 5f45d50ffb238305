#!/usr/bin/env bash
# The winget multi-file manifest of one release (manifest version 1.6.0),
# written by the release command:
#
#   tools/winget_manifest.sh DIR VERSION ARCH INSTALLER_URL INSTALLER_SHA256
#
# DIR gets Solberio.WindowsTool.yaml (version), .installer.yaml and the
# locales ja-JP (the default) and en-US. ARCH is x86 (the release) or x64.
set -euo pipefail

dir=${1:?usage: winget_manifest.sh DIR VERSION ARCH URL SHA256}
version=${2:?} arch=${3:?} url=${4:?} sha=${5:?}
id=Solberio.WindowsTool
name="ソルベリオ Windows Tool"
schema=https://aka.ms/winget-manifest
mkdir -p "$dir"

begin() {
  printf '# yaml-language-server: $schema=%s.%s.1.6.0.schema.json\n\n' "$schema" "$1"
  printf 'PackageIdentifier: %s\nPackageVersion: %s\n' "$id" "$version"
}
end() { printf 'ManifestType: %s\nManifestVersion: 1.6.0\n' "$1"; }

{ begin version; echo "DefaultLocale: ja-JP"; end version; } >"$dir/$id.yaml"

{
  begin installer
  cat <<YAML
InstallerType: nullsoft
Scope: machine
InstallModes:
- interactive
- silent
- silentWithProgress
InstallerSwitches:
  Silent: /S
  SilentWithProgress: /S
  InstallLocation: /D=<INSTALLPATH>
UpgradeBehavior: install
ProductCode: SolberioWindowsTool
ElevationRequirement: elevatesSelf
AppsAndFeaturesEntries:
- DisplayName: $name
  Publisher: Solberio
  DisplayVersion: '$version'
  ProductCode: SolberioWindowsTool
Installers:
- Architecture: $arch
  InstallerUrl: $url
  InstallerSha256: '${sha^^}'
YAML
  end installer
} >"$dir/$id.installer.yaml"

locale() { # LOCALE TYPE SHORT DESCRIPTION
  begin "$2"
  cat <<YAML
PackageLocale: $1
Publisher: Solberio
PackageName: $name
License: Proprietary
ShortDescription: $3
Description: $4
YAML
  end "$2"
}
locale ja-JP defaultLocale "ネットワーク上のソルベリオ ストレージを見つけ、設定画面を開くツール" \
  "ローカル ネットワーク上のソルベリオ ストレージを見つけて一覧にし、選んだ機器の設定画面をブラウザーで開きます。Updater が新しいバージョンを確認します。" \
  >"$dir/$id.locale.ja-JP.yaml"
locale en-US locale "Finds Solberio storage devices on the local network and opens their setup page" \
  "Lists the Solberio storage devices on the local network and opens the chosen device's web setup page in the browser. The Updater keeps the tool set current." \
  >"$dir/$id.locale.en-US.yaml"
