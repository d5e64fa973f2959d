// Without a Qt platform that has X11 windows the player never calls libVLC.
#include "VLCPlayer.h"

#include <QFile>
#include <dlfcn.h>
#include <gtest/gtest.h>

using namespace halvora;

TEST(VlcPlayerNoX11, OpenFailsWithoutCallingLibVlc) {
    const QString lib = QStringLiteral(FAKE_VLC_MINIMAL);
    void* h = dlopen(QFile::encodeName(lib).constData(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    auto log = reinterpret_cast<const char* (*)()>(dlsym(h, "fake_vlc_log"));
    ASSERT_NE(log, nullptr);
    {
        TVLCPlayer p({lib});
        EXPECT_TRUE(p.Load());
        EXPECT_FALSE(p.Open(1234, QStringLiteral("/v/a.mp4")));
        EXPECT_FALSE(p.IsOpen());
        p.Play();
    }
    EXPECT_STREQ(log(), "");
    dlclose(h);
}
