# libcurl client, text GET, verified downloads and file digests.
add_library(halvora_http STATIC
    ${CMAKE_CURRENT_LIST_DIR}/HttpClient.cpp ${CMAKE_CURRENT_LIST_DIR}/HttpClient.h
    ${CMAKE_CURRENT_LIST_DIR}/Download.cpp ${CMAKE_CURRENT_LIST_DIR}/Download.h
    ${CMAKE_CURRENT_LIST_DIR}/FileDigest.cpp ${CMAKE_CURRENT_LIST_DIR}/FileDigest.h)
target_include_directories(halvora_http PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(halvora_http PUBLIC Qt6::Core PRIVATE CURL::libcurl OpenSSL::SSL OpenSSL::Crypto)
