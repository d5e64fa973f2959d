#include "PlaylistFetch.h"

#include "HttpClient.h"
#include "Links.h"

#include <QFile>

namespace halvora {

namespace {

constexpr qint64 kPlaylistLimit = qint64(4) * 1024 * 1024;

} // namespace

PlaylistText FetchPlaylist(const QString& AUrlOrPath, const std::function<bool()>& ACancel,
                           const RequestHeaders& AHeaders) {
    PlaylistText t;
    t.finalUrl = AUrlOrPath;
    if (!IsUrl(AUrlOrPath)) {
        QFile f(AUrlOrPath);
        if (!f.open(QIODevice::ReadOnly)) {
            t.error = f.errorString();
            return t;
        }
        t.body = f.read(kPlaylistLimit);
        t.ok = true;
        return t;
    }
    HttpRequest r;
    r.url = AUrlOrPath;
    r.allowHttp = true;
    r.maxBodyBytes = kPlaylistLimit;
    r.cancel = ACancel;
    r.headers = AHeaders.pairs();
    r.cookieFile = AHeaders.cookieFile;
    const HttpResult h = HttpPerform(r);
    t.status = h.status;
    if (!h.finalUrl.isEmpty())
        t.finalUrl = h.finalUrl;
    if (!h.transportOk) {
        t.error = h.error;
        return t;
    }
    if (h.status < 200 || h.status > 299) {
        t.error = QStringLiteral("HTTP %1").arg(h.status);
        return t;
    }
    t.body = h.body;
    t.ok = true;
    return t;
}

} // namespace halvora
