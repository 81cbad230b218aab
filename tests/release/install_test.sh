#!/usr/bin/env bash
# The installer under Wine, as a user or an administrator would run it:
#   - refused, with nothing installed, when Windows says it is older than Windows 7;
#   - a silent install (/S /D=folder) into a temporary folder whose name has a space;
#   - the bundled host loads the installed DLL and opens its tool window;
#   - a second install is refused while the running host holds the DLL;
#   - a silent uninstall removes the files and the Programs and Features entry, and keeps the
#     settings file that the host's run wrote.
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
  cp build/release-stage/files/README-ru.txt build/release-stage/files/README-en.txt build/release-stage/files/LICENSE "$tmp/stage/"
  x86_64-w64-mingw32-strip -o "$tmp/stage/KVP_LineView.dll" build/win64/KVP_LineView.dll
  setup="$tmp/setup64.exe"
  makensis -INPUTCHARSET UTF8 -V2 -DAMD64 -DVERSION="$version" -DVERSION_NUMERIC=1.0.0.0 -DSTAGE="$tmp/stage" \
    -DOUTFILE="$setup" packaging/installer.nsi >"$tmp/makensis.log" || { cat "$tmp/makensis.log"; exit 1; }
  host=build/win64/lineview-host.exe
  dll_built="$tmp/stage/KVP_LineView.dll"
fi
for f in "$setup" "$host" "$dll_built"; do
  [ -f "$f" ] || { echo "install test: $f is missing (run scripts/release and build the host first)"; exit 1; }
done

win() { echo "Z:${1//\//\\}"; }  # a Linux path as Wine's Z: drive shows it
run() { timeout --kill-after=10 "$1" "$loader" "${@:2}" </dev/null >>"$tmp/wine.log" 2>&1; }
target="$tmp/Plugin folder"
# Through cmd, as a user types it: Wine would quote an argument with a space, and the installer
# takes /D= only unquoted. (The installer's own path has no space.)
setup_silent() { run 120 cmd /c "$(win "$setup") /S /D=$(win "$target")"; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KVP_LineView'

wine_start

# An older Windows: Wine tells the installer it is XP.
run 60 reg add 'HKCU\Software\Wine' /v Version /d winxp /f
setup_silent
status=$?
run 60 reg delete 'HKCU\Software\Wine' /v Version /f
[ "$status" -ne 0 ] || problem "the installer ran on Windows XP"
[ ! -e "$target/KVP_LineView.dll" ] || problem "the installer refused Windows XP but installed the DLL"

setup_silent || problem "silent install failed (status $?)"
for f in KVP_LineView.dll README-ru.txt README-en.txt KVP_LineView-LICENSE.txt KVP_LineView-uninstall.exe; do
  [ -f "$target/$f" ] || problem "not installed: $f"
done
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
[ -f "$target/KVP_LineView.ini" ] || problem "the host's run left no settings file beside the installed DLL"

# The uninstaller copies itself away and returns at once; wait for it to finish its work.
run 60 "$(win "$target")\\KVP_LineView-uninstall.exe" /S || problem "silent uninstall failed (status $?)"
for _ in $(seq 120); do [ -e "$target/KVP_LineView-uninstall.exe" ] || break; sleep 0.5; done
for f in KVP_LineView.dll README-ru.txt README-en.txt KVP_LineView-LICENSE.txt KVP_LineView-uninstall.exe; do
  [ ! -e "$target/$f" ] || problem "left after uninstall: $f"
done
[ -f "$target/KVP_LineView.ini" ] || problem "the uninstaller removed the settings file"
run 60 reg query "$uninstall_key" && problem "the uninstall entry is still in the registry"

if [ "$fail" -ne 0 ]; then
  echo "--- host log"; cat "$log" 2>/dev/null
  exit 1
fi
echo "install test: refused on XP (status $status); installed; loaded by the host with its tool window open;"
echo "install test: refused while the host held the DLL (status $held_status); uninstalled, keeping the settings"
