# Turns the project's version ("1.04") into what the sources and packages need:
# LINEVIEW_VERSION (the text everywhere, "1.04", "1.04+dirty" for uncommitted changes) and lineview_version.h for the C++ and the .rc.
set(LINEVIEW_VERSION_SUFFIX "" CACHE STRING "Appended to the version, e.g. +dirty for a release of uncommitted changes")
set(LINEVIEW_VERSION ${PROJECT_VERSION}${LINEVIEW_VERSION_SUFFIX})
# The binary version resource wants four numbers. Each digit of the two-digit minor version gets
# one, so Explorer shows 1.04 as 1.0.4.0 (it would read 1.4.0.0 as "1.4") and 1.10 as 1.1.0.0:
# the order stays that of the texts for every minor version 00..99.
math(EXPR LINEVIEW_VERSION_MAJOR_NUMBER "${PROJECT_VERSION_MAJOR}")
math(EXPR LINEVIEW_VERSION_MINOR_TENS "${PROJECT_VERSION_MINOR} / 10")
math(EXPR LINEVIEW_VERSION_MINOR_UNITS "${PROJECT_VERSION_MINOR} % 10")
configure_file(${CMAKE_CURRENT_LIST_DIR}/lineview_version.h.in ${CMAKE_BINARY_DIR}/generated/lineview_version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)
