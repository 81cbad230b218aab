#!/usr/bin/env bash
# Holds a built DLL to the oldest Windows it claims: Windows 7 (NT 6.1) in the OS and subsystem
# versions of its PE header, no link time there, imports from Windows' own DLLs only, and none
# of the functions that came with Windows 8 or later.
# usage: check_dll_header.sh DLL [OBJDUMP]
set -euo pipefail
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}
header="$("$objdump" -p "$dll")"
fail=0
problem() { echo "$dll: $*"; fail=1; }

field() { awk -v key="$1" '$1 == key { print $2; exit }' <<<"$header"; }
for f in MajorOSystemVersion:6 MinorOSystemVersion:1 MajorSubsystemVersion:6 MinorSubsystemVersion:1; do
  value="$(field "${f%%:*}")"
  [ "$value" = "${f#*:}" ] || problem "${f%%:*} is '$value', expected ${f#*:}"
done
grep -qP '^Time/Date\t+Thu Jan  1 00:00:00 1970$' <<<"$header" || problem "a link time in the header: $(grep -P '^Time/Date\t' <<<"$header")"

# Windows' own DLLs that Windows 7 has, and the C runtime every Windows carries.
allowed_dlls="kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll advapi32.dll shell32.dll msvcrt.dll"
dlls="$(sed -n 's/^\tDLL Name: //p' <<<"$header" | tr 'A-Z' 'a-z' | sort -u)"
[ -n "$dlls" ] || problem "no import table found"
for d in $dlls; do
  [[ " $allowed_dlls " == *" $d "* ]] || problem "imports $d"
done

# Functions of those DLLs that Windows 7 lacks, among those a C++ runtime or a dialog could use.
newer="GetSystemTimePreciseAsFileTime CreateFile2 CopyFile2 GetCurrentThreadStackLimits WaitOnAddress
WakeByAddressSingle WakeByAddressAll InitializeSynchronizationBarrier EnterSynchronizationBarrier
DeleteSynchronizationBarrier SetThreadDescription GetThreadDescription GetOverlappedResultEx
CreateFileMappingFromApp MapViewOfFileFromApp PrefetchVirtualMemory GetProcessMitigationPolicy
SetProcessMitigationPolicy QueryUnbiasedInterruptTimePrecise VirtualAlloc2 GetSystemCpuSetInformation
SetDefaultDllDirectories AddDllDirectory GetDpiForWindow GetDpiForSystem SetProcessDpiAwarenessContext
SetThreadDpiAwarenessContext GetThreadDpiAwarenessContext GetWindowDpiAwarenessContext
AdjustWindowRectExForDpi GetSystemMetricsForDpi SystemParametersInfoForDpi EnableNonClientDpiScaling
GetPointerType GetPointerInfo EnableMouseInPointer"
imports="$(awk '/^\tDLL Name: /{inside=1; next} inside && NF >= 3 && $1 ~ /^[0-9a-f]+$/ {print $NF} /^$/{inside=0}' <<<"$header")"
[ -n "$imports" ] || problem "no imported functions found"
for fn in $newer; do
  grep -qx "$fn" <<<"$imports" && problem "imports $fn, which Windows 7 lacks"
done

[ "$fail" -eq 0 ] && echo "$dll: Windows 7 header, no link time, $(wc -l <<<"$imports") imports from $(echo $dlls | wc -w) system DLLs"
exit "$fail"
