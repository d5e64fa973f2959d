// halvora-service: the maker's web service (update files and feedback), and the maker's reader
// of the feedback store.
#include "FeedbackExport.h"
#include "FeedbackStore.h"
#include "Service.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace {

const char kUsage[] =
    "usage:\n"
    "  halvora-service --site DIR --db FILE [--listen ADDR:PORT] [--tls-cert PEM --tls-key PEM]\n"
    "                  [--trusted-proxy ADDR]... [--posts-per-minute N] [--threads N]\n"
    "                  [--max-connections N] [--max-connections-per-address N]\n"
    "                  [--head-timeout S] [--body-timeout S] [--idle-timeout S]\n"
    "                  [--max-headers N] [--max-head-bytes N]\n"
    "  halvora-service feedback list --db FILE [--since DATE]\n"
    "  halvora-service feedback export --db FILE [--format csv|json|text] [--since DATE]\n"
    "Without --tls-cert/--tls-key the service speaks plain HTTP, on a loopback address only.\n"
    "DATE is YYYY-MM-DD or an ISO date and time, UTC unless it names its offset.\n";

int Feedback(const QStringList& AArgs) {
    using namespace halvora::service;
    if (AArgs.isEmpty() ||
        (AArgs[0] != QStringLiteral("list") && AArgs[0] != QStringLiteral("export"))) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    QString db, since,
        format =
            AArgs[0] == QStringLiteral("list") ? QStringLiteral("text") : QStringLiteral("csv");
    for (qsizetype i = 1; i < AArgs.size(); ++i) {
        const QString& a = AArgs[i];
        if (i + 1 >= AArgs.size()) {
            std::fprintf(stderr, "halvora-service: %s needs a value\n", qPrintable(a));
            return 2;
        }
        const QString v = AArgs[++i];
        if (a == QStringLiteral("--db"))
            db = v;
        else if (a == QStringLiteral("--since"))
            since = v;
        else if (a == QStringLiteral("--format"))
            format = v;
        else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    QString key;
    if (!since.isEmpty() && (key = SinceKey(since)).isEmpty()) {
        std::fprintf(stderr, "halvora-service: not a date: %s\n", qPrintable(since));
        return 2;
    }
    ExportFormat f = ExportFormat::Text;
    if (format == QStringLiteral("csv"))
        f = ExportFormat::Csv;
    else if (format == QStringLiteral("json"))
        f = ExportFormat::Json;
    else if (format != QStringLiteral("text")) {
        std::fprintf(stderr, "halvora-service: unknown format %s\n", qPrintable(format));
        return 2;
    }
    if (db.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    QList<StoredFeedback> posts;
    QString err;
    if (!ReadFeedback(db, key, posts, err)) {
        std::fprintf(stderr, "halvora-service: %s\n", qPrintable(err));
        return 1;
    }
    const QByteArray out = FormatFeedback(posts, f);
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // Blocked before any thread starts, so that only the service's waiter receives them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args[0] == QStringLiteral("feedback"))
        return Feedback(args.mid(1));
    if (!args.isEmpty() &&
        (args[0] == QStringLiteral("--help") || args[0] == QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    halvora::service::ServiceOptions options;
    QString err;
    if (!halvora::service::ParseServiceArgs(args, options, err)) {
        std::fprintf(stderr, "halvora-service: %s\n%s", qPrintable(err), kUsage);
        return 2;
    }
    return halvora::service::RunService(options);
}
