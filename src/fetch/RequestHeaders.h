#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace halvora {

// The request headers a user gives a link: sent with every playlist, key, segment and
// quality-reading request of it. Nothing of it is stored.
struct RequestHeaders {
    QStringList lines;  // "Name: value", each checked by ReadHeaderLines
    QString cookieFile; // a Netscape cookies.txt; empty for none

    bool isEmpty() const { return lines.isEmpty() && cookieFile.isEmpty(); }
    // The lines as name and value.
    QList<QPair<QByteArray, QByteArray>> pairs() const;
};

// Reads AText, one "Name: value" per line (blank lines skipped), into AHeaders->lines.
// Empty when every line is a token name followed by a value without CR, LF or other control
// characters; else the text that says which line is refused and why.
QString ReadHeaderLines(const QString& AText, RequestHeaders* AHeaders);

// Empty when ACookieFile (empty: none) can be read as a Netscape cookies.txt; else why not.
QString CheckCookieFile(const QString& ACookieFile);

} // namespace halvora
