# What `cmake --install` lays out (and what a package holds):
#   lib/halvora/        the application folder: halvora, halvora-cli, the updater helper,
#                       component links
#   bin/halvora, bin/halvora-cli   links into it (a program finds its folder through the
#                       resolved link)
#   share/applications, share/icons/hicolor, share/metainfo   desktop entry, icons, AppStream
include(GNUInstallDirs)

set(HALVORA_APP_ID io.github.halvora.Halvora)
set(HALVORA_HOMEPAGE_URL "https://github.com/halvora/halvora" CACHE STRING
    "Project home page named in the AppStream metainfo")
set(HALVORA_SCREENSHOT_URL "https://raw.githubusercontent.com/halvora/halvora/main/docs" CACHE STRING
    "Where the AppStream metainfo finds the pictures of docs/")
# A private program folder, not a library folder: the same place for every architecture.
set(HALVORA_INSTALL_APP_DIR lib/halvora CACHE STRING
    "Application folder below the install prefix")

set(_res ${PROJECT_SOURCE_DIR}/src/res)
configure_file(${_res}/${HALVORA_APP_ID}.metainfo.xml.in
    ${PROJECT_BINARY_DIR}/generated/${HALVORA_APP_ID}.metainfo.xml @ONLY)

# Everything of the desktop program is the install component "desktop": a package holds it
# and nothing that other parts of the tree install.
install(FILES ${_res}/${HALVORA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT desktop)
install(FILES ${PROJECT_BINARY_DIR}/generated/${HALVORA_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT desktop)
foreach(_size 16 24 32 48 64 128 256)
    install(FILES ${_res}/icons/MAINICON/${_size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
        RENAME ${HALVORA_APP_ID}.png COMPONENT desktop)
endforeach()
install(FILES ${_res}/icons/MAINICON/scalable.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${HALVORA_APP_ID}.svg
    COMPONENT desktop)

# The programs are made in subdirectories: their rules are added once all of them exist.
function(halvora_install_programs)
    # Building the program alone also places the component links beside it.
    if(TARGET halvora AND TARGET halvora_system_components)
        add_dependencies(halvora halvora_system_components)
    endif()
    set(_programs halvora halvora-cli)
    if(HALVORA_SELF_UPDATE)
        list(APPEND _programs updater) # a packaged program never starts it
    endif()
    foreach(_program ${_programs})
        if(TARGET ${_program})
            install(TARGETS ${_program} RUNTIME DESTINATION ${HALVORA_INSTALL_APP_DIR}
                COMPONENT desktop)
        endif()
    endforeach()
    foreach(_program halvora halvora-cli)
        if(TARGET ${_program})
            install(CODE "
                file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
                file(CREATE_LINK \"../${HALVORA_INSTALL_APP_DIR}/${_program}\"
                     \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${_program}\"
                     SYMBOLIC)"
                COMPONENT desktop)
        endif()
    endforeach()
    if(HALVORA_LINK_SYSTEM_COMPONENTS)
        string(REPLACE ";" "\" \"" _args "${HALVORA_SYSTEM_LINK_ARGS}")
        install(CODE "
            execute_process(COMMAND \"${CMAKE_COMMAND}\"
                \"-DAPP_DIR=\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${HALVORA_INSTALL_APP_DIR}\"
                \"${_args}\" -P \"${HALVORA_LINK_SCRIPT}\")"
            COMPONENT desktop)
    endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL halvora_install_programs)
