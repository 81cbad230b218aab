# The Debian package of `lineview`: the program, its man page, bash completion, copyright and
# changelog, packed by CPack with dependencies from dpkg-shlibdeps. scripts/release builds it;
# SOURCE_DATE_EPOCH fixes every time inside it.
include(GNUInstallDirs)

install(TARGETS lineview RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A collection on GNU parallel or Slurm: a shell script beside lineview.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/cli/collection/lineview-collection DESTINATION ${CMAKE_INSTALL_BINDIR})

# Compressed without name or time (gzip -n), so the package does not change between builds.
set(lineview_pkg_dir ${CMAKE_BINARY_DIR}/package)
# The Debian revision: a new package of the same version (a packaging fix) raises it.
set(LINEVIEW_DEB_REVISION 1)
set(lineview_maintainer "KVP_LineView developers <lineview@kestrova.example>")
string(TIMESTAMP LINEVIEW_RELEASE_DATE "%Y-%m-%d" UTC)  # SOURCE_DATE_EPOCH when set
foreach(page lineview.1 lineview-collection.1)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/${page} ${lineview_pkg_dir}/${page} @ONLY)
endforeach()
# The upstream changelog is CHANGES.txt, the list the zip and the installer carry; the Debian
# changelog (a revision makes the package non-native) is the same list in Debian's form.
configure_file(${CMAKE_SOURCE_DIR}/packaging/CHANGES.txt ${lineview_pkg_dir}/changelog COPYONLY)
add_custom_command(OUTPUT ${lineview_pkg_dir}/changelog.Debian
                   COMMAND awk -v package=lineview -v version=${LINEVIEW_VERSION} -v revision=${LINEVIEW_DEB_REVISION}
                           -v "maintainer=${lineview_maintainer}" -f ${CMAKE_SOURCE_DIR}/packaging/deb/changelog.awk
                           ${CMAKE_SOURCE_DIR}/packaging/CHANGES.txt > ${lineview_pkg_dir}/changelog.Debian
                   DEPENDS ${CMAKE_SOURCE_DIR}/packaging/CHANGES.txt ${CMAKE_SOURCE_DIR}/packaging/deb/changelog.awk
                   VERBATIM)
foreach(f lineview.1 lineview-collection.1 changelog changelog.Debian)
  add_custom_command(OUTPUT ${lineview_pkg_dir}/${f}.gz
                     COMMAND gzip -9 -n -c ${lineview_pkg_dir}/${f} > ${lineview_pkg_dir}/${f}.gz
                     DEPENDS ${lineview_pkg_dir}/${f})
endforeach()
add_custom_target(lineview_package_files ALL DEPENDS ${lineview_pkg_dir}/lineview.1.gz
                                                     ${lineview_pkg_dir}/lineview-collection.1.gz ${lineview_pkg_dir}/changelog.gz
                                                     ${lineview_pkg_dir}/changelog.Debian.gz)

install(FILES ${lineview_pkg_dir}/lineview.1.gz ${lineview_pkg_dir}/lineview-collection.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lineview.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lineview)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lineview-collection.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lineview-collection)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/deb/copyright ${lineview_pkg_dir}/changelog.gz
              ${lineview_pkg_dir}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lineview)
# The package is not uploaded to Debian, so its first entry closes no ITP bug.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/deb/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME lineview)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lineview)
set(CPACK_PACKAGE_VERSION ${LINEVIEW_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${LINEVIEW_DEB_REVISION})
set(CPACK_PACKAGE_CONTACT "${lineview_maintainer}")
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
# The font that --png and --live find through fontconfig for their labels. GNU parallel is
# lineview-collection's engine on one machine or over ssh; Slurm's sbatch its engine on a cluster.
# dpkg-shlibdeps' libraries are added to the Depends given here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "parallel")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "slurm-client")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
