#pragma once

#include "FeedbackForm.h"

#include <QList>
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

struct sqlite3;
struct sqlite3_stmt;

namespace halvora::service {

struct StoredFeedback {
    std::int64_t id = 0;
    QString received; // UTC, "YYYY-MM-DDTHH:MM:SS.mmmZ"
    QString client;   // the sender's address
    FeedbackPost post;
};

// The feedback database (SQLite, write-ahead log). One writer thread takes every waiting post
// into one transaction, so concurrent senders share a commit; Add returns only once the row's
// transaction is committed to disk.
class FeedbackStore {
public:
    FeedbackStore() = default;
    ~FeedbackStore();
    FeedbackStore(const FeedbackStore&) = delete;
    FeedbackStore& operator=(const FeedbackStore&) = delete;

    // Opens (creating when needed) the database and starts the writer.
    bool Open(const QString& APath, QString& AErr);
    // Stores one post; true once it is durably committed.
    bool Add(const FeedbackPost& APost, const QString& AClient, QString& AErr);
    // Finishes the posts already handed in, then stops the writer and closes the database.
    void Close();

private:
    struct Pending;
    void WriterLoop();
    bool CommitBatch(const std::deque<Pending*>& ABatch, QString& AErr);
    void Finalize(); // the statements and the database

    sqlite3* FDb = nullptr;
    sqlite3_stmt* FBegin = nullptr;
    sqlite3_stmt* FInsert = nullptr;
    sqlite3_stmt* FCommit = nullptr;
    std::mutex FMutex;
    std::condition_variable FWake; // posts waiting, or stopping
    std::condition_variable FDone; // a batch is committed (or failed)
    std::deque<Pending*> FQueue;
    bool FStopping = false;
    std::thread FWriter;
};

// Reading the store for the maker: posts received at or after ASince (empty: all), newest first.
bool ReadFeedback(const QString& APath, const QString& ASince, QList<StoredFeedback>& AOut,
                  QString& AErr);

// "YYYY-MM-DD" or an ISO date and time (UTC unless it names its offset) as the store's time
// text; empty when the text is no such date.
QString SinceKey(const QString& AText);

} // namespace halvora::service
