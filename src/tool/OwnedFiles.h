#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace halvora {

// What a run made on disk that is its own until it is done with it, and what becomes of it
// when the run dies without saying so.
enum class OwnedKind {
    Reservation, // a reserved output name: removed while still empty, or an MP4 left unfinished
    Recording,   // a link's TS: kept when it holds anything (the user's data), else removed
    TempFile,    // a hidden temporary file: removed
    WorkFolder,  // a working folder: removed with all it holds
    // A link's fetched segments, kept for the next Convert to go on from: only its unfinished
    // ("*.part") files are removed, and the folder once nothing is left in it.
    ResumableFolder,
};

// Records APath (as it is on disk now: its device and inode) in this run's journal, a file in
// JournalDir() named after the run. Owning a path again changes its kind.
void OwnFile(const QString& APath, OwnedKind AKind);
// Done with APath: it is no longer the journal's business.
void DisownFile(const QString& APath);

// $XDG_STATE_HOME/halvora/runs/HOST/, else ~/.local/state/halvora/runs/HOST/ (kept across a
// logout, which empties $XDG_RUNTIME_DIR).
QString JournalDir();

// At start: for every run whose journal is left and that no longer runs, does with its files
// what OwnedKind says, then drops its journal. A running run's files are never touched. Gives
// the recordings that were kept.
QStringList CleanDeadRuns();
// At a normal end: this run's own leftovers go the same way and its journal is removed.
void EndRun();

// The sentence the next start shows about recordings a dead run left; empty for none.
QString KeptRecordingsText(const QStringList& APaths);

// Disowns the paths when the scope ends (however the flow leaves it).
class DisownAtEnd {
public:
    explicit DisownAtEnd(QStringList APaths) : FPaths(std::move(APaths)) {}
    ~DisownAtEnd() {
        for (const QString& p : FPaths)
            DisownFile(p);
    }
    DisownAtEnd(const DisownAtEnd&) = delete;
    DisownAtEnd& operator=(const DisownAtEnd&) = delete;

private:
    QStringList FPaths;
};

// A QTemporaryDir that the journal knows as this run's working folder while it exists.
class OwnedTempDir {
public:
    OwnedTempDir() {
        if (FDir.isValid())
            OwnFile(FDir.path(), OwnedKind::WorkFolder);
    }
    ~OwnedTempDir() {
        if (FDir.isValid())
            DisownFile(FDir.path());
    }
    OwnedTempDir(const OwnedTempDir&) = delete;
    OwnedTempDir& operator=(const OwnedTempDir&) = delete;
    bool isValid() const { return FDir.isValid(); }
    QString path() const { return FDir.path(); }

private:
    QTemporaryDir FDir;
};

} // namespace halvora
