# `cpack -G DEB` from a build configured by scripts/package: a Debian package that leaves
# ffmpeg, the VLC runtime and updates to the package manager.
set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_gen ${PROJECT_BINARY_DIR}/generated)

# Debian wants the changelog and the manual page compressed, without a time stamp.
foreach(_file changelog halvora.1 halvora-cli.1)
    execute_process(COMMAND gzip -9nc INPUT_FILE ${_pkg}/${_file} OUTPUT_FILE ${_gen}/${_file}.gz
        RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "gzip ${_file}: ${_rc}")
    endif()
endforeach()
install(FILES ${_gen}/halvora.1.gz ${_gen}/halvora-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT desktop)
install(FILES ${_pkg}/copyright ${_gen}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/halvora
    COMPONENT desktop)

set(CPACK_PACKAGE_NAME halvora)
set(CPACK_PACKAGE_VENDOR "The Halvora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert HLS playlists and TS recordings to MP4")
set(CPACK_PACKAGE_DESCRIPTION
    "Halvora is a desktop application that turns HLS playlists (local M3U8 files or
http(s) links) and MPEG-TS recordings into MP4 files, one at a time or every
saved stream below a folder in one batch. Its clip editor plays an MP4, lets
the user mark stretches to delete and exports the rest as one file,
optionally cropped. All media work is done by ffmpeg.")
set(CPACK_PACKAGE_CONTACT "The Halvora developers <packages@halvora.example.com>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
# One package of the desktop program alone (the service programs are not part of it).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL desktop)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${HALVORA_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Run, not linked: the ffmpeg program and the VLC runtime with the plugins the player needs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ffmpeg, libvlc5, vlc-plugin-base, vlc-plugin-video-output")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# A package whose program could replace its own files would fight the package manager.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/HalvoraPackageCheck.cmake)
set(CPACK_HALVORA_SELF_UPDATE ${HALVORA_SELF_UPDATE})
include(CPack)
