halvora_add_test(http_testserver_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/TestServerTests.cpp TIMEOUT 120)
halvora_add_test(http_download_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/DownloadTests.cpp
    LIBS halvora_http TIMEOUT 120)
