// What a drop or the command line does with the items it hands over.
#include "InputItems.h"

#include <QMimeData>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

const auto kFolders = [](const QString& APath) {
    return APath == QLatin1String("/media/rec") || APath == QLatin1String("/media/My Shows");
};

QUrl File(const char* APath) {
    return QUrl::fromLocalFile(QString::fromUtf8(APath));
}

} // namespace

TEST(InputItems, DecisionTable) {
    using T = InputTarget;
    using A = InputAction;
    struct Row {
        const char* what;
        QList<QUrl> items;
        T target;
        A action;
        QString text;
        int ignored;
    };
    const QUrl link(QStringLiteral("https://cdn.example.org/live/index.m3u8?token=a%20b"));
    const QUrl escaped(QStringLiteral("file:///media/Sh%C3%B6ws/%C3%A9t%C3%A9%20100%25.ts"));
    const std::vector<Row> rows{
        {"file on main", {File("/media/a.ts")}, T::MainWindow, A::FillInput, "/media/a.ts", 0},
        {"playlist on main", {File("/m/x.m3u8")}, T::MainWindow, A::FillInput, "/m/x.m3u8", 0},
        {"mp4 on main", {File("/m/x.mp4")}, T::MainWindow, A::FillInput, "/m/x.mp4", 0},
        {"link on main",
         {link},
         T::MainWindow,
         A::FillInput,
         "https://cdn.example.org/live/index.m3u8?token=a%20b",
         0},
        {"folder on main", {File("/media/rec")}, T::MainWindow, A::FillRoot, "/media/rec", 0},
        {"percent-escapes and non-ASCII",
         {escaped},
         T::MainWindow,
         A::FillInput,
         QStringLiteral("/media/Shöws/été 100%.ts"),
         0},
        {"several: the first",
         {File("/media/My Shows"), File("/a.ts"), link},
         T::MainWindow,
         A::FillRoot,
         "/media/My Shows",
         2},
        {"empty drop", {}, T::MainWindow, A::None, "", 0},
        {"ftp link refused", {QUrl("ftp://h/x.ts")}, T::MainWindow, A::None, "", 0},
        {"link without host", {QUrl("http:///x")}, T::MainWindow, A::None, "", 0},
        {"mp4 on clip", {File("/m/Clip.MP4")}, T::ClipWindow, A::OpenClip, "/m/Clip.MP4", 0},
        {"ts on clip (Open takes any file)",
         {File("/m/a.ts")},
         T::ClipWindow,
         A::OpenClip,
         "/m/a.ts",
         0},
        {"several on clip",
         {File("/m/a.mp4"), File("/m/b.mp4")},
         T::ClipWindow,
         A::OpenClip,
         "/m/a.mp4",
         1},
        {"folder on clip refused", {File("/media/rec")}, T::ClipWindow, A::None, "", 0},
        {"link on clip refused", {link}, T::ClipWindow, A::None, "", 0},
        {"empty on clip", {}, T::ClipWindow, A::None, "", 0},
        {"mp4 named on the command line",
         {File("/m/a.mp4")},
         T::CommandLine,
         A::OpenClip,
         "/m/a.mp4",
         0},
        {"ts named on the command line",
         {File("/m/a.ts")},
         T::CommandLine,
         A::FillInput,
         "/m/a.ts",
         0},
        {"folder named on the command line",
         {File("/media/rec")},
         T::CommandLine,
         A::FillRoot,
         "/media/rec",
         0},
        {"link named on the command line",
         {link},
         T::CommandLine,
         A::FillInput,
         "https://cdn.example.org/live/index.m3u8?token=a%20b",
         0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const InputChoice c = ChooseInput(r.items, r.target, kFolders);
        EXPECT_EQ(c.action, r.action);
        EXPECT_EQ(c.text, r.text);
        EXPECT_EQ(c.ignored, r.ignored);
    }
}

TEST(InputItems, WhatADropCarries) {
    QMimeData uris;
    uris.setUrls({QUrl("file:///a%20b.ts"), QUrl("https://h/x.m3u8")});
    EXPECT_EQ(MimeItems(uris), (QList<QUrl>{QUrl("file:///a%20b.ts"), QUrl("https://h/x.m3u8")}));
    // A link dragged as text (from a browser's address bar, a terminal).
    QMimeData text;
    text.setText(QStringLiteral("  https://h/live.m3u8\nsecond line"));
    EXPECT_EQ(MimeItems(text), QList<QUrl>{QUrl("https://h/live.m3u8")});
    text.setText(QStringLiteral("/home/u/My Rec/a.ts"));
    EXPECT_EQ(MimeItems(text), QList<QUrl>{QUrl::fromLocalFile("/home/u/My Rec/a.ts")});
    text.setText(QStringLiteral("just some words"));
    EXPECT_TRUE(MimeItems(text).isEmpty());
    EXPECT_TRUE(MimeItems(QMimeData()).isEmpty());
}

TEST(InputItems, CommandLineArguments) {
    const QList<QUrl> items =
        ArgumentItems({"a.ts", "../up/b.m3u8", "/abs/c d.mp4", "https://h/x.m3u8",
                       "file:///e%C3%A9.ts", "-dash.ts", "weird:thing"},
                      "/work/here");
    ASSERT_EQ(items.size(), 7);
    EXPECT_EQ(items[0].toLocalFile(), "/work/here/a.ts");
    EXPECT_EQ(items[1].toLocalFile(), "/work/up/b.m3u8");
    EXPECT_EQ(items[2].toLocalFile(), "/abs/c d.mp4");
    EXPECT_EQ(items[3], QUrl("https://h/x.m3u8"));
    EXPECT_EQ(items[4].toLocalFile(), QStringLiteral("/eé.ts"));
    EXPECT_EQ(items[5].toLocalFile(), "/work/here/-dash.ts");
    // A name that only looks like a URL is a file in the current folder.
    EXPECT_EQ(items[6].toLocalFile(), "/work/here/weird:thing");

    EXPECT_EQ(IgnoredItemsText(0), "");
    EXPECT_EQ(IgnoredItemsText(1), "Took the first of 2 items; the other was ignored.");
    EXPECT_EQ(IgnoredItemsText(2), "Took the first of 3 items; the other 2 were ignored.");
}
