# libVLC player (loaded at run time, never linked), the clip window's logic behind its view
# interface, and the clip editor window.
add_library(halvora_clip_player STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/ClipPlayer.h
    ${CMAKE_CURRENT_SOURCE_DIR}/VLCPlayer.cpp ${CMAKE_CURRENT_SOURCE_DIR}/VLCPlayer.h)
target_include_directories(halvora_clip_player PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(halvora_clip_player PUBLIC halvora_tool Qt6::Gui PRIVATE ${CMAKE_DL_LIBS})

add_library(halvora_clip_editor STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/ClipEditor.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ClipEditor.h
    ${CMAKE_CURRENT_SOURCE_DIR}/ClipEditorCutList.cpp)
target_link_libraries(halvora_clip_editor PUBLIC halvora_clip halvora_clip_player Qt6::Core)

add_library(halvora_clip_ui STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/ClipForm.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ClipForm.h)
target_link_libraries(halvora_clip_ui PUBLIC halvora_clip_editor halvora_tool_ui Qt6::Widgets)
