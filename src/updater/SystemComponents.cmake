# On a machine whose distribution provides ffmpeg and the VLC runtime, the application folder
# gets links to them instead of downloading copies at start-up; a link counts as installed.
# Both the build folder (at every build) and `cmake --install` get them.
# Cache entries: the install rules (cmake/HalvoraInstall.cmake) read them.
set(HALVORA_LINK_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/LinkSystemComponents.cmake CACHE INTERNAL "")

if(HALVORA_LINK_SYSTEM_COMPONENTS)
    find_program(HALVORA_SYSTEM_FFMPEG ffmpeg PATHS /usr/local/bin /usr/bin NO_DEFAULT_PATH)
    find_library(HALVORA_SYSTEM_LIBVLC NAMES libvlc.so.5
        PATHS /usr/lib/x86_64-linux-gnu /usr/lib64 /usr/lib /usr/local/lib NO_DEFAULT_PATH)
    set(HALVORA_SYSTEM_LINK_ARGS -DFFMPEG=${HALVORA_SYSTEM_FFMPEG})
    if(HALVORA_SYSTEM_LIBVLC)
        get_filename_component(_halvora_vlc_libdir ${HALVORA_SYSTEM_LIBVLC} DIRECTORY)
        list(APPEND HALVORA_SYSTEM_LINK_ARGS -DLIBVLC=${HALVORA_SYSTEM_LIBVLC}
             -DVLC_PLUGINS=${_halvora_vlc_libdir}/vlc/plugins)
    endif()
    set(HALVORA_SYSTEM_LINK_ARGS "${HALVORA_SYSTEM_LINK_ARGS}" CACHE INTERNAL "")
endif()

# A target (built by default) that places the links into ADIR at every build.
function(halvora_link_system_components name dir)
    if(HALVORA_LINK_SYSTEM_COMPONENTS)
        add_custom_target(${name} ALL
            COMMAND ${CMAKE_COMMAND} -DAPP_DIR=${dir} ${HALVORA_SYSTEM_LINK_ARGS}
                    -P ${HALVORA_LINK_SCRIPT}
            COMMENT "Linking the system's ffmpeg and VLC runtime into ${dir}"
            VERBATIM)
    endif()
endfunction()

halvora_link_system_components(halvora_system_components ${HALVORA_APP_DIR})
