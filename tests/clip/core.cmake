# Clip editor core: probe, segment list, export and frame preview against the real ffmpeg.
halvora_add_test(clip_core_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/ClipCoreFixtures.cpp ${CMAKE_CURRENT_LIST_DIR}/ClipCoreFixtures.h
        ${CMAKE_CURRENT_LIST_DIR}/ProbeTests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/SegmentTests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/MarkTests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/CutListTests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ExportTests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ExactCutTests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PreviewTests.cpp
    LIBS halvora_clip
    TIMEOUT 600)
