#include "ClipExport.h"

#include "AppPaths.h"
#include "FreeName.h"
#include "MediaProbe.h"
#include "Process.h"

#include <QFile>
#include <QFileInfo>

namespace halvora {

namespace {

QString Num(std::int32_t AValue) {
    return QString::number(AValue);
}

Command& Reencode(Command& ACmd, const QString& ACrop) {
    return ACmd.arg(QStringLiteral("-vf"))
        .arg(QStringLiteral("crop=") + ACrop)
        .args({QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"),
               QStringLiteral("veryfast"), QStringLiteral("-c:a"), QStringLiteral("aac")});
}

// Every video stream (no cover pictures) and every audio track, in order; ffmpeg alone would
// keep only one audio track.
Command& MapAll(Command& ACmd) {
    return ACmd.args({QStringLiteral("-map"), QStringLiteral("0:V?"), QStringLiteral("-map"),
                      QStringLiteral("0:a?")});
}

int Run(const Command& ACmd, const ClipEnv& AEnv) {
    if (AEnv.onRun)
        AEnv.onRun(ACmd);
    return RunProcessTimed(ACmd, QString(), AEnv.timeoutMs);
}

// The concat demuxer reads a quoted path literally up to the next quote; a quote inside is
// closed, escaped and reopened.
QString ConcatQuoted(const QString& APath) {
    QString s = APath;
    s.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

} // namespace

QString CutFileName(std::int32_t AFrom, std::int32_t ATo) {
    return QStringLiteral("seg_%1_%2.mp4").arg(AFrom).arg(ATo);
}

QString TailFileName(std::int32_t AFrom) {
    return QStringLiteral("seg_%1_end.mp4").arg(AFrom);
}

Command CutCommand(const QString& AFFmpeg, const QString& AInput, std::int32_t AFrom,
                   std::int32_t ATo, const QString& ACrop, const QString& ACutPath) {
    Command c(AFFmpeg);
    c.arg(QStringLiteral("-y"));
    if (ACrop.isEmpty()) {
        // Stream copy: the seek stays after the input, which decides the packets kept.
        c.arg(QStringLiteral("-i")).path(AInput);
        c.arg(QStringLiteral("-ss")).arg(Num(AFrom)).arg(QStringLiteral("-to")).arg(Num(ATo));
        MapAll(c).arg(QStringLiteral("-c")).arg(QStringLiteral("copy"));
    } else {
        // Re-encoding: seeking before the input skips decoding everything up to the range and
        // is still frame-accurate.
        c.arg(QStringLiteral("-ss")).arg(Num(AFrom)).arg(QStringLiteral("-i")).path(AInput);
        c.arg(QStringLiteral("-t")).arg(QString::number(static_cast<std::int64_t>(ATo) - AFrom));
        Reencode(MapAll(c), ACrop);
    }
    return c.path(ACutPath);
}

Command TailCommand(const QString& AFFmpeg, const QString& AInput, std::int32_t AFrom,
                    const QString& ACrop, const QString& ATailPath) {
    Command c(AFFmpeg);
    c.arg(QStringLiteral("-y"));
    if (ACrop.isEmpty()) {
        c.arg(QStringLiteral("-i")).path(AInput).arg(QStringLiteral("-ss")).arg(Num(AFrom));
        MapAll(c).arg(QStringLiteral("-c")).arg(QStringLiteral("copy"));
    } else {
        c.arg(QStringLiteral("-ss")).arg(Num(AFrom)).arg(QStringLiteral("-i")).path(AInput);
        Reencode(MapAll(c), ACrop);
    }
    return c.path(ATailPath);
}

Command JoinCommand(const QString& AFFmpeg, const QString& AListPath, const QString& AOutput,
                    bool AReencode) {
    Command c(AFFmpeg);
    c.args({QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("concat"),
            QStringLiteral("-safe"), QStringLiteral("0"), QStringLiteral("-i")});
    c.path(AListPath);
    MapAll(c);
    if (AReencode)
        c.args({QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"),
                QStringLiteral("veryfast"), QStringLiteral("-c:a"), QStringLiteral("aac")});
    else
        c.args({QStringLiteral("-c"), QStringLiteral("copy")});
    c.args({QStringLiteral("-movflags"), QStringLiteral("+faststart")});
    return c.path(AOutput);
}

QByteArray ConcatListText(const QStringList& APaths) {
    QByteArray out;
    for (const QString& p : APaths) {
        out += "file ";
        out += ConcatQuoted(p).toUtf8();
        out += "\r\n";
    }
    return out;
}

bool StripUtf8Bom(const QString& AFileName) {
    QFile f(AFileName);
    if (!f.open(QIODevice::ReadOnly))
        return true;
    const QByteArray bytes = f.readAll();
    f.close();
    if (bytes.size() < 3 || !bytes.startsWith("\xEF\xBB\xBF"))
        return true;
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray rest = bytes.mid(3);
    return f.write(rest) == rest.size() && f.flush();
}

bool ExportClip(const ExportRequest& ARequest, ExportView& AView, const ClipEnv& AEnv) {
    auto box = [&](BoxKind AKind, const QString& AText) {
        AView.message(AKind, AText, BoxButtons::Ok);
    };
    if (ARequest.inFile.isEmpty()) {
        box(BoxKind::Warning, QStringLiteral("Please open a video first"));
        return false;
    }
    const QString output = Trimmed(ARequest.outText);
    if (output.isEmpty()) {
        box(BoxKind::Warning, QStringLiteral("Please specify output file"));
        return false;
    }
    // ffmpeg would truncate the video it is still reading from (-y).
    if (SameFile(ARequest.inFile, output)) {
        AView.setStatus(QStringLiteral("Input and output are the same file"));
        box(BoxKind::Error, QStringLiteral("The export would overwrite the opened video:\r\n") +
                                output + QStringLiteral("\r\nChoose another output file."));
        return false;
    }
    // The user named this file on purpose: ask before anything is written.
    const bool replacing = !ARequest.freeName && QFileInfo::exists(output);
    if (replacing && AView.message(BoxKind::Confirmation,
                                   output + QStringLiteral(" already exists. Replace it?"),
                                   BoxButtons::YesNo) != BoxAnswer::Yes)
        return false;
    const QVector<KeptRange> ranges = KeptRanges(ARequest.rows, ARequest.duration);
    const QString ffmpeg = AEnv.ffmpeg();
    if (ffmpeg.isEmpty()) {
        box(BoxKind::Error, QStringLiteral("ffmpeg not found"));
        return false;
    }
    const QString crop = Trimmed(ARequest.cropText);
    const QString dir = AEnv.dir();

    AView.setStatus(QStringLiteral("Exporting..."));
    AView.processMessages();

    QStringList cuts;
    for (const KeptRange& r : ranges) {
        if (r.tail) {
            const QString path = dir + TailFileName(r.from);
            if (Run(TailCommand(ffmpeg, ARequest.inFile, r.from, crop, path), AEnv) != 0) {
                box(BoxKind::Error, QStringLiteral("Tail segment [%1-END] extraction failed")
                                        .arg(FormatTime(r.from)));
                return false;
            }
            cuts << path;
        } else {
            const QString path = dir + CutFileName(r.from, r.to);
            if (Run(CutCommand(ffmpeg, ARequest.inFile, r.from, r.to, crop, path), AEnv) != 0) {
                box(BoxKind::Error, QStringLiteral("Segment [%1-%2] extraction failed")
                                        .arg(FormatTime(r.from), FormatTime(r.to)));
                return false;
            }
            cuts << path;
        }
    }
    if (cuts.isEmpty()) {
        box(BoxKind::Warning, QStringLiteral("No segments left (all deleted?)"));
        return false;
    }

    // The demuxer resolves relative entries against the list's folder, so list full paths.
    QStringList listed;
    for (const QString& c : cuts)
        listed << QFileInfo(c).absoluteFilePath();
    const QString listPath = dir + QStringLiteral("list.txt");
    {
        QFile f(listPath);
        const QByteArray text = ConcatListText(listed);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size() ||
            !f.flush()) {
            f.remove();
        }
    }
    StripUtf8Bom(listPath);

    QString target = output;
    // A file being replaced is written beside it first and only takes its place once complete,
    // so a failed join leaves the user's file as it was.
    QString joined = output;
    if (ARequest.freeName || replacing) {
        QString err;
        joined = replacing ? ReserveTempBeside(output, &err) : ReserveFreeName(output, &err);
        if (joined.isEmpty()) {
            box(BoxKind::Error, QStringLiteral("Cannot create output file:\r\n") + err);
            return false;
        }
        if (ARequest.freeName)
            target = joined;
    }
    if (Run(JoinCommand(ffmpeg, listPath, joined, false), AEnv) != 0) {
        AView.setStatus(QStringLiteral("Concatenation failed, retrying with re-encode..."));
        AView.processMessages();
        if (Run(JoinCommand(ffmpeg, listPath, joined, true), AEnv) != 0) {
            if (replacing)
                QFile::remove(joined);
            else if (ARequest.freeName)
                DropUnwritten(joined);
            box(BoxKind::Error,
                QStringLiteral(
                    "Concatenation failed (segment codecs differ? Try crop/re-encode mode)"));
            return false;
        }
    }
    QString err;
    if (replacing && !ReplaceWithTemp(joined, output, &err)) {
        QFile::remove(joined);
        box(BoxKind::Error, QStringLiteral("Cannot replace output file:\r\n") + output +
                                QStringLiteral(": ") + err);
        return false;
    }
    AView.setStatus(QStringLiteral("Export complete: ") + target);
    box(BoxKind::Information, QStringLiteral("Export complete!\r\n") + target);
    return true;
}

} // namespace halvora
