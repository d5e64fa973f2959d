#include "FeedbackExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace halvora::service {

namespace {

QByteArray CsvCell(const QString& AText) {
    QString t = AText;
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
                       .arg(f.received, f.post.email, f.client, f.post.ver, f.post.os,
                            f.post.mc.isEmpty() ? QStringLiteral("-") : f.post.mc.left(16))
                       .toUtf8();
            QString message = f.post.message;
            message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            for (const QString& line : message.split(QLatin1Char('\n')))
                out += "  | " + line.toUtf8() + "\n";
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
        out = QJsonDocument(list).toJson(QJsonDocument::Indented);
        break;
    }
    }
    return out;
}

} // namespace halvora::service
