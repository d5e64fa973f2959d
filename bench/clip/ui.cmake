# Clip window figures (run under xvfb-run for the playback one).
add_executable(clip_ui_bench ${CMAKE_CURRENT_LIST_DIR}/ClipUiBench.cpp)
target_link_libraries(clip_ui_bench PRIVATE halvora_clip_ui Qt6::Test benchmark::benchmark)
