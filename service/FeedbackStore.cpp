#include "FeedbackStore.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <sqlite3.h>

namespace halvora::service {

namespace {

const char kSchema[] = "CREATE TABLE IF NOT EXISTS feedback("
                       " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       " received TEXT NOT NULL,"
                       " client TEXT NOT NULL,"
                       " name TEXT NOT NULL,"
                       " email TEXT NOT NULL,"
                       " message TEXT NOT NULL,"
                       " ver TEXT NOT NULL,"
                       " os TEXT NOT NULL,"
                       " mc TEXT NOT NULL,"
                       " src TEXT NOT NULL);"
                       "CREATE INDEX IF NOT EXISTS feedback_received ON feedback(received);";

const int kBusyTimeoutMs = 10000;
const size_t kMaxBatch = 512;

QString DbError(sqlite3* ADb) {
    return QString::fromUtf8(ADb ? sqlite3_errmsg(ADb) : "out of memory");
}

bool Exec(sqlite3* ADb, const char* ASql, QString& AErr) {
    char* msg = nullptr;
    if (sqlite3_exec(ADb, ASql, nullptr, nullptr, &msg) == SQLITE_OK)
        return true;
    AErr = QString::fromUtf8(msg ? msg : sqlite3_errmsg(ADb));
    sqlite3_free(msg);
    return false;
}

void BindText(sqlite3_stmt* AStmt, int AIndex, const QString& AText) {
    const QByteArray utf8 = AText.toUtf8();
    sqlite3_bind_text(AStmt, AIndex, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString ColumnText(sqlite3_stmt* AStmt, int AIndex) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(AStmt, AIndex));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(AStmt, AIndex)) : QString();
}

QString NowKey() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

} // namespace

// Lives on the sender's stack; touched by the writer only under FMutex.
struct FeedbackStore::Pending {
    const FeedbackPost* post;
    const QString* client;
    bool done = false;
    QString err; // empty: committed
};

FeedbackStore::~FeedbackStore() {
    Close();
}

bool FeedbackStore::Open(const QString& APath, QString& AErr) {
    const QByteArray path = QFile::encodeName(APath);
    if (sqlite3_open_v2(path.constData(), &FDb,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        AErr = QStringLiteral("cannot open %1: %2").arg(APath, DbError(FDb));
        sqlite3_close(FDb);
        FDb = nullptr;
        return false;
    }
    sqlite3_busy_timeout(FDb, kBusyTimeoutMs);
    // FULL syncs the log at every commit: an acknowledged post survives a power cut too.
    if (!Exec(FDb, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", AErr) ||
        !Exec(FDb, kSchema, AErr)) {
        AErr = QStringLiteral("cannot prepare %1: %2").arg(APath, AErr);
        sqlite3_close(FDb);
        FDb = nullptr;
        return false;
    }
    if (sqlite3_prepare_v3(FDb, "BEGIN IMMEDIATE", -1, SQLITE_PREPARE_PERSISTENT, &FBegin,
                           nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(FDb,
                           "INSERT INTO feedback(received, client, name, email, message, ver, os, "
                           "mc, src) VALUES(?,?,?,?,?,?,?,?,?)",
                           -1, SQLITE_PREPARE_PERSISTENT, &FInsert, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(FDb, "COMMIT", -1, SQLITE_PREPARE_PERSISTENT, &FCommit, nullptr) !=
            SQLITE_OK) {
        AErr = QStringLiteral("cannot prepare %1: %2").arg(APath, DbError(FDb));
        Finalize();
        return false;
    }
    FStopping = false;
    FWriter = std::thread([this] { WriterLoop(); });
    return true;
}

bool FeedbackStore::Add(const FeedbackPost& APost, const QString& AClient, QString& AErr) {
    Pending p{&APost, &AClient, false, {}};
    std::unique_lock lock(FMutex);
    if (!FDb || FStopping) {
        AErr = QStringLiteral("the store is closed");
        return false;
    }
    FQueue.push_back(&p);
    FWake.notify_one();
    FDone.wait(lock, [&] { return p.done; });
    AErr = p.err;
    return AErr.isEmpty();
}

void FeedbackStore::WriterLoop() {
    for (;;) {
        std::deque<Pending*> batch;
        {
            std::unique_lock lock(FMutex);
            FWake.wait(lock, [this] { return FStopping || !FQueue.empty(); });
            if (FQueue.empty())
                return; // stopping, and nothing left to write
            while (!FQueue.empty() && batch.size() < kMaxBatch) {
                batch.push_back(FQueue.front());
                FQueue.pop_front();
            }
        }
        QString err;
        const bool ok = CommitBatch(batch, err);
        if (!ok && err.isEmpty())
            err = QStringLiteral("the post could not be stored");
        {
            std::lock_guard lock(FMutex);
            for (Pending* p : batch) {
                p->err = ok ? QString() : err;
                p->done = true;
            }
        }
        FDone.notify_all();
    }
}

bool FeedbackStore::CommitBatch(const std::deque<Pending*>& ABatch, QString& AErr) {
    // Prepared once and kept: parsing the same three statements for every batch costs more
    // than writing a small batch.
    auto step = [this](sqlite3_stmt* AStmt) {
        const bool done = sqlite3_step(AStmt) == SQLITE_DONE;
        sqlite3_reset(AStmt);
        return done;
    };
    if (!step(FBegin)) {
        AErr = DbError(FDb);
        return false;
    }
    const QString received = NowKey();
    bool ok = true;
    for (size_t i = 0; ok && i < ABatch.size(); ++i) {
        const FeedbackPost& f = *ABatch[i]->post;
        BindText(FInsert, 1, received);
        BindText(FInsert, 2, *ABatch[i]->client);
        BindText(FInsert, 3, f.name);
        BindText(FInsert, 4, f.email);
        BindText(FInsert, 5, f.message);
        BindText(FInsert, 6, f.ver);
        BindText(FInsert, 7, f.os);
        BindText(FInsert, 8, f.mc);
        BindText(FInsert, 9, f.src);
        ok = step(FInsert);
    }
    sqlite3_clear_bindings(FInsert);
    ok = ok && step(FCommit);
    if (!ok) {
        AErr = DbError(FDb);
        QString ignored;
        Exec(FDb, "ROLLBACK", ignored);
    }
    return ok;
}

void FeedbackStore::Close() {
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
    if (FWriter.joinable())
        FWriter.join();
    Finalize();
}

void FeedbackStore::Finalize() {
    for (sqlite3_stmt** stmt : {&FBegin, &FInsert, &FCommit}) {
        sqlite3_finalize(*stmt);
        *stmt = nullptr;
    }
    sqlite3_close(FDb);
    FDb = nullptr;
}

QString SinceKey(const QString& AText) {
    QDateTime t;
    if (AText.size() == 10) {
        const QDate d = QDate::fromString(AText, Qt::ISODate);
        if (d.isValid())
            t = QDateTime(d, QTime(0, 0), Qt::UTC);
    } else {
        t = QDateTime::fromString(AText, Qt::ISODateWithMs);
        if (t.isValid() && t.timeSpec() == Qt::LocalTime)
            t.setTimeSpec(Qt::UTC);
    }
    if (!t.isValid())
        return {};
    return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

bool ReadFeedback(const QString& APath, const QString& ASince, QList<StoredFeedback>& AOut,
                  QString& AErr) {
    AOut.clear();
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(APath);
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        AErr = QStringLiteral("cannot open %1: %2").arg(APath, DbError(db));
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_stmt* stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db,
                                 "SELECT id, received, client, name, email, message, ver, os, "
                                 "mc, src FROM feedback WHERE received >= ? ORDER BY id DESC",
                                 -1, &stmt, nullptr) == SQLITE_OK;
    if (ok) {
        BindText(stmt, 1, ASince);
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            StoredFeedback f;
            f.id = sqlite3_column_int64(stmt, 0);
            f.received = ColumnText(stmt, 1);
            f.client = ColumnText(stmt, 2);
            f.post = {ColumnText(stmt, 3), ColumnText(stmt, 4), ColumnText(stmt, 5),
                      ColumnText(stmt, 6), ColumnText(stmt, 7), ColumnText(stmt, 8),
                      ColumnText(stmt, 9)};
            AOut.append(f);
        }
        ok = rc == SQLITE_DONE;
    }
    if (!ok)
        AErr = QStringLiteral("cannot read %1: %2").arg(APath, DbError(db));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return ok;
}

} // namespace halvora::service
