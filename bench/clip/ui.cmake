# Clip window figures (run under xvfb-run for the playback one).
add_executable(clip_ui_bench ${CMAKE_CURRENT_LIST_DIR}/ClipUiBench.cpp)
target_link_libraries(clip_ui_bench PRIVATE halvora_clip_ui Qt6::Test benchmark::benchmark)
# Window responsiveness of the clip window and Stop latency of an export (run under xvfb-run).
add_executable(bench_clip_responsiveness ${CMAKE_CURRENT_LIST_DIR}/ClipResponsivenessBench.cpp)
target_link_libraries(bench_clip_responsiveness PRIVATE halvora_clip_ui)
# How closely the picture follows the thumb (run under xvfb-run).
add_executable(bench_clip_follow ${CMAKE_CURRENT_LIST_DIR}/ThumbFollowBench.cpp)
target_link_libraries(bench_clip_follow PRIVATE halvora_clip_ui Qt6::Test)
