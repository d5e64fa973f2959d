// The desktop program's own code against the maker's side: a release made by halvora-publish,
// served by halvora-service over HTTPS with the tests' CA, provisioned and installed by
// TUpdater and the real helper; a post from the feedback window stored once.
#include "FakeDialogs.h"
#include "FeedbackStore.h"
#include "ServiceFixture.h"
#include "SystemTexts.h"
#include "TFormFeedback.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "Updater.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

QString HelperProgram() {
    return QFileInfo(ServiceProgram()).path() + "/updater";
}

// A tar.gz of files (name, content, mode) made with libarchive.
void TarGz(const QString& APath, const QList<std::tuple<QByteArray, QByteArray, int>>& AFiles) {
    archive* a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    archive_write_add_filter_gzip(a);
    archive_write_open_filename(a, QFile::encodeName(APath).constData());
    for (const auto& [name, data, mode] : AFiles) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.constData());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, mode_t(mode));
        archive_entry_set_size(e, data.size());
        archive_write_header(a, e);
        archive_write_data(a, data.constData(), size_t(data.size()));
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

// Points the program at the service for the test's lifetime.
struct ServiceEnv {
    explicit ServiceEnv(const ServiceProcess& AService) {
        qputenv("HALVORA_SERVICE_URL", AService.baseUrl().toUtf8());
        qputenv("HALVORA_CA_FILE", QFile::encodeName(TestHttpServer::caFile()));
    }
    ~ServiceEnv() {
        qputenv("HALVORA_SERVICE_URL", "https://127.0.0.1:9");
        qunsetenv("HALVORA_CA_FILE");
    }
};

class Host : public UpdateHost {
public:
    bool RunOnWindowThread(const std::function<void()>& AWork) override {
        AWork();
        return true;
    }
    BoxAnswer Message(BoxKind, const QString& AText, BoxButtons) override {
        texts << AText;
        return BoxAnswer::Yes;
    }
    void QuitApplication() override { ++quits; }
    QStringList texts;
    int quits = 0;
};

} // namespace

TEST(EndToEnd, ProvisionedThenUpdatedFromPublishedReleases) {
    const QString site = NewTempDir("site"), db = NewTempDir("db") + "/feedback.db";
    QDir().mkpath(site + "/update");
    ServiceProcess svc(site, db);
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    ServiceEnv env(svc);

    // Release 1.0.31.6: the components only.
    const QString r1 = NewTempDir("release1");
    TarGz(r1 + "/ffmpeg-6.tar.gz", {{"ffmpeg", "#!/bin/sh\necho ffmpeg\n", 0755}});
    TarGz(r1 + "/vlc-3.tar.gz",
          {{"vlc/libvlc.so.5", "lib", 0644}, {"vlc/plugins/p.so", "p", 0644}});
    WriteAll(r1 + "/release.json", R"({"components":[
        {"id":"ffmpeg","name":"FFmpeg","file":"ffmpeg-6.tar.gz"},
        {"id":"vlc","name":"VLC runtime","file":"vlc-3.tar.gz"}]})");
    QString out;
    ASSERT_EQ(RunPublish(r1, site, &out), 0) << qPrintable(out);

    const QString app = NewTempDir("app") + "/";
    ASSERT_TRUE(QFile::copy(HelperProgram(), app + "updater"));
    {
        TUpdater u(app);
        u.SetHelperPath(app + "updater");
        ASSERT_TRUE(u.ComponentsNeeded());
        QString err;
        bool offline = true;
        QStringList status;
        u.EnsureComponents([&](const QString& AText) { status << AText; }, err, offline);
        EXPECT_TRUE(err.isEmpty()) << qPrintable(err);
        EXPECT_FALSE(offline);
        EXPECT_FALSE(u.ComponentsNeeded());
        EXPECT_TRUE(status.contains("Installing VLC runtime...")) << qPrintable(status.join('|'));
    }
    EXPECT_EQ(ReadAll(app + "ffmpeg"), "#!/bin/sh\necho ffmpeg\n");
    EXPECT_EQ(ReadAll(app + "vlc/libvlc.so.5"), "lib");
    EXPECT_EQ(ReadAll(app + "vlc/plugins/p.so"), "p");

    // Release 1.0.32.0 brings a new program file.
    const QString r2 = NewTempDir("release2");
    QFile::copy(r1 + "/ffmpeg-6.tar.gz", r2 + "/ffmpeg-6.tar.gz");
    QFile::copy(r1 + "/vlc-3.tar.gz", r2 + "/vlc-3.tar.gz");
    WriteAll(r2 + "/halvora", "#!/bin/sh\necho new > \"$(dirname \"$0\")/started\"\n");
    WriteAll(r2 + "/release.json",
             QString(R"({"version":"1.0.32.0","program":"halvora","url_base":"%1",
                         "notes":"Faster cuts","components":[
        {"id":"ffmpeg","name":"FFmpeg","file":"ffmpeg-6.tar.gz"},
        {"id":"vlc","name":"VLC runtime","file":"vlc-3.tar.gz"}]})")
                 .arg(svc.baseUrl())
                 .toUtf8());
    ASSERT_EQ(RunPublish(r2, site, &out), 0) << qPrintable(out);

    WriteAll(app + "halvora", "#!/bin/sh\necho old > \"$(dirname \"$0\")/started\"\n");
    QFile::setPermissions(app + "halvora", QFile::permissions(app + "halvora") | QFile::ExeOwner);
    Host host;
    {
        TUpdater u(app);
        u.SetHost(&host);
        u.SetHelperPath(app + "updater");
        u.SetCurrentVersion("1.0.31.6");
        u.SetRunningProgram(app + "halvora"); // not running: the helper need not wait
        u.CheckForUpdate();
        EXPECT_EQ(u.NewRelease(), 32);
    }
    ASSERT_EQ(host.texts.size(), 1) << qPrintable(host.texts.join('|'));
    EXPECT_TRUE(host.texts[0].contains("New: 1.0.32.0\nFaster cuts")) << qPrintable(host.texts[0]);
    EXPECT_EQ(host.quits, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReadAll(app + "started") == "new\n"; }, 30000));
    EXPECT_EQ(ReadAll(app + "halvora"), ReadAll(r2 + "/halvora"));

    // The running release is now the newest: nothing more is offered.
    Host again;
    {
        TUpdater u(app);
        u.SetHost(&again);
        u.SetCurrentVersion("1.0.32.0");
        u.CheckForUpdate();
    }
    EXPECT_TRUE(again.texts.isEmpty());
    EXPECT_EQ(svc.terminate(), 0);
}

TEST(EndToEnd, FeedbackWindowPostStoredOnceAsTyped) {
    const QString site = NewTempDir("site"), db = NewTempDir("db") + "/feedback.db";
    ServiceProcess svc(site, db);
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    ServiceEnv env(svc);
    FakeDialogs dialogs;
    TFormFeedback form(dialogs);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto* email = form.findChild<QLineEdit*>("EdtEmail");
    auto* memo = form.findChild<QPlainTextEdit*>("MemoMessage");
    auto* send = form.findChild<QPushButton*>("BtnSend");
    ASSERT_TRUE(email && memo && send);
    email->setText("  reader@mail-host.org ");
    memo->setFocus();
    memo->insertPlainText(QString::fromUtf8("Schnitt hängt bei "));
    QTest::keyClicks(memo, "50% & mehr");
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, "second line = fine");
    QTest::mouseClick(send, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, 30000))
        << qPrintable(dialogs.texts().join('|'));
    EXPECT_EQ(dialogs.texts(), QStringList{"Your feedback has been sent. Thank you!"});
    EXPECT_EQ(svc.terminate(), 0);

    QList<service::StoredFeedback> posts;
    QString err;
    ASSERT_TRUE(service::ReadFeedback(db, {}, posts, err)) << qPrintable(err);
    ASSERT_EQ(posts.size(), 1);
    const service::FeedbackPost& p = posts[0].post;
    EXPECT_EQ(p.email, "reader@mail-host.org");
    EXPECT_EQ(p.name, "reader@mail-host.org");
    EXPECT_EQ(p.message, QString::fromUtf8("Schnitt hängt bei 50% & mehr\r\nsecond line = fine"));
    EXPECT_EQ(p.src, "Halvora");
    EXPECT_FALSE(p.ver.isEmpty());
    EXPECT_EQ(p.os, OSVersionText());
    EXPECT_EQ(svc.log().count("\"POST /halvora/feedback\" 200"), 1);
}
