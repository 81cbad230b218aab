# The Debian package of `lineview`: the program, its man page, bash completion, copyright and
# changelog, packed by CPack with dependencies from dpkg-shlibdeps. scripts/release builds it;
# SOURCE_DATE_EPOCH fixes every time inside it.
include(GNUInstallDirs)

install(TARGETS lineview RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Compressed without name or time (gzip -n), so the package does not change between builds.
set(lineview_pkg_dir ${CMAKE_BINARY_DIR}/package)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(lineview_changelog_epoch $ENV{SOURCE_DATE_EPOCH})
else()
  set(lineview_changelog_epoch 0)
endif()
# The changelog's date line in RFC 5322 form, from the release's time.
execute_process(COMMAND date -u -R -d @${lineview_changelog_epoch}
                OUTPUT_VARIABLE LINEVIEW_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)
string(TIMESTAMP LINEVIEW_RELEASE_DATE "%Y-%m-%d" UTC)  # SOURCE_DATE_EPOCH when set
configure_file(${CMAKE_SOURCE_DIR}/packaging/deb/changelog.in ${lineview_pkg_dir}/changelog @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/lineview.1 ${lineview_pkg_dir}/lineview.1 @ONLY)
foreach(f lineview.1 changelog)
  add_custom_command(OUTPUT ${lineview_pkg_dir}/${f}.gz
                     COMMAND gzip -9 -n -c ${lineview_pkg_dir}/${f} > ${lineview_pkg_dir}/${f}.gz
                     DEPENDS ${lineview_pkg_dir}/${f})
endforeach()
add_custom_target(lineview_package_files ALL DEPENDS ${lineview_pkg_dir}/lineview.1.gz ${lineview_pkg_dir}/changelog.gz)

install(FILES ${lineview_pkg_dir}/lineview.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lineview.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lineview)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/deb/copyright ${lineview_pkg_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lineview)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lineview)
set(CPACK_PACKAGE_VERSION ${LINEVIEW_VERSION})
set(CPACK_PACKAGE_CONTACT "KVP_LineView developers <lineview@kestrova.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TV line analyser: waveform with SNR, spectrum and level histogram")
set(CPACK_PACKAGE_DESCRIPTION
    "lineview measures one TV line of every frame of a video file, a capture\n"
    "device or raw frames on a pipe, as the KVP_LineView plug-in does on\n"
    "Windows: the waveform of the line with the signal-to-noise ratio of each\n"
    "colour channel, its spectrum and the histogram of its levels. It prints\n"
    "the ratios as CSV or a JSON summary and can draw each page as a PNG\n"
    "picture.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kestrova.example/lineview")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
