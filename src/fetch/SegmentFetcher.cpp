#include "SegmentFetcher.h"

#include "HttpClient.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <vector>

namespace halvora {

namespace {

using Clock = std::chrono::steady_clock;

// Enough of a body's start for two TS packets' sync bytes.
constexpr qsizetype kHeadBytes = 189;
// How far back the speed is measured.
constexpr int kSpeedWindowMs = 5000;

qint64 MsSince(Clock::time_point AThen, Clock::time_point ANow) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(ANow - AThen).count();
}

// One running attempt at one item.
struct Transfer {
    int item = -1;
    int attempt = 0; // 0: the first
    CURL* easy = nullptr;
    QFile out;
    QByteArray head;
    qint64 received = 0;
    qint64* allBytes = nullptr; // the fetch's running byte count
    Clock::time_point lastByte = Clock::now();
    bool writeFailed = false;
    TrustAnchors anchors;
    char error[CURL_ERROR_SIZE] = {};
};

// An item waiting for its next attempt.
struct Retry {
    int item = -1;
    int attempt = 0;
    Clock::time_point notBefore;
};

size_t OnBody(char* AData, size_t ASize, size_t ACount, void* AUser) {
    auto* t = static_cast<Transfer*>(AUser);
    const size_t len = ASize * ACount;
    t->lastByte = Clock::now();
    if (t->head.size() < kHeadBytes)
        t->head.append(AData, qMin(qsizetype(len), kHeadBytes - t->head.size()));
    if (t->out.write(AData, qint64(len)) != qint64(len)) {
        t->writeFailed = true;
        return CURL_WRITEFUNC_ERROR;
    }
    t->received += qint64(len);
    *t->allBytes += qint64(len);
    return len;
}

bool StartsAsTs(const QByteArray& AHead) {
    return !AHead.isEmpty() && AHead[0] == '\x47' && (AHead.size() <= 188 || AHead[188] == '\x47');
}

// Empty when the finished transfer brought exactly what was asked for; else why not.
QString Verify(const Transfer& AT, CURLcode ACode, const FetchItem& AItem) {
    if (AT.writeFailed)
        return QStringLiteral("cannot write %1").arg(AT.out.fileName());
    if (ACode != CURLE_OK) {
        if (!AT.anchors.error.isEmpty())
            return AT.anchors.error;
        const QString e = QString::fromUtf8(AT.error).trimmed();
        return e.isEmpty() ? QString::fromUtf8(curl_easy_strerror(ACode)) : e;
    }
    long status = 0;
    curl_easy_getinfo(AT.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != (AItem.range.whole() ? 200 : 206))
        return QStringLiteral("HTTP %1").arg(status);
    curl_off_t length = -1;
    curl_easy_getinfo(AT.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0 && AT.received != length)
        return QStringLiteral("%1 of %2 bytes").arg(AT.received).arg(length);
    if (!AItem.range.whole() && AT.received != AItem.range.length)
        return QStringLiteral("%1 of %2 bytes of the range")
            .arg(AT.received)
            .arg(AItem.range.length);
    if (AItem.expectTs && !StartsAsTs(AT.head))
        return QStringLiteral("not MPEG-TS (no sync byte)");
    return {};
}

} // namespace

struct SegmentFetcher::Impl {
    const FetchRules& rules;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    QHash<int, QString> failures;

    // One fetch.
    const QList<FetchItem>* items = nullptr;
    std::vector<std::unique_ptr<Transfer>> active;
    std::vector<Retry> retries;
    qsizetype nextFresh = 0;
    QList<int> missing;
    FetchTally tally;
    qint64 bytesNow = 0; // every body byte received in this fetch, failed attempts included
    std::deque<std::pair<Clock::time_point, qint64>> speedSamples;

    explicit Impl(const FetchRules& ARules) : rules(ARules) {
        HttpGlobalInit();
        multi = curl_multi_init();
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(qMax(1, rules.parallel)));
        curl_multi_setopt(multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
        for (const auto& h : rules.headers.pairs())
            headers = curl_slist_append(headers, (h.first + ": " + h.second).constData());
    }
    ~Impl() {
        dropAll();
        curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
    }

    void begin(const QList<FetchItem>& AItems);
    void startReady();
    bool start(int AItem, int AAttempt);
    void setRequest(Transfer& AT, const FetchItem& AItem);
    void collect();
    void checkStalls();
    void finish(Transfer& AT, const QString& AProblem);
    void release(Transfer& AT);
    void dropAll();
    int pollMs() const;
    void measure();
    bool finished() const {
        return active.empty() && retries.empty() && nextFresh >= items->size();
    }
};

void SegmentFetcher::Impl::begin(const QList<FetchItem>& AItems) {
    items = &AItems;
    failures.clear();
    missing.clear();
    retries.clear();
    speedSamples.clear();
    nextFresh = 0;
    bytesNow = 0;
    tally = FetchTally();
    tally.total = int(AItems.size());
    for (const FetchItem& i : AItems)
        if (QFile::exists(i.file)) {
            ++tally.done;
            tally.bytes += QFileInfo(i.file).size();
        }
}

void SegmentFetcher::Impl::setRequest(Transfer& AT, const FetchItem& AItem) {
    HttpRequest r;
    r.url = AItem.url;
    r.allowHttp = true; // a link the user typed, as ffmpeg would read it
    r.connectTimeoutMs = rules.stallMs;
    r.cookieFile = rules.headers.cookieFile;
    ApplyConnectionRules(AT.easy, r, &AT.anchors);
    const QByteArray url = AItem.url.toUtf8();
    curl_easy_setopt(AT.easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(AT.easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(AT.easy, CURLOPT_WRITEDATA, &AT);
    curl_easy_setopt(AT.easy, CURLOPT_ERRORBUFFER, AT.error);
    curl_easy_setopt(AT.easy, CURLOPT_PRIVATE, &AT);
    curl_easy_setopt(AT.easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(AT.easy, CURLOPT_BUFFERSIZE, 256L * 1024);
    if (headers)
        curl_easy_setopt(AT.easy, CURLOPT_HTTPHEADER, headers);
    if (!AItem.range.whole()) {
        const QByteArray range = QByteArray::number(AItem.range.offset) + '-' +
                                 QByteArray::number(AItem.range.offset + AItem.range.length - 1);
        curl_easy_setopt(AT.easy, CURLOPT_RANGE, range.constData());
    }
}

bool SegmentFetcher::Impl::start(int AItem, int AAttempt) {
    const FetchItem& item = (*items)[AItem];
    auto t = std::make_unique<Transfer>();
    t->item = AItem;
    t->attempt = AAttempt;
    t->allBytes = &bytesNow;
    t->out.setFileName(item.file + QStringLiteral(".part"));
    t->easy = curl_easy_init();
    if (!t->easy || !t->out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        failures[AItem] = QStringLiteral("cannot write %1").arg(t->out.fileName());
        missing << AItem;
        if (t->easy)
            curl_easy_cleanup(t->easy);
        return false;
    }
    setRequest(*t, item);
    curl_multi_add_handle(multi, t->easy);
    active.push_back(std::move(t));
    return true;
}

void SegmentFetcher::Impl::startReady() {
    const Clock::time_point now = Clock::now();
    std::sort(retries.begin(), retries.end(),
              [](const Retry& A, const Retry& B) { return A.item < B.item; });
    for (auto it = retries.begin(); it != retries.end() && int(active.size()) < rules.parallel;) {
        if (it->notBefore > now) {
            ++it;
            continue;
        }
        start(it->item, it->attempt);
        it = retries.erase(it);
    }
    while (int(active.size()) < rules.parallel && nextFresh < items->size()) {
        const int i = int(nextFresh++);
        if (!QFile::exists((*items)[i].file))
            start(i, 0);
    }
}

void SegmentFetcher::Impl::release(Transfer& AT) {
    curl_multi_remove_handle(multi, AT.easy);
    curl_easy_cleanup(AT.easy);
    AT.easy = nullptr;
    AT.out.close();
}

// A transfer that ended: its file kept when verified, else retried later or given up.
void SegmentFetcher::Impl::finish(Transfer& AT, const QString& AProblem) {
    const FetchItem& item = (*items)[AT.item];
    long status = 0;
    curl_easy_getinfo(AT.easy, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t retryAfter = -1;
    curl_easy_getinfo(AT.easy, CURLINFO_RETRY_AFTER, &retryAfter);
    const bool flushed = AT.out.flush();
    release(AT);
    if (AProblem.isEmpty() && flushed && QFile::rename(AT.out.fileName(), item.file)) {
        ++tally.done;
        ++tally.fetchedNow;
        tally.bytes += AT.received;
        tally.bytesOfDone += AT.received;
        return;
    }
    QFile::remove(AT.out.fileName());
    if (AT.attempt >= rules.retries) {
        failures[AT.item] = AProblem.isEmpty() ? QStringLiteral("cannot save") : AProblem;
        missing << AT.item;
        return;
    }
    qint64 waitMs = rules.backoffMs.isEmpty()
                        ? 0
                        : rules.backoffMs.value(AT.attempt, rules.backoffMs.constLast());
    if ((status == 429 || status == 503) && retryAfter > 0)
        waitMs = qMin<qint64>(qint64(retryAfter) * 1000, rules.retryAfterCapMs);
    retries.push_back({AT.item, AT.attempt + 1, Clock::now() + std::chrono::milliseconds(waitMs)});
}

void SegmentFetcher::Impl::collect() {
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
        if (m->msg != CURLMSG_DONE)
            continue;
        Transfer* t = nullptr;
        curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &t);
        const CURLcode code = m->data.result;
        finish(*t, Verify(*t, code, (*items)[t->item]));
        active.erase(std::find_if(active.begin(), active.end(),
                                  [t](const auto& A) { return A.get() == t; }));
    }
}

void SegmentFetcher::Impl::checkStalls() {
    const Clock::time_point now = Clock::now();
    for (auto it = active.begin(); it != active.end();) {
        if (MsSince((*it)->lastByte, now) < rules.stallMs) {
            ++it;
            continue;
        }
        finish(**it, QStringLiteral("no data for %1 s").arg((rules.stallMs + 999) / 1000));
        it = active.erase(it);
    }
}

void SegmentFetcher::Impl::dropAll() {
    for (auto& t : active) {
        release(*t);
        QFile::remove(t->out.fileName());
        missing << t->item;
    }
    active.clear();
}

int SegmentFetcher::Impl::pollMs() const {
    qint64 ms = 100;
    const Clock::time_point now = Clock::now();
    for (const Retry& r : retries)
        ms = qMin(ms, qMax<qint64>(0, MsSince(now, r.notBefore)));
    return int(qMax<qint64>(1, ms));
}

void SegmentFetcher::Impl::measure() {
    const Clock::time_point now = Clock::now();
    speedSamples.emplace_back(now, bytesNow);
    while (speedSamples.size() > 2 && MsSince(speedSamples.front().first, now) > kSpeedWindowMs)
        speedSamples.pop_front();
    const qint64 ms = MsSince(speedSamples.front().first, now);
    tally.bytesPerSecond =
        ms > 0 ? double(bytesNow - speedSamples.front().second) * 1000.0 / double(ms) : 0;
}

SegmentFetcher::SegmentFetcher(FetchRules ARules)
    : FRules(std::move(ARules)), d(std::make_unique<Impl>(FRules)) {}

SegmentFetcher::~SegmentFetcher() = default;

QList<int> SegmentFetcher::fetch(const QList<FetchItem>& AItems,
                                 const std::function<bool()>& ACancel,
                                 const std::function<void(const FetchTally&)>& AProgress) {
    d->begin(AItems);
    Clock::time_point lastReport;
    while (!d->finished()) {
        if (ACancel && ACancel()) {
            d->dropAll();
            for (const Retry& r : d->retries)
                d->missing << r.item;
            d->retries.clear();
            for (qsizetype i = d->nextFresh; i < AItems.size(); ++i)
                if (!QFile::exists(AItems[i].file))
                    d->missing << int(i);
            break;
        }
        d->startReady();
        int running = 0;
        curl_multi_perform(d->multi, &running);
        d->collect();
        d->checkStalls();
        if (AProgress && MsSince(lastReport, Clock::now()) >= 250) {
            d->measure();
            AProgress(d->tally);
            lastReport = Clock::now();
        }
        if (!d->finished())
            curl_multi_poll(d->multi, nullptr, 0, d->pollMs(), nullptr);
    }
    if (AProgress)
        AProgress(d->tally);
    std::sort(d->missing.begin(), d->missing.end());
    return d->missing;
}

QString SegmentFetcher::failure(int AIndex) const {
    return d->failures.value(AIndex);
}

} // namespace halvora
