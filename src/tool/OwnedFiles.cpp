#include "OwnedFiles.h"

#include "RunOwner.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSaveFile>
#include <QSysInfo>
#include <QUrl>
#include <QtEndian>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/stat.h>

namespace halvora {

namespace {

struct Entry {
    OwnedKind kind;
    quint64 dev = 0;
    quint64 ino = 0;
    QString path;
};

const QLatin1String kRunSuffix(".run");
const QLatin1String kClaimSuffix(".claim");

bool Identify(const QString& APath, quint64* ADev, quint64* AIno, struct stat* ASt = nullptr) {
    struct stat st {};
    if (::lstat(QFile::encodeName(APath).constData(), &st) != 0)
        return false;
    *ADev = st.st_dev;
    *AIno = st.st_ino;
    if (ASt)
        *ASt = st;
    return true;
}

QByteArray EntryLine(const Entry& AEntry) {
    return QByteArray::number(static_cast<int>(AEntry.kind)) + ' ' +
           QByteArray::number(AEntry.dev) + ' ' + QByteArray::number(AEntry.ino) + ' ' +
           QUrl::toPercentEncoding(AEntry.path) + '\n';
}

QList<Entry> ReadJournal(const QString& AFile) {
    QList<Entry> entries;
    QFile f(AFile);
    if (!f.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 4)
            continue;
        const int kind = parts[0].toInt();
        if (kind < 0 || kind > static_cast<int>(OwnedKind::ResumableFolder))
            continue;
        entries.append({static_cast<OwnedKind>(kind), parts[1].toULongLong(),
                        parts[2].toULongLong(), QUrl::fromPercentEncoding(parts[3])});
    }
    return entries;
}

// An MP4 whose writer never got to its index: ffmpeg writes the top-level "moov" box only when
// it finishes (at the end, or moved to the front), so a killed run's MP4 has none and plays
// nowhere. Only the top-level boxes are walked.
bool UnfinishedMp4(const QString& APath, qint64 ASize) {
    if (!APath.endsWith(QLatin1String(".mp4"), Qt::CaseInsensitive))
        return false;
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    for (qint64 at = 0; at + 8 <= ASize;) {
        uchar head[16];
        if (!f.seek(at) || f.read(reinterpret_cast<char*>(head), 16) < 8)
            return true;
        quint64 size = qFromBigEndian<quint32>(head);
        if (size == 1 && at + 16 <= ASize)
            size = qFromBigEndian<quint64>(head + 8); // a 64-bit size follows the type
        if (std::memcmp(head + 4, "moov", 4) == 0)
            return false;
        if (size == 0 || size < 8)
            return true; // the last box, or no box at all: no index
        at += static_cast<qint64>(size);
    }
    return true;
}

// The transfers a dead run left half-done; the complete files stay for the next Convert.
void DropUnfinishedParts(const QString& AFolder) {
    QDirIterator it(AFolder, {QStringLiteral("*.part")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::remove(it.next());
    QDirIterator dirs(AFolder, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList sub;
    while (dirs.hasNext())
        sub.prepend(dirs.next());
    for (const QString& d : sub)
        QDir().rmdir(d); // only when empty
    QDir().rmdir(AFolder);
}

// Does with one file of a run that ended what its kind says; only the very file the run
// made (same device and inode) is touched. A kept recording is added to AKept.
void Settle(const Entry& AEntry, QStringList* AKept) {
    quint64 dev = 0;
    quint64 ino = 0;
    struct stat st {};
    if (!Identify(AEntry.path, &dev, &ino, &st) || dev != AEntry.dev || ino != AEntry.ino)
        return;
    const QByteArray path = QFile::encodeName(AEntry.path);
    const bool file = S_ISREG(st.st_mode);
    switch (AEntry.kind) {
    case OwnedKind::Recording:
        if (file && st.st_size > 0) {
            if (AKept)
                *AKept << AEntry.path;
            return;
        }
        [[fallthrough]];
    case OwnedKind::Reservation:
        if (file && (st.st_size == 0 || UnfinishedMp4(AEntry.path, st.st_size)))
            ::unlink(path.constData());
        return;
    case OwnedKind::TempFile:
        if (file)
            ::unlink(path.constData());
        return;
    case OwnedKind::WorkFolder:
        if (S_ISDIR(st.st_mode))
            QDir(AEntry.path).removeRecursively();
        return;
    case OwnedKind::ResumableFolder:
        if (S_ISDIR(st.st_mode))
            DropUnfinishedParts(AEntry.path);
        return;
    }
}

// This run's entries, written out whole at every change.
class Journal {
public:
    void own(const QString& APath, OwnedKind AKind) {
        Entry e{AKind, 0, 0, APath};
        if (!Identify(APath, &e.dev, &e.ino))
            return;
        std::lock_guard<std::mutex> g(FLock);
        drop(APath);
        FEntries.append(e);
        save();
    }
    void disown(const QString& APath) {
        std::lock_guard<std::mutex> g(FLock);
        if (drop(APath))
            save();
    }
    void end() {
        std::lock_guard<std::mutex> g(FLock);
        for (const Entry& e : FEntries)
            Settle(e, nullptr);
        FEntries.clear();
        save();
    }

private:
    bool drop(const QString& APath) {
        return FEntries.removeIf([&](const Entry& AEntry) { return AEntry.path == APath; }) > 0;
    }
    void save() {
        const QString file = JournalDir() + ThisRun().text() + kRunSuffix;
        if (FEntries.isEmpty()) {
            QFile::remove(file);
            return;
        }
        QDir().mkpath(JournalDir());
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly))
            return;
        for (const Entry& e : FEntries)
            out.write(EntryLine(e));
        out.commit();
    }

    std::mutex FLock;
    QList<Entry> FEntries;
};

Journal& TheJournal() {
    static Journal journal;
    return journal;
}

// The run a journal file belongs to and, for one being settled, the run settling it.
bool JournalOwners(const QString& AName, RunId* AOwner, RunId* AClaimer) {
    QString name = AName;
    *AClaimer = {};
    if (name.endsWith(kClaimSuffix)) {
        name.chop(kClaimSuffix.size());
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        *AClaimer = RunId::Parse(name.mid(dot + 1));
        if (dot < 0 || AClaimer->pid == 0)
            return false;
        name = name.left(dot);
    }
    if (!name.endsWith(kRunSuffix))
        return false;
    name.chop(kRunSuffix.size());
    *AOwner = RunId::Parse(name);
    return AOwner->pid != 0;
}

} // namespace

QString JournalDir() {
    QString base = QFile::decodeName(qgetenv("XDG_STATE_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    // Per machine: a home shared over the network must not see another machine's runs as dead.
    return base + QStringLiteral("/halvora/runs/") + QSysInfo::machineHostName() + QLatin1Char('/');
}

void OwnFile(const QString& APath, OwnedKind AKind) {
    TheJournal().own(APath, AKind);
}

void DisownFile(const QString& APath) {
    TheJournal().disown(APath);
}

QStringList CleanDeadRuns() {
    QStringList kept;
    const QString dir = JournalDir();
    const RunId me = ThisRun();
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        RunId owner;
        RunId claimer;
        if (!JournalOwners(name, &owner, &claimer) || owner == me || RunAlive(owner) ||
            (claimer.pid != 0 && RunAlive(claimer)))
            continue;
        // Claimed by renaming, so two starts at once never settle one journal twice.
        const QString claimed =
            dir + owner.text() + kRunSuffix + QLatin1Char('.') + me.text() + kClaimSuffix;
        if (::rename(QFile::encodeName(dir + name).constData(),
                     QFile::encodeName(claimed).constData()) != 0)
            continue;
        for (const Entry& e : ReadJournal(claimed))
            Settle(e, &kept);
        QFile::remove(claimed);
    }
    return kept;
}

void EndRun() {
    TheJournal().end();
}

QString KeptRecordingsText(const QStringList& APaths) {
    if (APaths.isEmpty())
        return {};
    return (APaths.size() == 1 ? QStringLiteral("A recording cut short was kept: ")
                               : QStringLiteral("Recordings cut short were kept: ")) +
           APaths.join(QStringLiteral(", "));
}

} // namespace halvora
