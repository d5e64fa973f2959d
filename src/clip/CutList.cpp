#include "CutList.h"

#include "ClipTime.h"
#include "JsonReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdlib>

namespace halvora {

namespace {

// Seconds with exactly three decimals: 1.240.
QByteArray Decimal(double ASeconds) {
    const std::int64_t ms = ToMs(ASeconds);
    return QByteArray::number(ms / 1000) + '.' +
           QByteArray::number(std::llabs(ms % 1000)).rightJustified(3, '0');
}

// A number's literal as seconds, rounded to the millisecond; false for anything else.
bool Seconds(const JsonValue& AValue, double* ASeconds) {
    if (!AValue.hasText() || AValue.isObject())
        return false;
    bool ok = false;
    const double v = AValue.text().toDouble(&ok);
    if (!ok || !(v >= 0) || v > 1e9)
        return false;
    *ASeconds = RoundToMs(v);
    return true;
}

bool SaveBytes(const QString& APath, const QByteArray& ABytes, QString* AError) {
    QSaveFile f(APath);
    if (!f.open(QIODevice::WriteOnly) || f.write(ABytes) != ABytes.size() || !f.commit()) {
        if (AError)
            *AError = f.errorString();
        return false;
    }
    return true;
}

} // namespace

QString CutListPath(const QString& AVideo) {
    const QFileInfo fi(AVideo);
    return fi.dir().filePath(fi.completeBaseName() + QStringLiteral(".halvora-cuts.json"));
}

QByteArray CutListJson(const CutList& AList) {
    QByteArray out =
        "{\"format\":\"halvora-cuts\",\"version\":" + QByteArray::number(kCutListVersion) +
        ",\"video\":{\"size\":" + QByteArray::number(AList.videoSize) +
        ",\"duration\":" + Decimal(AList.videoDuration) + "},\"segments\":[";
    for (qsizetype i = 0; i < AList.segments.size(); ++i) {
        const DeleteSegment& s = AList.segments[i];
        out += (i ? ",\n  " : "\n  ");
        out += "{\"start\":" + Decimal(s.start) + ",\"end\":" + Decimal(s.end) + "}";
    }
    out += AList.segments.isEmpty() ? "]}\n" : "\n]}\n";
    return out;
}

bool ParseCutList(const QByteArray& AJson, CutList* AList, QString* AError) {
    auto fail = [AError](const QString& AWhy) {
        if (AError)
            *AError = AWhy;
        return false;
    };
    const JsonDocument doc(AJson);
    const JsonValue root = doc.root();
    if (!doc.isValid() || !root.isObject() ||
        root.member("format").text() != QLatin1String("halvora-cuts"))
        return fail(QStringLiteral("not a cut list"));
    if (root.member("version").toInt(-1) != kCutListVersion)
        return fail(QStringLiteral("cut list version %1 is not supported")
                        .arg(root.member("version").text()));
    CutList list;
    const JsonValue video = root.member("video");
    bool sizeOk = false;
    list.videoSize = video.member("size").text().toLongLong(&sizeOk);
    if (!sizeOk || !Seconds(video.member("duration"), &list.videoDuration))
        return fail(QStringLiteral("the video's size or duration is missing"));
    const JsonValue segs = root.member("segments");
    if (!segs.isArray())
        return fail(QStringLiteral("no segments"));
    for (int i = 0; i < segs.size(); ++i) {
        DeleteSegment s;
        if (!Seconds(segs.at(i).member("start"), &s.start) ||
            !Seconds(segs.at(i).member("end"), &s.end) || s.start >= s.end)
            return fail(QStringLiteral("segment %1 is not a stretch of start < end").arg(i + 1));
        list.segments << s;
    }
    *AList = list;
    return true;
}

bool WriteCutList(const QString& APath, const CutList& AList, QString* AError) {
    return SaveBytes(APath, CutListJson(AList), AError);
}

bool ReadCutList(const QString& APath, CutList* AList, QString* AError) {
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly)) {
        if (AError)
            *AError = f.errorString();
        return false;
    }
    // A cut list is small; anything far larger is not one.
    return ParseCutList(f.read(16 * 1024 * 1024), AList, AError);
}

QByteArray CutListCsv(const QVector<DeleteSegment>& ASegments) {
    QByteArray out = "start,end\n";
    for (const DeleteSegment& s : ASegments)
        out += Decimal(s.start) + ',' + Decimal(s.end) + '\n';
    return out;
}

bool WriteCutListCsv(const QString& APath, const QVector<DeleteSegment>& ASegments,
                     QString* AError) {
    return SaveBytes(APath, CutListCsv(ASegments), AError);
}

} // namespace halvora
