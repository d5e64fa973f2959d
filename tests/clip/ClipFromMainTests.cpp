// "Edit MP4" in the main window opens a fresh modal clip window at every click and destroys it
// when it closes.
#include "ClipForm.h"
#include "TestSupport.h"
#include "Umain.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace halvora;

TEST(ClipFromMain, EditMp4OpensAFreshModalWindowEachTime) {
    DialogService dialogs;
    TForm2 main(dialogs);
    std::vector<QPointer<TClipForm>> seen;
    for (int round = 0; round < 2; ++round) {
        // Closes the modal window once it is up; the click returns only after that.
        QTimer::singleShot(0, [&] {
            ASSERT_TRUE(QTest::qWaitFor(
                [] { return qobject_cast<TClipForm*>(QApplication::activeModalWidget()); }, 5000));
            auto* form = qobject_cast<TClipForm*>(QApplication::activeModalWidget());
            EXPECT_EQ(form->parentWidget(), nullptr);
            EXPECT_EQ(form->windowTitle(),
                      "Halvora - MP4 Clip (mark segments to delete, stitch the rest)");
            seen.emplace_back(form);
            form->close();
        });
        main.BtnClip->click();
        ASSERT_EQ(seen.size(), static_cast<size_t>(round + 1));
        EXPECT_TRUE(seen.back().isNull()); // destroyed on close
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// halvora movie.mp4: the clip editor opens on it, as after its own Open.
TEST(ClipFromMain, CommandLineMp4OpensTheClipEditorOnIt) {
    const QString dir = test::NewTempDir("cli");
    ASSERT_TRUE(test::MakeVideo(dir + "/movie.mp4", 2));
    DialogService dialogs;
    TForm2 main(dialogs);
    QString loaded;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitFor(
            [] { return qobject_cast<TClipForm*>(QApplication::activeModalWidget()); }, 5000));
        auto* form = qobject_cast<TClipForm*>(QApplication::activeModalWidget());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form->InFile().isEmpty(); }, 20000));
        loaded = form->InFile();
        form->close();
    });
    main.OpenInput(ArgumentItems({"movie.mp4"}, dir), InputTarget::CommandLine);
    EXPECT_EQ(loaded, dir + "/movie.mp4");
    EXPECT_TRUE(main.EdtInput->text().isEmpty());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
