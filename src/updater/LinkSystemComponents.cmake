# cmake -DAPP_DIR=... [-DFFMPEG=...] [-DLIBVLC=... -DVLC_PLUGINS=...] -P LinkSystemComponents.cmake
# Puts links to the system's components into APP_DIR where nothing of that name stands yet;
# a downloaded component is never replaced, a dangling link is.
if(NOT APP_DIR)
    message(FATAL_ERROR "APP_DIR not given")
endif()
file(MAKE_DIRECTORY "${APP_DIR}")

function(_halvora_link source dest)
    if(IS_SYMLINK "${dest}" AND NOT EXISTS "${dest}")
        file(REMOVE "${dest}")
    endif()
    if(NOT EXISTS "${dest}" AND NOT IS_SYMLINK "${dest}")
        file(CREATE_LINK "${source}" "${dest}" SYMBOLIC)
    endif()
endfunction()

if(FFMPEG AND EXISTS "${FFMPEG}")
    _halvora_link("${FFMPEG}" "${APP_DIR}/ffmpeg")
endif()

if(LIBVLC AND EXISTS "${LIBVLC}" AND VLC_PLUGINS AND IS_DIRECTORY "${VLC_PLUGINS}")
    # A vlc folder that is not ours (a downloaded runtime) stays as it is.
    if(NOT EXISTS "${APP_DIR}/vlc" OR IS_SYMLINK "${APP_DIR}/vlc/libvlc.so.5")
        file(MAKE_DIRECTORY "${APP_DIR}/vlc")
        _halvora_link("${LIBVLC}" "${APP_DIR}/vlc/libvlc.so.5")
        _halvora_link("${VLC_PLUGINS}" "${APP_DIR}/vlc/plugins")
    endif()
endif()
