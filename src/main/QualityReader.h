#pragma once

#include "HlsMaster.h"
#include "HlsSource.h"
#include "WorkerJob.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace halvora {

// Reads the master playlist of the link being typed, in the background: each request waits
// for a pause in typing, a newer one abandons the older (and starts once it has let go), and a
// failure simply lists nothing.
class QualityReader : public QObject {
    Q_OBJECT

public:
    // Fetches a playlist; the function is asked while it runs whether to give up.
    using Fetcher =
        std::function<PlaylistText(const QString& AUrl, const std::function<bool()>& ACancel)>;

    explicit QualityReader(QObject* AParent = nullptr, Fetcher AFetch = {});
    ~QualityReader() override; // abandons the read still running and waits for it

    void setDelayMs(int AMs) { FTimer.setInterval(AMs); }
    // Sent with every read from now on (by the default fetcher).
    void setHeaders(const RequestHeaders& AHeaders) { FHeaders = AHeaders; }
    // The variants of ALink are wanted (when it is a link): read after the pause. Anything else
    // forgets the current list at once.
    void request(const QString& ALink);

    // The link the current list belongs to, and the list (no variants when none was read).
    QString link() const { return FLink; }
    const HlsPlaylist& playlist() const { return FPlaylist; }

signals:
    // The current list changed: read, or forgotten for another link.
    void variantsChanged();

private:
    // One read's outcome: the link's list (no variants when the read failed), unless abandoned.
    struct VariantsRead {
        QString link;
        HlsPlaylist list;
        bool abandoned = false;
    };
    static VariantsRead ReadVariants(const Fetcher& AFetch, const QString& ALink,
                                     const StopToken& AStop);
    // Reads the pending link, once the read before it has let go.
    void start();
    void readEnded(const VariantsRead& ARead, quint64 AGeneration);

    Fetcher FFetch; // empty: FetchPlaylist with FHeaders
    RequestHeaders FHeaders;
    QTimer FTimer;
    QString FRequested; // the link last asked for (empty: none)
    QString FPending;   // the link waiting for the pause
    QString FLink;
    HlsPlaylist FPlaylist;
    quint64 FGeneration = 0;
    WorkerJob FJob; // last: its read ends before the rest goes
};

} // namespace halvora
