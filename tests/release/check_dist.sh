#!/usr/bin/env bash
# Checks what scripts/release left in dist/: the five files and their sums; the zip's listing,
# its texts (UTF-8 with BOM and CR LF, the topics the readmes must cover) and its DLL (stripped,
# version resource, Windows 7 header); the installer's version resource; the Debian package's
# fields, files, changelogs, man page (every option of the packaged program's --help, the exit
# statuses, the examples), version, hardening and lintian; a notice for every component of others
# that the binaries carry; the record of the tools.
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
deb="lineview_${version}-1_amd64.deb"

[ "$(ls dist | sort | tr '\n' ' ')" = "$(printf '%s\n' "$zip" "$setup" SHA256SUMS "$deb" BUILD-INFO.txt | sort | tr '\n' ' ')" ] ||
  problem "dist/ holds $(ls dist | tr '\n' ' ')"
(cd dist && sha256sum --quiet -c SHA256SUMS) || problem "SHA256SUMS does not match"
[ "$(wc -l <dist/SHA256SUMS)" -eq 4 ] || problem "SHA256SUMS does not list the four files"

# --- the zip: files straight in the plug-in folder, no folders, each named as ours (the folder
# is shared with other plug-ins)
texts="KVP_LineView-CHANGES.txt KVP_LineView-LICENSE.txt KVP_LineView-README-en.txt KVP_LineView-README-ru.txt KVP_LineView-THIRD-PARTY-NOTICES.txt"
listing="$(unzip -Z1 "dist/$zip" | tr '\n' ' ')"
[ "$listing" = "$texts KVP_LineView.dll " ] || problem "zip holds: $listing"
unzip -q "dist/$zip" -d "$tmp/zip"
for f in $texts; do
  [ "$(grep -c $'\r$' "$tmp/zip/$f")" -eq "$(wc -l <"$tmp/zip/$f")" ] || problem "$f has lines not ended by CR LF"
  iconv -f UTF-8 -t UTF-8 "$tmp/zip/$f" >/dev/null 2>&1 || problem "$f is not UTF-8"
  tail -1 "$tmp/zip/$f" | grep -q '^ ' && problem "$f ends with an indented line"
done
for f in KVP_LineView-README-ru.txt KVP_LineView-README-en.txt KVP_LineView-CHANGES.txt; do
  [ "$(head -c 3 "$tmp/zip/$f" | od -An -tx1 | tr -d ' ')" = "efbbbf" ] || problem "$f does not start with a UTF-8 byte-order mark"
done
for f in KVP_LineView-README-ru.txt KVP_LineView-README-en.txt; do
  t="$tmp/zip/$f"
  for topic in StoreInUsersFolder %APPDATA% "Windows 7" Ctrl+Tab Shift+Tab Esc 20 log10 50 setup.exe /S /D= \
               DlgWndPosX "KVP_LineView-*.txt" KVP_LineView-THIRD-PARTY-NOTICES.txt KVP_LineView-CHANGES.txt; do
    grep -qF -- "$topic" "$t" || problem "$f does not mention $topic"
  done
  grep -qE '6[.,]75' "$t" || problem "$f does not give the spectrum's span 0..6.75 MHz"
  grep -qi 'администратор\|administrator' "$t" || problem "$f does not say the installer needs administrator rights"
  # Names that other plug-ins' files may carry must not be what a user is told to delete.
  grep -P '(?<!KVP_LineView-)(README-|\bLICENSE\b(?!\.txt))' "$t" && problem "$f names a file that is not ours"
  for status in 2 3 4 5; do grep -qE "^ +$status  " "$t" || problem "$f does not list the installer's exit status $status"; done
done
grep -q 'Установка' "$tmp/zip/KVP_LineView-README-ru.txt" || problem "the Russian readme is not Russian"
grep -q '^MIT License' "$tmp/zip/KVP_LineView-LICENSE.txt" || problem "the licence is not the MIT licence"
grep -q "^${version%+dirty} (" "$tmp/zip/KVP_LineView-CHANGES.txt" || problem "the changes list has no entry for ${version%+dirty}"

dll="$tmp/zip/KVP_LineView.dll"
i686-w64-mingw32-objdump -h "$dll" | grep -q '\.debug' && problem "the DLL carries debug information"
i686-w64-mingw32-objdump -f "$dll" | grep -q 'pei-i386' || problem "the DLL is not a 32-bit Windows DLL"
tests/release/check_dll_header.sh "$dll" i686-w64-mingw32-objdump || fail=1
resources="$(i686-w64-mingw32-windres -i "$dll" -O rc 2>/dev/null)"
grep -q "FILEVERSION $binary_version\$" <<<"$resources" || problem "the version resource is not $binary_version"
grep -q "VALUE \"FileVersion\", \"$version\"" <<<"$resources" || problem "the version text is not $version"
grep -qF "\"Ver.$version\"" <<<"$resources" || problem "the About box does not say Ver.$version"
setup_resources="$(i686-w64-mingw32-windres -i "dist/$setup" -O rc 2>/dev/null)"
for r in "$resources" "$setup_resources"; do
  grep -q 'VALUE "CompanyName", "KVP_LineView developers"' <<<"$r" || problem "a version resource has no CompanyName"
  grep -q 'VALUE "LegalCopyright", "Copyright (c) 20[0-9]* KVP_LineView developers"' <<<"$r" ||
    problem "a version resource has no copyright line: $(grep LegalCopyright <<<"$r")"
done

# --- the Debian package
field() { dpkg-deb -f "dist/$deb" "$1"; }
[ "$(field Package)" = lineview ] || problem "package name $(field Package)"
[ "$(field Version)" = "$version-1" ] || problem "package version $(field Version)"
[ "$(field Recommends)" = "fonts-dejavu-core" ] || problem "Recommends: $(field Recommends)"
[ "$(field Suggests)" = "slurm-client" ] || problem "Suggests: $(field Suggests)"
[ "$(field Architecture)" = amd64 ] || problem "architecture $(field Architecture)"
for lib in libavformat libswscale libc6 libpng parallel; do
  field Depends | grep -q "$lib" || problem "Depends lacks $lib: $(field Depends)"
done
files="$(dpkg-deb -c "dist/$deb" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' | sort | tr '\n' ' ')"
expected="/usr/bin/lineview /usr/bin/lineview-collection /usr/share/bash-completion/completions/lineview /usr/share/bash-completion/completions/lineview-collection /usr/share/doc/lineview/changelog.Debian.gz /usr/share/doc/lineview/changelog.gz /usr/share/doc/lineview/copyright /usr/share/lintian/overrides/lineview /usr/share/man/man1/lineview-collection.1.gz /usr/share/man/man1/lineview.1.gz "
[ "$files" = "$expected" ] || problem "package files: $files"
dpkg-deb -x "dist/$deb" "$tmp/deb"
[ "$("$tmp/deb/usr/bin/lineview" --version)" = "lineview $version" ] || problem "lineview --version: $("$tmp/deb/usr/bin/lineview" --version)"
doc="$tmp/deb/usr/share/doc/lineview"
zcat "$doc/changelog.Debian.gz" >"$tmp/changelog.Debian"
[ "$(dpkg-parsechangelog -l "$tmp/changelog.Debian" -S Version)" = "$version-1" ] ||
  problem "the Debian changelog's entry is not $version-1"
zcat "$doc/changelog.Debian.gz" | grep -q 'see /usr/share/doc' && problem "the Debian changelog only points elsewhere"
zcat "$doc/changelog.gz" | cmp -s - packaging/CHANGES.txt || problem "changelog.gz is not CHANGES.txt"

# Hardening as dpkg-buildflags (hardening=+all) asks: the binary shows PIE, RELRO, BIND_NOW, the
# stack protector, fortified calls and control-flow protection; stack-clash probes leave no mark
# in a binary, so the compile commands are read for them.
exe="$tmp/deb/usr/bin/lineview"
elf="$(readelf -dlW --dyn-syms "$exe")"
grep -q 'FLAGS_1.*PIE' <<<"$elf" || problem "lineview is not a PIE"
grep -q GNU_RELRO <<<"$elf" || problem "lineview has no RELRO"
grep -q 'BIND_NOW' <<<"$elf" || problem "lineview is not linked with BIND_NOW"
grep -q '__stack_chk_fail' <<<"$elf" || problem "lineview has no stack protector"
grep -q '_chk@' <<<"$elf" || problem "lineview has no fortified calls"
[ "$(objdump -d --no-show-raw-insn "$exe" | grep -c endbr64)" -gt 0 ] || problem "lineview has no control-flow protection (endbr64)"
for flag in -fstack-protector-strong -fstack-clash-protection -fcf-protection -D_FORTIFY_SOURCE=2; do
  grep '"command"' build/native-release/compile_commands.json | grep -qvF -- "$flag" &&
    problem "a release object of lineview was compiled without $flag"
done
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
# lineview-collection: its man page describes every option of its help, without warnings.
collection="$tmp/deb/usr/bin/lineview-collection"
bash -n "$collection" && bash -n "$tmp/deb/usr/share/bash-completion/completions/lineview-collection" ||
  problem "lineview-collection or its completion does not parse"
man="$(zcat "$tmp/deb/usr/share/man/man1/lineview-collection.1.gz" | sed 's/\\-/-/g')"
for option in $("$collection" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z_-]*' | tr -d ' ,' | sort -u); do
  grep -qF -- "$option" <<<"$man" || problem "lineview-collection's man page does not describe $option"
done
zcat "$tmp/deb/usr/share/man/man1/lineview-collection.1.gz" | LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l - 2>&1 >/dev/null |
  grep . && problem "lineview-collection's man page has formatting warnings"
lintian --pedantic --fail-on error,warning,pedantic "dist/$deb" >"$tmp/lintian.log" 2>&1 ||
  problem "lintian --pedantic reports more than information"
grep -v 'running with root privileges' "$tmp/lintian.log"

# --- the code of others in the binaries: each statically linked library has its notice in the
# Windows texts, each header-only library compiled into lineview its stanza in the copyright file
notices="$tmp/zip/KVP_LineView-THIRD-PARTY-NOTICES.txt"
scripts/linked-components build/win32-release build/native-release >"$tmp/components" || problem "components not listed"
while IFS=$'\t' read -r binary how file pkg _; do
  case "$how:$(basename "$file"):$pkg" in
    static:libwinpthread*|static:libpthread.a:*) heading="winpthreads" ;;
    static:libstdc++*|static:libsupc++*|static:libgcc*|static:crtbegin.o:*|static:crtend.o:*) heading="GCC runtime libraries" ;;
    static:*:mingw-w64-i686-dev) heading="mingw-w64 runtime" ;;
    compiled:*)
      grep -q "(Debian package ${pkg%%:*})" "$doc/copyright" || problem "$binary holds ${pkg%%:*}; the copyright file has no stanza for it"
      continue ;;
    *) continue ;;
  esac
  grep -q "^$heading" "$notices" || problem "$binary holds $file ($pkg); the notices have no \"$heading\""
done <"$tmp/components"
grep -q $'^KVP_LineView.dll\tstatic\t.*lib\\(win\\)\\?pthread' "$tmp/components" || problem "winpthreads not found among the DLL's libraries"
grep -q $'^lineview\tcompiled\t.*libcli11-dev' "$tmp/components" || problem "CLI11 not found among lineview's headers"

# --- what made the release
info=dist/BUILD-INFO.txt
grep -q "built from commit $(git rev-parse HEAD)" "$info" || problem "BUILD-INFO.txt does not name the commit"
for tool in i686-w64-mingw32-g++-posix i686-w64-mingw32-ld g++ ld makensis cmake dpkg mingw-w64-i686-dev nsis; do
  awk -v tool="$tool" '$1 == tool && NF > 1 && /[0-9]/ {found = 1} END {exit !found}' "$info" ||
    problem "BUILD-INFO.txt has no version of $tool"
done
grep -q $'^KVP_LineView.dll\tstatic\tlibstdc' "$info" || problem "BUILD-INFO.txt lists no library of the DLL"
grep -q $'^lineview\tshared\tlibavformat' "$info" || problem "BUILD-INFO.txt lists no library of lineview"

[ "$fail" -eq 0 ] && echo "dist: zip, installer, package and sums of $version check out"
exit "$fail"
