// A stand-in for libvlc.so built in two shapes: FAKE_VLC_PARTIAL exports too few entry points
// to be usable; otherwise it exports the required ones and a few more, records every call in a
// log the tests read through fake_vlc_log(), and leaves out pause, stop, the time queries and
// is_playing, which the player must then never call.
#include <cstdint>
#include <string>

namespace {
std::string gLog;
int gObjects = 0;
void* NewObject() {
    return new int(++gObjects);
}
void Add(const std::string& AText) {
    gLog += AText + ";";
}
} // namespace

extern "C" {

__attribute__((visibility("default"))) void* libvlc_new(int argc, const char* const* argv) {
    std::string s = "new(" + std::to_string(argc);
    for (int i = 0; i < argc; ++i)
        s += std::string(",") + argv[i];
    s += argv[argc] == nullptr ? ",null)" : ",?)";
    Add(s);
    return NewObject();
}

__attribute__((visibility("default"))) void libvlc_release(void* p) {
    Add("release");
    delete static_cast<int*>(p);
}

__attribute__((visibility("default"))) void* libvlc_media_player_new(void*) {
    Add("player_new");
    return NewObject();
}

#ifndef FAKE_VLC_PARTIAL
__attribute__((visibility("default"))) void libvlc_media_player_set_media(void*, void* m) {
    Add("set_media(" + std::to_string(*static_cast<int*>(m)) + ")");
}

__attribute__((visibility("default"))) int libvlc_media_player_play(void*) {
    Add("play");
    return 0;
}

__attribute__((visibility("default"))) void* libvlc_media_new_path(void*, const char* path) {
    Add(std::string("media_new(") + path + ")");
    return NewObject();
}

__attribute__((visibility("default"))) void libvlc_media_release(void* m) {
    Add("media_release(" + std::to_string(*static_cast<int*>(m)) + ")");
    delete static_cast<int*>(m);
}

__attribute__((visibility("default"))) void libvlc_media_player_release(void* p) {
    Add("player_release");
    delete static_cast<int*>(p);
}

__attribute__((visibility("default"))) void libvlc_media_player_set_xwindow(void*,
                                                                            std::uint32_t w) {
    Add("set_xwindow(" + std::to_string(w) + ")");
}

__attribute__((visibility("default"))) const char* fake_vlc_log() {
    return gLog.c_str();
}
__attribute__((visibility("default"))) void fake_vlc_clear() {
    gLog.clear();
}
#endif
}
