# Provisioning of ffmpeg and the VLC runtime, self-update and the start-up worker.
add_library(halvora_updater STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Updater.cpp ${CMAKE_CURRENT_LIST_DIR}/Updater.h
    ${CMAKE_CURRENT_LIST_DIR}/UpdateManifests.cpp ${CMAKE_CURRENT_LIST_DIR}/UpdateManifests.h
    ${CMAKE_CURRENT_LIST_DIR}/UpdateOutcomes.h
    ${CMAKE_CURRENT_LIST_DIR}/UpdateMessages.cpp ${CMAKE_CURRENT_LIST_DIR}/UpdateMessages.h
    ${CMAKE_CURRENT_LIST_DIR}/PrivateFolder.cpp ${CMAKE_CURRENT_LIST_DIR}/PrivateFolder.h
    ${CMAKE_CURRENT_LIST_DIR}/ComponentInstall.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HelperRun.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SelfUpdate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HelperLaunch.cpp ${CMAKE_CURRENT_LIST_DIR}/HelperLaunch.h
    ${CMAKE_CURRENT_LIST_DIR}/Bootstrap.cpp ${CMAKE_CURRENT_LIST_DIR}/Bootstrap.h)
target_include_directories(halvora_updater PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(halvora_updater PUBLIC halvora_http halvora_tool Qt6::Core PRIVATE halvora_install_layout)

include(${CMAKE_CURRENT_LIST_DIR}/SystemComponents.cmake)
# Off in packaged builds: the package manager installs components and new releases.
if(HALVORA_SELF_UPDATE)
    target_compile_definitions(halvora_updater PRIVATE HALVORA_SELF_UPDATE=1)
else()
    target_compile_definitions(halvora_updater PRIVATE HALVORA_SELF_UPDATE=0)
endif()
