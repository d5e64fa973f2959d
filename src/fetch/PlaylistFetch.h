#pragma once

#include "RequestHeaders.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace halvora {

// A playlist's text as fetched from a link or read from a local file.
struct PlaylistText {
    bool ok = false; // the text arrived (a link answered 2xx)
    long status = 0; // the HTTP status of a link, 0 for a file or when none arrived
    QByteArray body;
    QString error;    // why it did not arrive: "HTTP 404", a transport error, a file error
    QString finalUrl; // where a link's text came from, redirects followed; the path of a file
};

// Fetches a link (http or https, HALVORA_CA_FILE trusted besides the system's store, the
// user's request headers and cookies sent) or reads a local file; at most 4 MiB. ACancel,
// when set, is asked during a transfer.
PlaylistText FetchPlaylist(const QString& AUrlOrPath, const std::function<bool()>& ACancel = {},
                           const RequestHeaders& AHeaders = {});

} // namespace halvora
