#!/usr/bin/env bash
# Checks what scripts/release left in dist/: the four files and their sums; the zip's listing,
# its texts (UTF-8 with BOM and CR LF, the topics the readmes must cover) and its DLL (stripped,
# version resource, Windows 7 header); the Debian package's fields, files, man page (every
# option of the packaged program's --help, the exit statuses, the examples), version and lintian.
# usage: tests/release/check_dist.sh   (after scripts/release)
set -uo pipefail
cd "$(dirname "$0")/../.."
fail=0
problem() { echo "dist: $*"; fail=1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

header=build/native-release/generated/lineview_version.h
version="$(sed -n 's/^#define LINEVIEW_VERSION_TEXT "\(.*\)"$/\1/p' "$header")"
binary_version="$(sed -n 's/^#define LINEVIEW_VERSION_BINARY \(.*\)$/\1/p' "$header")"
zip="KVP_LineView-$version-win32.zip"
setup="KVP_LineView-$version-setup.exe"
deb="lineview_${version}_amd64.deb"

[ "$(ls dist | sort | tr '\n' ' ')" = "$(printf '%s\n' "$zip" "$setup" SHA256SUMS "$deb" | sort | tr '\n' ' ')" ] ||
  problem "dist/ holds $(ls dist | tr '\n' ' ')"
(cd dist && sha256sum --quiet -c SHA256SUMS) || problem "SHA256SUMS does not match"
[ "$(wc -l <dist/SHA256SUMS)" -eq 3 ] || problem "SHA256SUMS does not list the three files"

# --- the zip: files straight in the plug-in folder, no folders
listing="$(unzip -Z1 "dist/$zip" | tr '\n' ' ')"
[ "$listing" = "KVP_LineView.dll LICENSE README-en.txt README-ru.txt " ] || problem "zip holds: $listing"
unzip -q "dist/$zip" -d "$tmp/zip"
for f in README-ru.txt README-en.txt; do
  t="$tmp/zip/$f"
  [ "$(head -c 3 "$t" | od -An -tx1 | tr -d ' ')" = "efbbbf" ] || problem "$f does not start with a UTF-8 byte-order mark"
  iconv -f UTF-8 -t UTF-8 "$t" >/dev/null 2>&1 || problem "$f is not UTF-8"
  [ "$(grep -c $'\r$' "$t")" -eq "$(wc -l <"$t")" ] || problem "$f has lines not ended by CR LF"
  for topic in StoreInUsersFolder %APPDATA% "Windows 7" Ctrl+Tab Shift+Tab Esc 20 log10 50 setup.exe /S /D= \
               DlgWndPosX; do
    grep -qF -- "$topic" "$t" || problem "$f does not mention $topic"
  done
done
grep -q 'Установка' "$tmp/zip/README-ru.txt" || problem "README-ru.txt is not Russian"
[ "$(grep -c $'\r$' "$tmp/zip/LICENSE")" -eq "$(wc -l <"$tmp/zip/LICENSE")" ] || problem "LICENSE has lines not ended by CR LF"
grep -q '^MIT License' "$tmp/zip/LICENSE" || problem "LICENSE is not the MIT licence"

dll="$tmp/zip/KVP_LineView.dll"
i686-w64-mingw32-objdump -h "$dll" | grep -q '\.debug' && problem "the DLL carries debug information"
i686-w64-mingw32-objdump -f "$dll" | grep -q 'pei-i386' || problem "the DLL is not a 32-bit Windows DLL"
tests/release/check_dll_header.sh "$dll" i686-w64-mingw32-objdump || fail=1
resources="$(i686-w64-mingw32-windres -i "$dll" -O rc 2>/dev/null)"
grep -q "FILEVERSION $binary_version\$" <<<"$resources" || problem "the version resource is not $binary_version"
grep -q "VALUE \"FileVersion\", \"$version\"" <<<"$resources" || problem "the version text is not $version"
grep -qF "\"Ver.$version\"" <<<"$resources" || problem "the About box does not say Ver.$version"

# --- the Debian package
field() { dpkg-deb -f "dist/$deb" "$1"; }
[ "$(field Package)" = lineview ] || problem "package name $(field Package)"
[ "$(field Version)" = "$version" ] || problem "package version $(field Version)"
[ "$(field Architecture)" = amd64 ] || problem "architecture $(field Architecture)"
for lib in libavformat libswscale libc6 libpng; do
  field Depends | grep -q "$lib" || problem "Depends lacks $lib: $(field Depends)"
done
files="$(dpkg-deb -c "dist/$deb" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' | sort | tr '\n' ' ')"
expected="/usr/bin/lineview /usr/share/bash-completion/completions/lineview /usr/share/doc/lineview/changelog.gz /usr/share/doc/lineview/copyright /usr/share/man/man1/lineview.1.gz "
[ "$files" = "$expected" ] || problem "package files: $files"
dpkg-deb -x "dist/$deb" "$tmp/deb"
[ "$("$tmp/deb/usr/bin/lineview" --version)" = "lineview $version" ] || problem "lineview --version: $("$tmp/deb/usr/bin/lineview" --version)"
man="$(zcat "$tmp/deb/usr/share/man/man1/lineview.1.gz" | sed 's/\\-/-/g')"
for option in $("$tmp/deb/usr/bin/lineview" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z_-]*' | tr -d ' ,' | sort -u); do
  grep -qF -- "$option" <<<"$man" || problem "the man page does not describe $option"
done
for status in $(seq 0 15) 130 143; do
  grep -qx "\.B $status" <<<"$man" || problem "the man page does not list exit status $status"
done
for example in "lineview capture.mkv > snr.csv" "lineview -f v4l2 /dev/video0 --frames 250 --png out/" \
               "lineview -f rawvideo -s 720x576 -pix_fmt yuyv422 - --json"; do
  grep -qF -- "$example" <<<"$man" || problem "the man page lacks the example: $example"
done
zcat "$tmp/deb/usr/share/man/man1/lineview.1.gz" | LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l - 2>&1 >/dev/null |
  grep . && problem "the man page has formatting warnings"
bash -n "$tmp/deb/usr/share/bash-completion/completions/lineview" || problem "the bash completion does not parse"
lintian --fail-on error "dist/$deb" >"$tmp/lintian.log" 2>&1 || problem "lintian reports errors"
grep -v 'running with root privileges' "$tmp/lintian.log"

[ "$fail" -eq 0 ] && echo "dist: zip, installer, package and sums of $version check out"
exit "$fail"
