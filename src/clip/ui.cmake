# libVLC player (loaded at run time, never linked) and the clip editor window.
add_library(halvora_clip_player STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/VLCPlayer.cpp ${CMAKE_CURRENT_SOURCE_DIR}/VLCPlayer.h)
target_include_directories(halvora_clip_player PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(halvora_clip_player PUBLIC halvora_tool Qt6::Gui PRIVATE ${CMAKE_DL_LIBS})
