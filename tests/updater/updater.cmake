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

# Quits while its start-up worker downloads (run by updater_tests).
add_executable(bootstrap_exit_probe ${CMAKE_CURRENT_LIST_DIR}/ExitProbe.cpp)
target_link_libraries(bootstrap_exit_probe PRIVATE halvora_updater)
set_target_properties(bootstrap_exit_probe PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(updater_tests bootstrap_exit_probe)
target_compile_definitions(updater_tests PRIVATE
    BOOTSTRAP_EXIT_PROBE="$<TARGET_FILE:bootstrap_exit_probe>")
