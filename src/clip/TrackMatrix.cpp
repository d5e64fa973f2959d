#include "TrackMatrix.h"

#include <QFile>
#include <QtEndian>

namespace halvora {

namespace {

constexpr qint64 kMatrixBytes = 36;

struct Box {
    QByteArray type;
    qint64 payload = 0; // offset of its content
    qint64 end = 0;
};

// The boxes inside [ABegin, AEnd); stops at the first malformed one.
QVector<Box> ChildBoxes(QFile& AFile, qint64 ABegin, qint64 AEnd) {
    QVector<Box> boxes;
    qint64 at = ABegin;
    while (at + 8 <= AEnd && AFile.seek(at)) {
        const QByteArray head = AFile.read(16);
        if (head.size() < 8)
            break;
        quint64 size = qFromBigEndian<quint32>(head.constData());
        qint64 header = 8;
        if (size == 1) {
            if (head.size() < 16)
                break;
            size = qFromBigEndian<quint64>(head.constData() + 8);
            header = 16;
        } else if (size == 0) {
            size = static_cast<quint64>(AEnd - at);
        }
        if (size < static_cast<quint64>(header) || size > static_cast<quint64>(AEnd - at))
            break;
        boxes << Box{head.mid(4, 4), at + header, at + static_cast<qint64>(size)};
        at += static_cast<qint64>(size);
    }
    return boxes;
}

const Box* Find(const QVector<Box>& ABoxes, const char* AType) {
    for (const Box& b : ABoxes)
        if (b.type == AType)
            return &b;
    return nullptr;
}

bool IsVideoTrack(QFile& AFile, const Box& ATrak) {
    const QVector<Box> trak = ChildBoxes(AFile, ATrak.payload, ATrak.end);
    const Box* mdia = Find(trak, "mdia");
    if (!mdia)
        return false;
    const QVector<Box> media = ChildBoxes(AFile, mdia->payload, mdia->end);
    const Box* hdlr = Find(media, "hdlr");
    // version and flags, pre_defined, then the handler type.
    return hdlr && hdlr->payload + 12 <= hdlr->end && AFile.seek(hdlr->payload + 8) &&
           AFile.read(4) == "vide";
}

// Offset of the first video track's matrix; -1 when there is none.
qint64 VideoMatrixOffset(QFile& AFile) {
    const Box* moov = nullptr;
    const QVector<Box> top = ChildBoxes(AFile, 0, AFile.size());
    moov = Find(top, "moov");
    if (!moov)
        return -1;
    for (const Box& trak : ChildBoxes(AFile, moov->payload, moov->end)) {
        if (trak.type != "trak" || !IsVideoTrack(AFile, trak))
            continue;
        const QVector<Box> children = ChildBoxes(AFile, trak.payload, trak.end);
        const Box* tkhd = Find(children, "tkhd");
        if (!tkhd || !AFile.seek(tkhd->payload))
            return -1;
        const QByteArray version = AFile.read(1);
        // Version 1 has 64-bit times: 12 bytes more before the matrix.
        const qint64 at = tkhd->payload + (version == QByteArray(1, '\1') ? 52 : 40);
        return at + kMatrixBytes <= tkhd->end ? at : -1;
    }
    return -1;
}

} // namespace

QByteArray ReadVideoMatrix(const QString& AFile) {
    QFile f(AFile);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const qint64 at = VideoMatrixOffset(f);
    if (at < 0 || !f.seek(at))
        return {};
    const QByteArray m = f.read(kMatrixBytes);
    return m.size() == kMatrixBytes ? m : QByteArray();
}

bool WriteVideoMatrix(const QString& AFile, const QByteArray& AMatrix) {
    if (AMatrix.size() != kMatrixBytes)
        return false;
    QFile f(AFile);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    const qint64 at = VideoMatrixOffset(f);
    return at >= 0 && f.seek(at) && f.write(AMatrix) == kMatrixBytes && f.flush();
}

bool IsIdentityMatrix(const QByteArray& AMatrix) {
    static const QByteArray identity = QByteArray::fromHex(
        "000100000000000000000000000000000001000000000000000000000000000040000000");
    return AMatrix == identity;
}

} // namespace halvora
