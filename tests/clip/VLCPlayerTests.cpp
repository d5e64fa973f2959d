// TVLCPlayer against the system's libVLC under Xvfb, plus a recording stand-in library for the
// exact calls and arguments.
#include "TestSupport.h"
#include "VLCPlayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QWidget>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <memory>

using namespace halvora;
using namespace halvora::test;

namespace {

const QString kSystemLib = QStringLiteral("/usr/lib/x86_64-linux-gnu/libvlc.so.5");

class VlcPlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sDir = new QString(NewTempDir(QStringLiteral("vlc")));
        sClip = new QString(*sDir + QStringLiteral("/clip 3s.mp4"));
        ASSERT_TRUE(MakeVideo(*sClip, 3));
    }
    static void TearDownTestSuite() {
        QDir(*sDir).removeRecursively();
        delete sClip;
        delete sDir;
    }
    void SetUp() override {
        FWindow = std::make_unique<QWidget>();
        FWindow->setAttribute(Qt::WA_NativeWindow);
        FWindow->resize(320, 240);
        FWindow->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FWindow.get()));
    }
    quintptr Wid() const { return FWindow->winId(); }

    // Opens the clip and waits until libVLC reports it playing with a known length.
    void StartPlaying(TVLCPlayer& APlayer) {
        ASSERT_TRUE(APlayer.Open(Wid(), *sClip));
        APlayer.Play();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return APlayer.IsPlaying() && APlayer.GetLength() > 0; }, 10000));
    }

    static QString* sDir;
    static QString* sClip;
    std::unique_ptr<QWidget> FWindow;
};
QString* VlcPlayerTest::sDir = nullptr;
QString* VlcPlayerTest::sClip = nullptr;

} // namespace

TEST_F(VlcPlayerTest, LibraryCandidatesAndLoading) {
    // The application's own runtime comes first: "vlc/" before the folder itself, both before
    // the system's.
    const QStringList c = LibVlcCandidates(QStringLiteral("/opt/app/"));
    ASSERT_EQ(c.size(), 6);
    EXPECT_EQ(c[0], "/opt/app/vlc/libvlc.so.5");
    EXPECT_EQ(c[1], "/opt/app/libvlc.so.5");
    EXPECT_EQ(c[2], kSystemLib);
    EXPECT_EQ(c.mid(3), QStringList({"/usr/lib64/libvlc.so.5", "/usr/lib/libvlc.so.5",
                                     "/usr/local/lib/libvlc.so.5"}));

    {
        TVLCPlayer p; // the test program's folder holds no runtime: the system's is found
        EXPECT_FALSE(p.LibLoaded());
        EXPECT_TRUE(p.Load());
        EXPECT_TRUE(p.Load());
        EXPECT_EQ(p.VlcDir(), "/usr/lib/x86_64-linux-gnu/");
    }
    {
        const QString app = NewTempDir(QStringLiteral("app")) + QLatin1Char('/');
        ASSERT_TRUE(QDir().mkpath(app + "vlc"));
        ASSERT_TRUE(QFile::link(kSystemLib, app + "vlc/libvlc.so.5"));
        ASSERT_TRUE(QFile::link(kSystemLib, app + "libvlc.so.5"));
        TVLCPlayer p(LibVlcCandidates(app));
        EXPECT_TRUE(p.Load());
        EXPECT_EQ(p.VlcDir(), app + "vlc/");
        // The plugin-path argument names a folder that doesn't exist; libVLC 3 goes on.
        EXPECT_TRUE(p.Open(Wid(), *sClip));
        QFile::remove(app + "vlc/libvlc.so.5");
        TVLCPlayer q(LibVlcCandidates(app));
        EXPECT_TRUE(q.Load());
        EXPECT_EQ(q.VlcDir(), app);
        QDir(app).removeRecursively();
    }
    {
        // A file that isn't a library stops the search: the system's one after it is not tried.
        const QString dir = NewTempDir(QStringLiteral("bad"));
        ASSERT_TRUE(WriteAll(dir + "/libvlc.so.5", "not a library"));
        TVLCPlayer p({dir + "/missing.so", dir + "/libvlc.so.5", kSystemLib});
        EXPECT_FALSE(p.Load());
        EXPECT_FALSE(p.LibLoaded());
        EXPECT_EQ(p.VlcDir(), dir + "/");
        EXPECT_FALSE(p.Open(Wid(), *sClip));
        QDir(dir).removeRecursively();
    }
    {
        TVLCPlayer p({QStringLiteral("/nonexistent/libvlc.so.5")});
        EXPECT_FALSE(p.Load());
        EXPECT_TRUE(p.VlcDir().isEmpty());
        EXPECT_FALSE(p.Open(Wid(), *sClip));
    }
    {
        // Nothing found: nothing is kept, and the next call searches again.
        const QString app = NewTempDir(QStringLiteral("later")) + QLatin1Char('/');
        TVLCPlayer p(LibVlcCandidates(app).mid(0, 2));
        EXPECT_FALSE(p.Load());
        ASSERT_TRUE(QFile::link(kSystemLib, app + "libvlc.so.5"));
        EXPECT_TRUE(p.Load());
        EXPECT_EQ(p.VlcDir(), app);
        QDir(app).removeRecursively();
    }
    {
        // A runtime in the application folder brings its own core, loaded from beside it.
        const QString app = NewTempDir(QStringLiteral("core")) + QLatin1Char('/');
        ASSERT_TRUE(QDir().mkpath(app + "vlc"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(FAKE_VLC_MINIMAL), app + "vlc/libvlc.so.5"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(FAKE_VLCCORE), app + "vlc/libvlccore.so.9"));
        const QByteArray core = QFile::encodeName(app + "vlc/libvlccore.so.9");
        auto coreLoaded = [&] {
            void* h = dlopen(core.constData(), RTLD_NOW | RTLD_NOLOAD);
            if (h)
                dlclose(h);
            return h != nullptr;
        };
        TVLCPlayer p(LibVlcCandidates(app));
        EXPECT_FALSE(coreLoaded());
        EXPECT_TRUE(p.Load());
        EXPECT_TRUE(coreLoaded());
        p.Destroy();
        EXPECT_FALSE(coreLoaded());
        QDir(app).removeRecursively();
    }
    {
        // Required entry points missing.
        TVLCPlayer p({QStringLiteral(FAKE_VLC_PARTIAL)});
        EXPECT_FALSE(p.Load());
        EXPECT_FALSE(p.LibLoaded());
        EXPECT_FALSE(p.Open(Wid(), *sClip));
    }
}

TEST_F(VlcPlayerTest, NothingBeforeOpen) {
    TVLCPlayer p;
    EXPECT_EQ(p.GetTime(), 0);
    EXPECT_EQ(p.GetLength(), 0);
    EXPECT_FALSE(p.IsPlaying());
    EXPECT_FALSE(p.IsOpen());
    EXPECT_TRUE(p.WaitStopped(1000));
    p.Play();
    p.Pause();
    p.Toggle();
    p.SetTime(1000);
    p.Stop();
    p.Reset();
    EXPECT_TRUE(p.Load());
    EXPECT_EQ(p.GetTime(), 0);
    EXPECT_FALSE(p.IsPlaying());
}

TEST_F(VlcPlayerTest, PlaysAClipToItsEnd) {
    TVLCPlayer p;
    StartPlaying(p);
    EXPECT_TRUE(p.IsOpen());
    EXPECT_NEAR(static_cast<double>(p.GetLength()), 3000.0, 200.0);
    // The end as the clip window sees it: not playing and within 800 ms of the length.
    std::int64_t last = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            last = p.GetTime();
            return !p.IsPlaying() && last >= p.GetLength() - 800;
        },
        15000));
    EXPECT_GT(last, 2000);
    EXPECT_TRUE(p.WaitStopped(0));
}

TEST_F(VlcPlayerTest, SeekPauseToggleAndWait) {
    TVLCPlayer p;
    StartPlaying(p);
    p.SetTime(2000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.GetTime() >= 1900; }, 5000));

    // Playing: WaitStopped(0) answers at once, a wait that runs out says so no sooner than
    // asked. The fastest of a few calls, so a busy machine can't make an answer look slow.
    QElapsedTimer t;
    qint64 fastest = 1000;
    for (int i = 0; i < 5; ++i) {
        t.start();
        EXPECT_FALSE(p.WaitStopped(0));
        fastest = std::min(fastest, t.elapsed());
    }
    p.SetTime(0);
    t.restart();
    EXPECT_FALSE(p.WaitStopped(50));
    const qint64 shortWait = t.elapsed();
    EXPECT_GE(shortWait, 50);
    EXPECT_LT(fastest, shortWait);

    // A wait ends when the player stops, not when its time runs out.
    p.Pause();
    t.restart();
    EXPECT_TRUE(p.WaitStopped(60000));
    EXPECT_LT(t.elapsed(), 30000);
    EXPECT_FALSE(p.IsPlaying());
    const std::int64_t paused = p.GetTime();
    EXPECT_TRUE(p.WaitStopped(0));
    p.Toggle(); // resumes
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.IsPlaying(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.GetTime() > paused + 300; }, 5000));
    p.Toggle(); // pauses
    EXPECT_TRUE(QTest::qWaitFor([&] { return !p.IsPlaying(); }, 5000));

    p.Play();
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.IsPlaying(); }, 5000));
    p.Stop();
    EXPECT_FALSE(p.IsPlaying());
    EXPECT_TRUE(p.WaitStopped(0));
}

TEST_F(VlcPlayerTest, ResetDuringPlayKeepsInstanceAndPlayer) {
    TVLCPlayer p;
    StartPlaying(p);
    p.Reset();
    EXPECT_FALSE(p.IsOpen());
    EXPECT_TRUE(p.HasInstance());
    EXPECT_TRUE(p.HasPlayer());
    // Reset doesn't stop the player.
    EXPECT_TRUE(p.IsPlaying());

    // A second open into another window, then playback from a position.
    QWidget other;
    other.setAttribute(Qt::WA_NativeWindow);
    other.resize(320, 240);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    ASSERT_TRUE(p.Open(other.winId(), *sClip));
    EXPECT_TRUE(p.IsOpen());
    p.Play();
    p.SetTime(1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.IsPlaying() && p.GetTime() >= 1000; }, 10000));
    p.Destroy();
    EXPECT_FALSE(p.HasPlayer());
    EXPECT_FALSE(p.LibLoaded());
    EXPECT_EQ(p.GetTime(), 0);
}

TEST_F(VlcPlayerTest, ExactCallsThroughStandInLibrary) {
    const QString lib = QStringLiteral(FAKE_VLC_MINIMAL);
    void* h = dlopen(QFile::encodeName(lib).constData(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    auto log = reinterpret_cast<const char* (*)()>(dlsym(h, "fake_vlc_log"));
    auto clear = reinterpret_cast<void (*)()>(dlsym(h, "fake_vlc_clear"));
    ASSERT_TRUE(log && clear);
    clear();
    const QString dir = lib.section(QLatin1Char('/'), 0, -2) + QLatin1Char('/');
    {
        TVLCPlayer p({lib});
        ASSERT_TRUE(p.Load());
        EXPECT_STREQ(log(), "");
        ASSERT_TRUE(p.Open(1234, QStringLiteral("/v/caf\u00e9.mp4")));
        const std::string first = "new(2,--plugin-path=" + dir.toStdString() +
                                  "plugins,--no-video-title-show,null);player_new;"
                                  "media_new(/v/caf\xC3\xA9.mp4);set_media(3);"
                                  "set_xwindow(1234);";
        EXPECT_EQ(log(), first);
        clear();
        // Entry points the library lacks are never called.
        p.Pause();
        p.Stop();
        p.SetTime(5);
        EXPECT_EQ(p.GetTime(), 0);
        EXPECT_EQ(p.GetLength(), 0);
        EXPECT_FALSE(p.IsPlaying());
        p.Toggle(); // not playing: Play
        EXPECT_STREQ(log(), "set_xwindow(0);play;");
        clear();
        p.Reset();
        EXPECT_STREQ(log(), "set_xwindow(0);media_release(3);");
        clear();
        // The second open reuses instance and player and detaches the old window first.
        ASSERT_TRUE(p.Open(99, QStringLiteral("/v/b.mp4")));
        EXPECT_STREQ(log(), "set_xwindow(0);media_new(/v/b.mp4);set_media(4);set_xwindow(99);");
        clear();
        // Opening over an open media releases the old one after the new is attached.
        ASSERT_TRUE(p.Open(7, QStringLiteral("/v/c.mp4")));
        EXPECT_STREQ(log(), "set_xwindow(0);media_new(/v/c.mp4);set_media(5);set_xwindow(7);"
                            "media_release(4);");
        clear();
    }
    EXPECT_STREQ(log(), "set_xwindow(0);player_release;media_release(5);release;");
    dlclose(h);
}
