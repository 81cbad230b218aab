# The oldest Windows the programs and the DLL support: Windows 7 (NT 6.1).
# Debian's mingw-w64 runtime is built for Vista and later (winpthreads imports GetTickCount64),
# so XP would need a rebuilt toolchain; 7 costs nothing. The headers hide anything newer, and the
# PE header says 6.1, so an older Windows refuses the file instead of failing on a missing import.
# tests/release/check_dll_header.sh holds the import list to this floor.
set(LINEVIEW_WINNT 0x0601)
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=${LINEVIEW_WINNT} -DWINVER=${LINEVIEW_WINNT}")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=${LINEVIEW_WINNT} -DWINVER=${LINEVIEW_WINNT}")
set(CMAKE_RC_FLAGS_INIT "-D_WIN32_WINNT=${LINEVIEW_WINNT} -DWINVER=${LINEVIEW_WINNT}")
# --no-insert-timestamp: no link time in the PE header, so two builds of one commit agree.
set(lineview_pe_link_flags
    "-Wl,--major-os-version,6,--minor-os-version,1,--major-subsystem-version,6,--minor-subsystem-version,1 -Wl,--no-insert-timestamp")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${lineview_pe_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${lineview_pe_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${lineview_pe_link_flags}")
