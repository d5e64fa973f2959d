#include "FeedbackPost.h"
#include "SendFlow.h"
#include "SystemTexts.h"
#include "TestSupport.h"

#include <QRegularExpression>
#include <QSysInfo>
#include <gtest/gtest.h>
#include <sys/utsname.h>

using namespace halvora;

namespace {

// An independent reading of application/x-www-form-urlencoded: pairs split at '&' and the
// first '=', '+' as a blank, %XX as a byte, the bytes as UTF-8.
QStringList DecodeForm(const QByteArray& ABody) {
    const auto decode = [](const QByteArray& APart) {
        QByteArray bytes;
        for (qsizetype i = 0; i < APart.size(); ++i) {
            const char c = APart[i];
            if (c == '+') {
                bytes += ' ';
            } else if (c == '%' && i + 2 < APart.size()) {
                bool ok = false;
                bytes += char(APart.mid(i + 1, 2).toInt(&ok, 16));
                EXPECT_TRUE(ok) << APart.toStdString();
                i += 2;
            } else {
                bytes += c;
            }
        }
        return QString::fromUtf8(bytes);
    };
    QStringList items;
    for (const QByteArray& pair : ABody.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        items << decode(pair.left(eq)) + u'=' + decode(pair.mid(eq + 1));
    }
    return items;
}

} // namespace

TEST(FeedbackForm, FieldListHasSevenItemsInOrder) {
    const QStringList items = FeedbackFields(
        QStringLiteral("me@mail.org"), QStringLiteral("a=b\r\nc"), QStringLiteral("1.2.3.4"),
        QStringLiteral("Linux 6.1.0-28-amd64 Debian GNU/Linux 12 (bookworm) x86_64"),
        QStringLiteral("abc"));
    EXPECT_EQ(items, QStringList({"name=me@mail.org", "email=me@mail.org", "message=a=b\r\nc",
                                  "ver=1.2.3.4",
                                  "os=Linux 6.1.0-28-amd64 Debian GNU/Linux 12 (bookworm) x86_64",
                                  "mc=abc", "src=Halvora"}));
}

TEST(FeedbackForm, EncodingTable) {
    EXPECT_EQ(FormBody({QStringLiteral("message=Hi there, 50% off!")}),
              "message=Hi+there%2C+50%25+off!");
    EXPECT_EQ(FormEncode(QStringLiteral("line\r\nbreak")), "line%0D%0Abreak");
    EXPECT_EQ(FormEncode(QStringLiteral("a=b&c@d")), "a%3Db%26c@d");
    const QString kept = QStringLiteral("ABCXYZabcxyz0189!$'()*-.@_");
    EXPECT_EQ(FormEncode(kept), kept.toLatin1());
    EXPECT_EQ(FormEncode(QStringLiteral("~/+#?\x7f")), "%7E%2F%2B%23%3F%7F");
    EXPECT_EQ(FormEncode(QString(QChar(0))), "%00");
    EXPECT_EQ(FormEncode(QString::fromUtf16(u"é€")), "%C3%A9%E2%82%AC");
    EXPECT_EQ(FormEncode(QString::fromUtf16(u"\U0001F600")),
              "%F0%9F%98%80"); // one pair, four bytes
    EXPECT_EQ(FormEncode(QString(QChar(0xD800))), "%EF%BF%BD");
    // Key and value are encoded apart; only the first '=' separates them.
    EXPECT_EQ(FormBody({"k y=v=w", "src=Halvora"}), "k+y=v%3Dw&src=Halvora");
}

TEST(FeedbackForm, BodyDecodesBackToTheItems) {
    const QStringList items =
        FeedbackFields(QStringLiteral("ö.user+tag@mail.org"),
                       WithCrLf(QString::fromUtf16(u"Hi there,\n50% off! a=b&c\n\tТест 😀 ~")),
                       AppVersionText(), OSVersionText(), MachineIdText());
    const QByteArray body = FormBody(items);
    for (char c : body)
        ASSERT_TRUE(c > 0x20 && c < 0x7f) << body.toStdString();
    EXPECT_EQ(DecodeForm(body), items);
    EXPECT_TRUE(body.contains("%0D%0A"));
    EXPECT_TRUE(body.endsWith("&src=Halvora"));
}

TEST(FeedbackForm, LineBreaksBecomeCrLf) {
    EXPECT_EQ(WithCrLf(QStringLiteral("a\nb\r\nc\rd\n\n")),
              QStringLiteral("a\r\nb\r\nc\r\nd\r\n\r\n"));
}

// Accepted when the reply, read as JSON, is an object whose "ok" member is the boolean true;
// the text "ok":true elsewhere in it, or anything that merely looks like it, is not enough.
TEST(FeedbackReply, AcceptedWhenOkIsTheBooleanTrue) {
    struct Case {
        const char* reply;
        bool accepted;
    };
    const Case cases[] = {
        {R"({"ok":true})", true},
        {R"({"status":1,"ok":  true,"x":2})", true},
        {"{\"ok\":\ttrue}", true}, // blanks of any kind around JSON's tokens
        {"{\"ok\":\ntrue}", true},
        {"{\"ok\"\r\n:true}", true},
        {R"({"ok":true,"ok":false})", true}, // the first of a repeated key counts
        {R"({"ok":false,"ok":true})", false},
        {R"({"ok":false,"error":"\"ok\":true"})", false}, // the text inside a string
        {R"({"note":"\"ok\":true"})", false},
        {R"(not json but "ok":true)", false},
        {R"({"ok":true} and more)", false},
        {R"({ "OK" : TRUE })", false}, // neither the key nor the literal is JSON's
        {R"({"OK":true})", false},
        {R"({"ok":"true"})", false},
        {R"({"ok":1})", false},
        {R"({"ok":false})", false},
        {R"({ok:true})", false},
        {R"([{"ok":true}])", false},
        {R"({"inner":{"ok":true}})", false},
        {"", false},
        {"OK", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsReplyAccepted(QString::fromUtf8(c.reply)), c.accepted) << c.reply;
        EXPECT_EQ(ReadFeedbackReply(QString::fromUtf8(c.reply)).accepted, c.accepted) << c.reply;
    }
}

TEST(FeedbackReply, ServerErrorText) {
    EXPECT_EQ(ServerErrorText(R"({"ok":false,"error":"Message too short"})"), "Message too short");
    EXPECT_EQ(ServerErrorText(R"({"error":"first","error":"second"})"), "first");
    EXPECT_EQ(ServerErrorText(R"({"error":"\u00e9t\u00e9 \"q\""})"),
              QString::fromUtf16(u"été \"q\""));
    EXPECT_EQ(ServerErrorText(R"({"error":429})"), "429");
    EXPECT_EQ(ServerErrorText(R"({"error":1.50e3})"), "1.50e3");
    EXPECT_EQ(ServerErrorText(R"({"Error":"x"})"), "");
    EXPECT_EQ(ServerErrorText(R"([{"error":"x"}])"), "");
    EXPECT_EQ(ServerErrorText(R"({"inner":{"error":"x"}})"), "");
    EXPECT_EQ(ServerErrorText(""), "");
    EXPECT_EQ(ServerErrorText("<html>502 Bad Gateway</html>"), "");
    EXPECT_EQ(ServerErrorText(R"({"error":"x"} trailing)"), "");
    // Nesting deep enough to overflow a recursive parser is just "not an object we know".
    EXPECT_EQ(ServerErrorText(QString(200000, u'[')), "");
    EXPECT_EQ(ServerErrorText(QStringLiteral("{\"a\":") + QString(200000, u'[')), "");
}

TEST(FeedbackDiagnostics, VersionAndSystemTexts) {
    EXPECT_EQ(AppVersionText(), QStringLiteral("1.0.31.6"));
    const QByteArray debian = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian "
                              "GNU/Linux\"\nVERSION_ID=\"12\"\nID=debian\n";
    EXPECT_EQ(OSVersionTextFrom("6.1.0-18-amd64", debian, "x86_64"),
              "Linux 6.1.0-18-amd64 Debian GNU/Linux 12 (bookworm) x86_64");
    // Quoting as os-release allows it: single quotes, escapes, none at all; blanks around.
    EXPECT_EQ(OsPrettyName("ID=x\n  PRETTY_NAME='Arch Linux'  \n"), "Arch Linux");
    EXPECT_EQ(OsPrettyName("PRETTY_NAME=\"Say \\\"hi\\\" \\$x\""), "Say \"hi\" $x");
    EXPECT_EQ(OsPrettyName("PRETTY_NAME=Plain"), "Plain");
    EXPECT_EQ(OsPrettyName("NAME=\"No pretty name\"\n"), "");
    // What is unknown is left out rather than shown empty.
    EXPECT_EQ(OSVersionTextFrom("6.8.0", "", "aarch64"), "Linux 6.8.0 aarch64");
    EXPECT_EQ(OSVersionTextFrom("", "", ""), "Linux");

    const QString running = OSVersionText();
    struct utsname info {};
    ASSERT_EQ(uname(&info), 0);
    EXPECT_TRUE(running.startsWith(QStringLiteral("Linux %1 ").arg(info.release)))
        << running.toStdString();
    EXPECT_TRUE(running.endsWith(QStringLiteral(" %1").arg(info.machine))) << running.toStdString();
    const QByteArray osRelease = test::ReadAll(QStringLiteral("/etc/os-release"));
    if (!OsPrettyName(osRelease).isEmpty()) {
        EXPECT_TRUE(running.contains(OsPrettyName(osRelease))) << running.toStdString();
    }
}

TEST(FeedbackDiagnostics, MachineIdIsKeyedDigestNeverTheRawId) {
    const QString dir = test::NewTempDir();
    const QString file = dir + QStringLiteral("/machine-id");
    ASSERT_TRUE(test::WriteAll(file, "0123456789abcdef0123456789abcdef\n"));
    // HMAC-SHA256 with the key "Halvora" over the id without its line break (openssl dgst -hmac).
    EXPECT_EQ(MachineIdTextFrom(file),
              "a566a0b04e28106412051868b7e0a9f6b66d0774e3082da32febadd057b35a80");
    ASSERT_TRUE(test::WriteAll(file, "\n"));
    EXPECT_EQ(MachineIdTextFrom(file), "");
    EXPECT_EQ(MachineIdTextFrom(dir + QStringLiteral("/missing")), "");

    const QString text = MachineIdText();
    const QByteArray raw = test::ReadAll(QStringLiteral("/etc/machine-id")).trimmed();
    if (raw.isEmpty())
        GTEST_SKIP() << "this machine has no /etc/machine-id";
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(text).hasMatch())
        << text.toStdString();
    EXPECT_FALSE(text.contains(QString::fromLatin1(raw)));
    EXPECT_EQ(text, MachineIdText()); // stable
}
