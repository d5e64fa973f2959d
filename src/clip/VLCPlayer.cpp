#include "VLCPlayer.h"

#include "AppPaths.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <chrono>
#include <dlfcn.h>
#include <thread>

namespace halvora {

QStringList LibVlcCandidates(const QString& AAppDir) {
    return {AAppDir + QStringLiteral("vlc/libvlc.so.5"),
            AAppDir + QStringLiteral("libvlc.so.5"),
            QStringLiteral("/usr/lib/x86_64-linux-gnu/libvlc.so.5"),
            QStringLiteral("/usr/lib64/libvlc.so.5"),
            QStringLiteral("/usr/lib/libvlc.so.5"),
            QStringLiteral("/usr/local/lib/libvlc.so.5")};
}

QString FindLibVlc(const QStringList& ACandidates) {
    for (const QString& c : ACandidates) {
        const QFileInfo fi(c);
        if (fi.exists() && fi.isFile())
            return c;
    }
    return {};
}

namespace {

// libVLC draws only into X11 windows; given any other platform's handle it takes the process
// down, so it is never called unless Qt runs on xcb.
bool HasX11Windows() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
           QGuiApplication::platformName() == QLatin1String("xcb");
}

template <typename T> T Resolve(void* AHandle, const char* AName) {
    return reinterpret_cast<T>(dlsym(AHandle, AName));
}

} // namespace

TVLCPlayer::TVLCPlayer() : TVLCPlayer(LibVlcCandidates(AppDir())) {}

TVLCPlayer::TVLCPlayer(QStringList ALibCandidates) : FCandidates(std::move(ALibCandidates)) {}

TVLCPlayer::~TVLCPlayer() {
    Destroy();
}

void TVLCPlayer::ClearEntryPoints() {
    FLibvlcNew = nullptr;
    FLibvlcRelease = nullptr;
    FLibvlcMediaNewPath = nullptr;
    FLibvlcMediaRelease = nullptr;
    FLibvlcMediaPlayerNew = nullptr;
    FLibvlcMediaPlayerRelease = nullptr;
    FLibvlcMediaPlayerSetMedia = nullptr;
    FLibvlcMediaPlayerPlay = nullptr;
    FLibvlcMediaPlayerPause = nullptr;
    FLibvlcMediaPlayerStop = nullptr;
    FLibvlcMediaPlayerSetXwindow = nullptr;
    FLibvlcMediaPlayerGetLength = nullptr;
    FLibvlcMediaPlayerSetTime = nullptr;
    FLibvlcMediaPlayerGetTime = nullptr;
    FLibvlcMediaPlayerIsPlaying = nullptr;
}

bool TVLCPlayer::Load() {
    if (FLoaded)
        return true;
    // A library loaded earlier without its required entry points is let go before retrying.
    if (FLibHandle) {
        dlclose(FLibHandle);
        FLibHandle = nullptr;
    }
    if (FCoreHandle) {
        dlclose(FCoreHandle);
        FCoreHandle = nullptr;
    }
    ClearEntryPoints();

    const QString path = FindLibVlc(FCandidates);
    if (path.isEmpty())
        return false;
    FVlcDir = QFileInfo(path).absolutePath() + QLatin1Char('/');

    // The runtime's own core first, so its libvlc binds to it and not to another one.
    const QString core = FVlcDir + QStringLiteral("libvlccore.so.9");
    if (QFileInfo(core).isFile())
        FCoreHandle = dlopen(QFile::encodeName(core).constData(), RTLD_NOW | RTLD_GLOBAL);

    FLibHandle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!FLibHandle) {
        if (FCoreHandle) {
            dlclose(FCoreHandle);
            FCoreHandle = nullptr;
        }
        return false;
    }

    FLibvlcNew = Resolve<FnNew>(FLibHandle, "libvlc_new");
    FLibvlcRelease = Resolve<FnRelease>(FLibHandle, "libvlc_release");
    FLibvlcMediaNewPath = Resolve<FnMediaNewPath>(FLibHandle, "libvlc_media_new_path");
    FLibvlcMediaRelease = Resolve<FnMediaRelease>(FLibHandle, "libvlc_media_release");
    FLibvlcMediaPlayerNew = Resolve<FnPlayerNew>(FLibHandle, "libvlc_media_player_new");
    FLibvlcMediaPlayerRelease = Resolve<FnPlayerVoid>(FLibHandle, "libvlc_media_player_release");
    FLibvlcMediaPlayerSetMedia =
        Resolve<FnPlayerSetMedia>(FLibHandle, "libvlc_media_player_set_media");
    FLibvlcMediaPlayerPlay = Resolve<FnPlayerInt>(FLibHandle, "libvlc_media_player_play");
    FLibvlcMediaPlayerPause = Resolve<FnPlayerVoid>(FLibHandle, "libvlc_media_player_pause");
    FLibvlcMediaPlayerStop = Resolve<FnPlayerVoid>(FLibHandle, "libvlc_media_player_stop");
    FLibvlcMediaPlayerSetXwindow =
        Resolve<FnPlayerSetWindow>(FLibHandle, "libvlc_media_player_set_xwindow");
    FLibvlcMediaPlayerGetLength =
        Resolve<FnPlayerGetTime>(FLibHandle, "libvlc_media_player_get_length");
    FLibvlcMediaPlayerSetTime =
        Resolve<FnPlayerSetTime>(FLibHandle, "libvlc_media_player_set_time");
    FLibvlcMediaPlayerGetTime =
        Resolve<FnPlayerGetTime>(FLibHandle, "libvlc_media_player_get_time");
    FLibvlcMediaPlayerIsPlaying =
        Resolve<FnPlayerInt>(FLibHandle, "libvlc_media_player_is_playing");

    FLoaded =
        FLibvlcNew && FLibvlcMediaPlayerNew && FLibvlcMediaPlayerSetMedia && FLibvlcMediaPlayerPlay;
    return FLoaded;
}

void TVLCPlayer::DetachWindow() {
    if (FMP && FLibvlcMediaPlayerSetXwindow)
        FLibvlcMediaPlayerSetXwindow(FMP, 0);
}

bool TVLCPlayer::Open(quintptr AParent, const QString& AFile) {
    if (!HasX11Windows())
        return false;
    if (!Load())
        return false;
    // Without these two a media can't be made, or libVLC would open a window of its own.
    if (!FLibvlcMediaNewPath || !FLibvlcMediaPlayerSetXwindow)
        return false;

    if (!FVLC) {
        const QByteArray pluginPath = QByteArrayLiteral("--plugin-path=") +
                                      QFile::encodeName(FVlcDir + QStringLiteral("plugins"));
        const char* const args[] = {pluginPath.constData(), "--no-video-title-show", nullptr};
        FVLC = FLibvlcNew(2, args);
        if (!FVLC)
            return false;
    }

    if (!FMP) {
        FMP = FLibvlcMediaPlayerNew(FVLC);
        if (!FMP)
            return false;
    } else {
        DetachWindow();
    }

    libvlc_media_t* const old = FMedia;
    FMedia = FLibvlcMediaNewPath(FVLC, AFile.toUtf8().constData());
    if (!FMedia) {
        // The old media is still attached to the player; keep holding it so it is released once.
        FMedia = old;
        return false;
    }

    FLibvlcMediaPlayerSetMedia(FMP, FMedia);
    FLibvlcMediaPlayerSetXwindow(FMP, static_cast<std::uint32_t>(AParent));

    if (old && FLibvlcMediaRelease)
        FLibvlcMediaRelease(old);
    FOpen = true;
    return true;
}

void TVLCPlayer::Reset() {
    DetachWindow();
    if (FMedia) {
        if (FLibvlcMediaRelease)
            FLibvlcMediaRelease(FMedia);
        FMedia = nullptr;
    }
    FOpen = false;
}

void TVLCPlayer::Play() {
    if (FMP)
        FLibvlcMediaPlayerPlay(FMP);
}

void TVLCPlayer::Pause() {
    if (FMP && FLibvlcMediaPlayerPause)
        FLibvlcMediaPlayerPause(FMP);
}

void TVLCPlayer::Toggle() {
    if (IsPlaying())
        Pause();
    else
        Play();
}

void TVLCPlayer::Stop() {
    if (!FMP)
        return;
    DetachWindow();
    if (FLibvlcMediaPlayerStop)
        FLibvlcMediaPlayerStop(FMP);
}

void TVLCPlayer::SetTime(std::int64_t AMs) {
    if (FMP && FLibvlcMediaPlayerSetTime)
        FLibvlcMediaPlayerSetTime(FMP, AMs);
}

std::int64_t TVLCPlayer::GetTime() {
    return FMP && FLibvlcMediaPlayerGetTime ? FLibvlcMediaPlayerGetTime(FMP) : 0;
}

std::int64_t TVLCPlayer::GetLength() {
    return FMP && FLibvlcMediaPlayerGetLength ? FLibvlcMediaPlayerGetLength(FMP) : 0;
}

bool TVLCPlayer::IsPlaying() {
    return FMP && FLibvlcMediaPlayerIsPlaying && FLibvlcMediaPlayerIsPlaying(FMP) != 0;
}

bool TVLCPlayer::WaitStopped(std::uint32_t ATimeoutMs) {
    if (!FMP)
        return true;
    std::uint32_t elapsed = 0;
    while (elapsed < ATimeoutMs && IsPlaying()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        elapsed += 20;
    }
    return !IsPlaying();
}

void TVLCPlayer::Destroy() {
    // A library whose player or instance could not be released may still run threads of its
    // own: it then stays loaded.
    bool keepLib = false;
    if (FMP) {
        DetachWindow();
        if (FLibvlcMediaPlayerRelease)
            FLibvlcMediaPlayerRelease(FMP);
        else
            keepLib = true;
        FMP = nullptr;
    }
    if (FMedia) {
        if (FLibvlcMediaRelease)
            FLibvlcMediaRelease(FMedia);
        FMedia = nullptr;
    }
    if (FVLC) {
        if (FLibvlcRelease)
            FLibvlcRelease(FVLC);
        else
            keepLib = true;
        FVLC = nullptr;
    }
    FOpen = false;
    if (FLibHandle && !keepLib)
        dlclose(FLibHandle);
    FLibHandle = nullptr;
    if (FCoreHandle && !keepLib)
        dlclose(FCoreHandle);
    FCoreHandle = nullptr;
    FLoaded = false;
    ClearEntryPoints();
}

} // namespace halvora
