#pragma once

#include "ClipPlayer.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace halvora {

// libVLC's own handles; only ever passed back to the library.
struct libvlc_instance_t;
struct libvlc_media_t;
struct libvlc_media_player_t;

// Where the VLC runtime is looked for, in order, given the application folder (with '/'):
// the application's own "vlc" folder, the application folder, then the system's libraries.
QStringList LibVlcCandidates(const QString& AAppDir);
// The first candidate that exists as a file (links followed); empty when none does.
QString FindLibVlc(const QStringList& ACandidates);

// Plays one video into a native X11 window through libVLC 3, loaded at run time with dlopen so
// that the program runs without it. All calls come from the window thread; no libVLC events are
// registered, the caller polls the position and the playing state.
class TVLCPlayer : public ClipPlayer {
public:
    TVLCPlayer();                                    // the standard candidate list
    explicit TVLCPlayer(QStringList ALibCandidates); // an explicit list (tests)
    ~TVLCPlayer() override;
    TVLCPlayer(const TVLCPlayer&) = delete;
    TVLCPlayer& operator=(const TVLCPlayer&) = delete;

    bool Load() override;
    // AParent is the X11 id of a native window; fails without calling libVLC when the Qt
    // platform has no X11 windows.
    bool Open(quintptr AParent, const QString& AFile) override;
    void Reset() override;
    void Play() override;
    void Pause() override;
    void Toggle() override;
    void Stop() override;
    void SetTime(std::int64_t AMs) override;
    std::int64_t GetTime() override;
    std::int64_t GetLength() override;
    bool IsPlaying() override;
    bool WaitStopped(std::uint32_t ATimeoutMs);
    void Destroy();

    bool LibLoaded() const { return FLoaded; }
    bool IsOpen() const override { return FOpen; }
    // The folder of the library found last (with '/'), empty before any was found.
    const QString& VlcDir() const { return FVlcDir; }
    bool HasInstance() const { return FVLC != nullptr; }
    bool HasPlayer() const { return FMP != nullptr; }

private:
    using FnNew = libvlc_instance_t* (*)(int, const char* const*);
    using FnRelease = void (*)(libvlc_instance_t*);
    using FnMediaNewPath = libvlc_media_t* (*)(libvlc_instance_t*, const char*);
    using FnMediaRelease = void (*)(libvlc_media_t*);
    using FnPlayerNew = libvlc_media_player_t* (*)(libvlc_instance_t*);
    using FnPlayerVoid = void (*)(libvlc_media_player_t*);
    using FnPlayerSetMedia = void (*)(libvlc_media_player_t*, libvlc_media_t*);
    using FnPlayerInt = int (*)(libvlc_media_player_t*);
    using FnPlayerSetWindow = void (*)(libvlc_media_player_t*, std::uint32_t);
    using FnPlayerGetTime = std::int64_t (*)(libvlc_media_player_t*);
    using FnPlayerSetTime = void (*)(libvlc_media_player_t*, std::int64_t);

    void DetachWindow();
    void ClearEntryPoints();

    QStringList FCandidates;
    void* FLibHandle = nullptr;
    bool FLoaded = false;
    libvlc_instance_t* FVLC = nullptr;
    libvlc_media_t* FMedia = nullptr;
    libvlc_media_player_t* FMP = nullptr;
    bool FOpen = false;
    QString FVlcDir;
    FnNew FLibvlcNew = nullptr;
    FnRelease FLibvlcRelease = nullptr;
    FnMediaNewPath FLibvlcMediaNewPath = nullptr;
    FnMediaRelease FLibvlcMediaRelease = nullptr;
    FnPlayerNew FLibvlcMediaPlayerNew = nullptr;
    FnPlayerVoid FLibvlcMediaPlayerRelease = nullptr;
    FnPlayerSetMedia FLibvlcMediaPlayerSetMedia = nullptr;
    FnPlayerInt FLibvlcMediaPlayerPlay = nullptr;
    FnPlayerVoid FLibvlcMediaPlayerPause = nullptr;
    FnPlayerVoid FLibvlcMediaPlayerStop = nullptr;
    FnPlayerSetWindow FLibvlcMediaPlayerSetXwindow = nullptr;
    FnPlayerGetTime FLibvlcMediaPlayerGetLength = nullptr;
    FnPlayerSetTime FLibvlcMediaPlayerSetTime = nullptr;
    FnPlayerGetTime FLibvlcMediaPlayerGetTime = nullptr;
    FnPlayerInt FLibvlcMediaPlayerIsPlaying = nullptr;
    // libvlccore preloaded from the library's own folder, so an application-folder runtime
    // never mixes with the system's core.
    void* FCoreHandle = nullptr;
};

} // namespace halvora
