#!/usr/bin/env bash
# The installer under Wine, as a user or an administrator would run it:
#   - refused, with nothing installed, when Windows says it is older than Windows 7;
#   - a silent install (/S /D=folder) into a temporary folder whose name has a space: only files
#     named as ours, a settings file the Users group may change (taken from the user's
#     VirtualStore where a legacy viewer left it), the language kept;
#   - the bundled host loads the installed DLL, opens its tool window and saves its settings;
#   - a second install is refused while the running host holds the DLL;
#   - an install into another folder removes the first copy (its settings stay) and moves the entry;
#   - an older version over a newer one is refused with status 4;
#   - a silent uninstall removes the files, the Programs and Features entry, the keys and the
#     folders the install made once they are empty, and keeps the settings file.
# Needs an X display (scripts/test runs it under xvfb-run). Where this kernel cannot start 32-bit
# programs, the same installer script is built for x86-64 around the win64 DLL and tested with
# the win64 host; the released installer stays the 32-bit one.
# usage: tests/release/install_test.sh   (after scripts/release and the win32 or win64 build)
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env
wine_prefix release

fail=0
problem() { echo "install test: $*"; fail=1; }
header=build/native-release/generated/lineview_version.h
version="$(sed -n 's/^#define LINEVIEW_VERSION_TEXT "\(.*\)"$/\1/p' "$header")"
tmp="$(mktemp -d)"
trap 'wine_stop; rm -rf "$tmp"' EXIT

loader="$(wine_loader)"
if wine_runs_32bit; then
  setup="$PWD/dist/KVP_LineView-$version-setup.exe"
  host=build/win32/lineview-host.exe
  dll_built=build/release-stage/files/KVP_LineView.dll
  echo "install test: the released 32-bit installer, with the win32 host"
else
  echo "install test: this machine cannot start 32-bit programs; the installer script built for x86-64, with the win64 host"
  mkdir -p "$tmp/stage"
  cp build/release-stage/files/KVP_LineView-*.txt "$tmp/stage/"
  x86_64-w64-mingw32-strip -o "$tmp/stage/KVP_LineView.dll" build/win64/KVP_LineView.dll
  setup="$tmp/setup64.exe"
  makensis -INPUTCHARSET UTF8 -V2 -DAMD64 -DVERSION="$version" -DVERSION_NUMERIC=1.0.0.0 -DSTAGE="$tmp/stage" \
    -DOUTFILE="$setup" packaging/installer.nsi >"$tmp/makensis.log" || { cat "$tmp/makensis.log"; exit 1; }
  host=build/win64/lineview-host.exe
  dll_built="$tmp/stage/KVP_LineView.dll"
fi
gcc_prefix="$(if wine_runs_32bit; then echo i686; else echo x86_64; fi)-w64-mingw32"
"$gcc_prefix-gcc" -municode -O1 -o "$tmp/file_acl.exe" tests/release/file_acl.c -ladvapi32 ||
  { echo "install test: file_acl.exe does not build"; exit 1; }
# The same files as a newer version, to be replaced by the released one.
stage_dir="$(cd "$(dirname "$dll_built")" && pwd)"
makensis -INPUTCHARSET UTF8 -V2 $(wine_runs_32bit || echo -DAMD64) -DVERSION=9.99 -DVERSION_NUMERIC=9.9.9.0 \
  -DSTAGE="$stage_dir" -DOUTFILE="$tmp/setup-newer.exe" packaging/installer.nsi >"$tmp/makensis-newer.log" ||
  { cat "$tmp/makensis-newer.log"; exit 1; }
for f in "$setup" "$host" "$dll_built"; do
  [ -f "$f" ] || { echo "install test: $f is missing (run scripts/release and build the host first)"; exit 1; }
done

win() { echo "Z:${1//\//\\}"; }  # a Linux path as Wine's Z: drive shows it
run() { timeout --kill-after=10 "$1" "$loader" "${@:2}" </dev/null >>"$tmp/wine.log" 2>&1; }
target="$tmp/Plugin folder"
# Through cmd, as a user types it: Wine would quote an argument with a space, and the installer
# takes /D= only unquoted. (The installer's own path has no space.)
setup_silent() { run 120 cmd /c "$(win "${2:-$setup}") /S /D=$(win "${1:-$target}")"; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KVP_LineView'
reg_value() { timeout 60 "$loader" reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}'; }
ours="KVP_LineView.dll KVP_LineView-README-ru.txt KVP_LineView-README-en.txt KVP_LineView-LICENSE.txt
      KVP_LineView-THIRD-PARTY-NOTICES.txt KVP_LineView-CHANGES.txt KVP_LineView-uninstall.exe"
# The uninstaller copies itself away and returns at once; wait for it to finish its work.
uninstall_silent() {
  run 60 "$(win "$1")\\KVP_LineView-uninstall.exe" /S || problem "silent uninstall in $1 failed (status $?)"
  for _ in $(seq 120); do [ -e "$1/KVP_LineView-uninstall.exe" ] || break; sleep 0.5; done
}

wine_start

# An older Windows: Wine tells the installer it is XP.
run 60 reg add 'HKCU\Software\Wine' /v Version /d winxp /f
setup_silent
status=$?
run 60 reg delete 'HKCU\Software\Wine' /v Version /f
[ "$status" -ne 0 ] || problem "the installer ran on Windows XP"
[ ! -e "$target/KVP_LineView.dll" ] || problem "the installer refused Windows XP but installed the DLL"

# Settings a legacy viewer saved into the user's VirtualStore while the folder was closed to it.
virtual="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/VirtualStore$target/KVP_LineView.ini"
mkdir -p "$(dirname "$virtual")" && echo "; saved by a standard user" >"$virtual"
setup_silent || problem "silent install failed (status $?)"
grep -q 'saved by a standard user' "$target/KVP_LineView.ini" 2>/dev/null && [ ! -e "$virtual" ] ||
  problem "the settings in the VirtualStore did not become the settings file"
for f in $ours KVP_LineView.ini; do
  [ -f "$target/$f" ] || problem "not installed: $f"
done
[ "$(ls "$target" | grep -vc '^KVP_LineView')" -eq 0 ] || problem "files not named as ours: $(ls "$target")"
# The settings file, and only it, open to the Users group. Where Wine keeps no access lists (only
# Unix mode bits; it rebuilds the list from them), the grant shows as the group's write bit.
acl="$(timeout 60 "$loader" "$tmp/file_acl.exe" "$(win "$target")\\KVP_LineView.ini" </dev/null 2>&1)"
folder_acl="$(timeout 60 "$loader" "$tmp/file_acl.exe" "$(win "$target")" </dev/null 2>&1)"
users="$(awk '$1 == "allow" && $3 == "S-1-5-32-545" {print $2}' <<<"$acl")"
if [ -n "$users" ]; then
  (( (users & 0x1301bf) == 0x1301bf )) || problem "the Users group may not modify the settings file: $acl"
  grep -q 'allow .* S-1-5-32-545' <<<"$folder_acl" && problem "the Users group was given the folder: $folder_acl"
  access="Users may modify the settings file (its access list)"
else
  [[ $(stat -c %A "$target/KVP_LineView.ini") == ?????w* ]] || problem "no grant on the settings file: $acl"
  [[ $(stat -c %A "$target/KVP_LineView.dll") == ?????w* ]] && problem "the grant reached the DLL"
  [[ $(stat -c %A "$target") == ?????w* ]] && problem "the grant reached the folder"
  access="Users may modify the settings file (Wine keeps no access lists; seen in the mode bits)"
fi
[ -n "$(reg_value 'HKLM\Software\Kestrova\KVP_LineView' Language)" ] || problem "the language is not kept for the uninstaller"
cmp -s "$target/KVP_LineView.dll" "$dll_built" || problem "the installed DLL is not the released one"
entry="$(timeout 60 "$loader" reg query "$uninstall_key" /v DisplayVersion </dev/null 2>/dev/null)"
grep -q "DisplayVersion.*$version" <<<"$entry" || problem "no uninstall entry with version $version in the registry: $entry"

# The host loads the installed DLL, opens the tool window and reads its SNR fields; while it
# runs, a second install must not replace the DLL it holds.
log="$tmp/host.log"
timeout --kill-after=10 120 "$loader" "$host" --frames 150 --fps 25 --open-window \
  --plugin "$(win "$target")\\KVP_LineView.dll" --log "$(win "$log")" </dev/null >>"$tmp/wine.log" 2>&1 &
host_pid=$!
for _ in $(seq 60); do grep -q "call ProcessFrame #1 " "$log" 2>/dev/null && break; sleep 0.5; done
setup_silent
held_status=$?
wait "$host_pid" || problem "the host failed (status $?)"
[ "$held_status" -ne 0 ] || problem "the installer replaced the DLL the running host holds"
for text in "plugin: loading $(win "$target")\\KVP_LineView.dll" "call OpenToolWindow" "tool window: SNR (dB) R/Y: " "host: exit 0"; do
  grep -qF "$text" "$log" 2>/dev/null || problem "host log lacks: $text"
done
grep -q DlgWndPosX "$target/KVP_LineView.ini" 2>/dev/null || problem "the host's run saved no settings beside the installed DLL"

# Another folder, made by the install: the first copy goes, its settings stay, the entry moves.
second="$tmp/Second parent/Plugins"
setup_silent "$second" || problem "the install into a second folder failed (status $?)"
for f in $ours; do
  [ ! -e "$target/$f" ] || problem "the first copy keeps $f after an install elsewhere"
  [ -f "$second/$f" ] || problem "not installed in the second folder: $f"
done
[ -f "$target/KVP_LineView.ini" ] || problem "removing the first copy removed its settings"
[ "$(reg_value "$uninstall_key" InstallLocation)" = "$(win "$second")" ] ||
  problem "the uninstall entry names $(reg_value "$uninstall_key" InstallLocation), not the second folder"

# A newer version, then the released one over it: refused.
setup_silent "$second" "$tmp/setup-newer.exe" || problem "the newer version's install failed (status $?)"
setup_silent "$second"
downgrade_status=$?
[ "$downgrade_status" -eq 4 ] || problem "an older version over a newer one: status $downgrade_status, not 4"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = 9.99 ] || problem "the refused install changed the entry"

rm -f "$second/KVP_LineView.ini"
uninstall_silent "$second"
[ ! -e "$tmp/Second parent" ] || problem "left after uninstall: $(find "$tmp/Second parent")"
run 60 reg query "$uninstall_key" && problem "the uninstall entry is still in the registry"
run 60 reg query 'HKLM\Software\Kestrova' && problem "an empty HKLM\Software\Kestrova is left"

if [ "$fail" -ne 0 ]; then
  echo "--- host log"; cat "$log" 2>/dev/null
  exit 1
fi
echo "install test: refused on XP (status $status); installed; loaded by the host with its tool window open;"
echo "install test: $access; refused while the host held the DLL (status $held_status);"
echo "install test: a second folder took over; older over newer refused (status 4); uninstalled, nothing of ours left"
