#!/usr/bin/env bash
# The MSI under Wine's own msiexec, in a prefix of its own: a silent install registers and
# starts the service as -install would, a package a patch version higher upgrades it in
# place, an older one is refused, and removal leaves no service, file or key behind.
# Usage: msi_scenario.sh BIN_DIR PREFIX VERSION
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$1
prefix=$2
version=$3
# shellcheck source-path=SCRIPTDIR source=../../scripts/lib/wine.sh
. "$root/scripts/lib/wine.sh"
trap 'wine_server_stop "$prefix"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
w() { WINEPREFIX=$prefix timeout 120 "$WINE_LOADER" "$@"; }
answer() { w "$@" 2>/dev/null | tr -d '\r'; }
# msiexec with a full log, whose end is shown when it fails.
msiexec() {
  local status=0
  w msiexec "$@" /qn /l*v 'C:\msiexec.log' || status=$?
  [ "$status" -eq 0 ] || tail -n 25 "$drive/msiexec.log" >&2
  return "$status"
}
svcctl() { answer 'C:\tools\svcctl.exe' "$@"; }
event_source='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Voranexmg'
folder='C:\Program Files\VORANEX\Voranexmg'
# The DisplayVersion of every uninstall entry named as the product is.
installed_versions() {
  answer reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | awk '
    /^HKEY_/ { name = ""; version = "" }
    /DisplayName +REG_SZ +VORANEX QZ Management$/ { name = 1 }
    /DisplayVersion +REG_SZ/ { version = $3 }
    name && version { print version; name = "" }'
}

wine_prefix_create "$prefix"
drive=$prefix/drive_c
mkdir -p "$drive/tools" "$drive/packages/files"
cp "$bin/voranexmg.exe" "$bin/svcctl.exe" "$drive/tools/"
cp "$bin/voranexmg.exe" "$drive/packages/files/"
echo "voranexmg $version" >"$drive/packages/files/README.txt"
next=${version%.*}.$((${version##*.} + 1))
"$root/scripts/build-msi" "$drive/packages/files" "$version" "$drive/packages/old.msi"
"$root/scripts/build-msi" "$drive/packages/files" "$next" "$drive/packages/new.msi"

# What -install registers, to hold the package's registration against.
[ "$(answer 'C:\tools\voranexmg.exe' -install)" = "Install: [Voranexmg] Success" ] \
  || fail "-install"
reference=$(svcctl config Voranexmg)
answer 'C:\tools\voranexmg.exe' -uninstall >/dev/null

msiexec /i 'C:\packages\old.msi' || fail "msiexec /i exited with $?"
w 'C:\tools\svcctl.exe' wait Voranexmg RUNNING 30 || fail "the installed service does not run"
config=$(svcctl config Voranexmg)
[ "$(grep -v '^path ' <<<"$config")" = "$(grep -v '^path ' <<<"$reference")" ] \
  || fail "the package registers the service otherwise than -install:
$config
-install:
$reference"
# Windows Installer writes the path itself; Wine's leaves it unquoted.
grep -qxE "path \"?${folder//\\/\\\\}\\\\voranexmg.exe\"?" <<<"$config" \
  || fail "the service runs from elsewhere: $(grep '^path ' <<<"$config")"
source_values=$(answer reg query "$event_source")
grep -qE "EventMessageFile +REG_EXPAND_SZ +${folder//\\/\\\\}\\\\voranexmg.exe$" <<<"$source_values" \
  && grep -qE 'TypesSupported +REG_DWORD +0x7$' <<<"$source_values" \
  || fail "the event source key holds: $source_values"
[ "$(installed_versions)" = "$version" ] || fail "installed: $(installed_versions)"

old_pid=$(svcctl pid Voranexmg)
msiexec /i 'C:\packages\new.msi' || fail "the upgrade exited with $?"
w 'C:\tools\svcctl.exe' wait Voranexmg RUNNING 30 || fail "the upgraded service does not run"
new_pid=$(svcctl pid Voranexmg)
[ "$new_pid" != "$old_pid" ] || fail "the service was not restarted by the upgrade"
[ "$(installed_versions)" = "$next" ] || fail "after the upgrade, installed: $(installed_versions)"

if msiexec /i 'C:\packages\old.msi' 2>/dev/null; then
  fail "the older package installed over the newer one"
fi
[ "$(installed_versions)" = "$next" ] || fail "after the downgrade, installed: $(installed_versions)"
[ "$(svcctl state Voranexmg)" = RUNNING ] || fail "the refused downgrade stopped the service"

msiexec /x 'C:\packages\new.msi' || fail "msiexec /x exited with $?"
state=$(w 'C:\tools\svcctl.exe' state Voranexmg 2>&1 || true)
grep -q 'OpenServiceW failed: 1060' <<<"$state" || fail "the service is still installed: $state"
[ ! -e "$drive/Program Files/VORANEX/Voranexmg" ] || fail "files are left: $(ls -R "$drive/Program Files/VORANEX")"
if w reg query "$event_source" >/dev/null 2>&1; then fail "the event source key is left"; fi
[ -z "$(installed_versions)" ] || fail "an uninstall entry is left"
# A folder chosen at the first install holds the upgrade too, and the removal finds it.
msiexec /i 'C:\packages\old.msi' 'INSTALLDIR=C:\Elsewhere\Voranexmg' || fail "msiexec /i INSTALLDIR exited with $?"
msiexec /i 'C:\packages\new.msi' || fail "the upgrade in INSTALLDIR exited with $?"
grep -qx 'path "\?C:\\Elsewhere\\Voranexmg\\voranexmg.exe"\?' <<<"$(svcctl config Voranexmg)" \
  || fail "the upgrade left the chosen folder: $(svcctl config Voranexmg | grep '^path ')"
msiexec /x 'C:\packages\new.msi' || fail "msiexec /x of INSTALLDIR exited with $?"
[ ! -e "$drive/Elsewhere/Voranexmg" ] || fail "files are left in the chosen folder"

echo "msi: $version installed, upgraded to $next (service pid $old_pid -> $new_pid), downgrade refused, removed"
