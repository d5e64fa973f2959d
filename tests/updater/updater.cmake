# Provisioning, self-update and the start-up worker, against the loopback test service and the
# real helper program (built into the application folder, HALVORA_TEST_APP_DIR).
add_library(halvora_updater_testfixtures STATIC
    ${CMAKE_CURRENT_LIST_DIR}/UpdaterFixtures.cpp ${CMAKE_CURRENT_LIST_DIR}/UpdaterFixtures.h)
target_include_directories(halvora_updater_testfixtures PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(halvora_updater_testfixtures PUBLIC halvora_updater halvora_testsupport)

halvora_add_test(updater_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProvisionTests.cpp
            ${CMAKE_CURRENT_LIST_DIR}/SelfUpdateTests.cpp
            ${CMAKE_CURRENT_LIST_DIR}/GateTests.cpp
    LIBS halvora_updater_testfixtures
    TIMEOUT 300)
if(TARGET updater)
    add_dependencies(updater_tests updater)
endif()

# The bootstrap with the real main window (run under Xvfb).
if(TARGET halvora_main_ui)
    halvora_add_test(updater_window_tests GUI
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/BootstrapWindowTests.cpp
        LIBS halvora_main_ui halvora_updater_testfixtures
        TIMEOUT 300)
    if(TARGET updater)
        add_dependencies(updater_window_tests updater)
    endif()
endif()
