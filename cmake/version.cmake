# Turns the project's version ("1.04") into what the sources and packages need:
# LINEVIEW_VERSION (the text everywhere, "1.04") and lineview_version.h for the C++ and the .rc.
set(LINEVIEW_VERSION ${PROJECT_VERSION})
# The binary version resource wants numbers: "04" becomes 4.
math(EXPR LINEVIEW_VERSION_MAJOR_NUMBER "${PROJECT_VERSION_MAJOR}")
math(EXPR LINEVIEW_VERSION_MINOR_NUMBER "${PROJECT_VERSION_MINOR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/lineview_version.h.in ${CMAKE_BINARY_DIR}/generated/lineview_version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)
