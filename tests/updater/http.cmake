halvora_add_test(http_testserver_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/TestServerTests.cpp TIMEOUT 120)
