halvora_add_test(http_testserver_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/TestServerTests.cpp TIMEOUT 120)
halvora_add_test(http_download_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/DownloadTests.cpp
    LIBS halvora_http TIMEOUT 120)

# One download in its own process, killed mid-transfer by http_download_tests.
add_executable(download_probe ${CMAKE_CURRENT_LIST_DIR}/DownloadProbe.cpp)
target_link_libraries(download_probe PRIVATE halvora_http)
set_target_properties(download_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(http_download_tests download_probe)
target_compile_definitions(http_download_tests PRIVATE DOWNLOAD_PROBE="$<TARGET_FILE:download_probe>")
