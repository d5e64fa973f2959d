#pragma once

#include <QByteArray>
#include <QString>

namespace halvora {

// The display matrix of an MP4's first video track (its tkhd): how players turn and mirror
// the picture. Pieces that travel through MPEG-TS lose it, so the join puts it back.

// The 36 bytes of the matrix as stored; empty when the file has no MP4 video track.
QByteArray ReadVideoMatrix(const QString& AFile);

// Writes AMatrix (36 bytes) over the first video track's matrix, in place; false when the file
// has no such track or can't be written.
bool WriteVideoMatrix(const QString& AFile, const QByteArray& AMatrix);

// True for the matrix that shows the picture as stored.
bool IsIdentityMatrix(const QByteArray& AMatrix);

} // namespace halvora
