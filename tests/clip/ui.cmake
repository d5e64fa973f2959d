# Clip window and libVLC player tests. The stand-in libraries are built here so the player can
# be shown a library that lacks entry points.
add_library(fake_vlc_minimal MODULE ${CMAKE_CURRENT_SOURCE_DIR}/FakeLibVlc.cpp)
add_library(fake_vlc_partial MODULE ${CMAKE_CURRENT_SOURCE_DIR}/FakeLibVlc.cpp)
target_compile_definitions(fake_vlc_partial PRIVATE FAKE_VLC_PARTIAL=1)
add_library(fake_vlccore MODULE ${CMAKE_CURRENT_SOURCE_DIR}/FakeVlcCore.c)
set_target_properties(fake_vlc_minimal fake_vlc_partial fake_vlccore PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fakevlc)

halvora_add_test(clip_vlc_player_tests GUI TIMEOUT 300
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/VLCPlayerTests.cpp
    LIBS halvora_clip_player Qt6::Widgets Qt6::Test ${CMAKE_DL_LIBS})
halvora_add_test(clip_vlc_player_nox11_tests TIMEOUT 60
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/VLCPlayerNoX11Tests.cpp
    LIBS halvora_clip_player ${CMAKE_DL_LIBS})
foreach(t clip_vlc_player_tests clip_vlc_player_nox11_tests)
    add_dependencies(${t} fake_vlc_minimal fake_vlc_partial fake_vlccore)
    target_compile_definitions(${t} PRIVATE
        FAKE_VLCCORE="$<TARGET_FILE:fake_vlccore>"
        FAKE_VLC_MINIMAL="$<TARGET_FILE:fake_vlc_minimal>"
        FAKE_VLC_PARTIAL="$<TARGET_FILE:fake_vlc_partial>")
endforeach()

halvora_add_test(clip_form_tests GUI TIMEOUT 300
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ClipFormTests.cpp
    LIBS halvora_clip_ui Qt6::Test)

halvora_add_test(clip_from_main_tests GUI TIMEOUT 60
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ClipFromMainTests.cpp
    LIBS halvora_main_ui halvora_clip_ui Qt6::Test)

halvora_add_test(clip_editor_tests TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ClipEditorTests.cpp
    LIBS halvora_clip_editor Qt6::Test)

# Long exports: no time limit, progress, Stop, closing during one (real ffmpeg, Xvfb).
halvora_add_test(clip_longwork_tests GUI TIMEOUT 900
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ExportLongWorkTests.cpp
    LIBS halvora_clip_ui Qt6::Test)

# What a source carries (rotation, colour and HDR, dates, places, track names) through every
# kind of export, in the real window with the real ffmpeg.
halvora_add_test(clip_keep_tests GUI TIMEOUT 600
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/KeepPropertiesTests.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/ClipCoreFixtures.cpp
    LIBS halvora_clip_ui Qt6::Test)

# The window from the keyboard: frame-exact marks, editing, undo, cut lists (real ffmpeg, Xvfb).
halvora_add_test(clip_keys_tests GUI TIMEOUT 300
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ClipKeysTests.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/ClipCoreFixtures.cpp
    LIBS halvora_clip_ui Qt6::Test)
