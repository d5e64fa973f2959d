#include "FeedbackExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace halvora::service {

namespace {

// Control characters shown as text (\x1b, \u009b), so that a stored escape sequence never
// reaches the maker's terminal; AKeep names the ones left as they are.
QString Visible(const QString& AText, const QString& AKeep) {
    QString out;
    out.reserve(AText.size());
    for (QChar c : AText) {
        if (c.category() != QChar::Other_Control || AKeep.contains(c))
            out += c;
        else if (c.unicode() < 0x80)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}

// QJsonDocument escapes C0 controls itself but writes DEL and C1 controls as they are; in its
// output those bytes occur only inside strings.
QByteArray JsonVisible(const QByteArray& AJson) {
    QByteArray out;
    out.reserve(AJson.size());
    for (qsizetype i = 0; i < AJson.size(); ++i) {
        const unsigned char c = uchar(AJson[i]),
                            next = i + 1 < AJson.size() ? uchar(AJson[i + 1]) : 0;
        if (c == 0x7f) {
            out += "\\u007f";
        } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
            out += "\\u00" + QByteArray::number(next, 16);
            ++i;
        } else {
            out += char(c);
        }
    }
    return out;
}

QByteArray CsvCell(const QString& AText) {
    QString t = Visible(AText, QStringLiteral("\t\r\n"));
    if (!t.isEmpty() && QStringLiteral("=+-@\t\r").contains(t[0]))
        t.prepend(QLatin1Char('\''));
    if (t.contains(QLatin1Char(',')) || t.contains(QLatin1Char('"')) ||
        t.contains(QLatin1Char('\n')) || t.contains(QLatin1Char('\r')) ||
        t.contains(QLatin1Char('\''))) {
        t.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        t = QLatin1Char('"') + t + QLatin1Char('"');
    }
    return t.toUtf8();
}

} // namespace

QByteArray FormatFeedback(const QList<StoredFeedback>& APosts, ExportFormat AFormat) {
    QByteArray out;
    switch (AFormat) {
    case ExportFormat::Text:
        for (const StoredFeedback& f : APosts) {
            out += QStringLiteral("#%1  %2  %3\n  from %4  version %5  %6  machine %7\n")
                       .arg(f.id)
                       .arg(Visible(f.received, {}), Visible(f.post.email, {}),
                            Visible(f.client, {}), Visible(f.post.ver, {}), Visible(f.post.os, {}),
                            f.post.mc.isEmpty() ? QStringLiteral("-")
                                                : Visible(f.post.mc.left(16), {}))
                       .toUtf8();
            QString message = f.post.message;
            message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            for (const QString& line : message.split(QLatin1Char('\n')))
                out += "  | " + Visible(line, QStringLiteral("\t")).toUtf8() + "\n";
            out += "\n";
        }
        break;
    case ExportFormat::Csv:
        out += "id,received,client,name,email,message,ver,os,mc,src\r\n";
        for (const StoredFeedback& f : APosts) {
            const QStringList cells{
                QString::number(f.id), f.received, f.client,  f.post.name, f.post.email,
                f.post.message,        f.post.ver, f.post.os, f.post.mc,   f.post.src};
            for (qsizetype i = 0; i < cells.size(); ++i)
                out += (i ? "," : "") + CsvCell(cells[i]);
            out += "\r\n";
        }
        break;
    case ExportFormat::Json: {
        QJsonArray list;
        for (const StoredFeedback& f : APosts)
            list.append(QJsonObject{{QStringLiteral("id"), double(f.id)},
                                    {QStringLiteral("received"), f.received},
                                    {QStringLiteral("client"), f.client},
                                    {QStringLiteral("name"), f.post.name},
                                    {QStringLiteral("email"), f.post.email},
                                    {QStringLiteral("message"), f.post.message},
                                    {QStringLiteral("ver"), f.post.ver},
                                    {QStringLiteral("os"), f.post.os},
                                    {QStringLiteral("mc"), f.post.mc},
                                    {QStringLiteral("src"), f.post.src}});
        out = JsonVisible(QJsonDocument(list).toJson(QJsonDocument::Indented));
        break;
    }
    }
    return out;
}

} // namespace halvora::service
