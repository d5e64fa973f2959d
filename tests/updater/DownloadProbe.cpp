// Runs one DownloadFile(argv[1] -> argv[2]) so that a test can kill it mid-transfer.
#include "Download.h"
#include "HttpClient.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    halvora::HttpGlobalInit();
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    QString err;
    const bool ok = halvora::DownloadFile(QString::fromLocal8Bit(argv[1]),
                                          QString::fromLocal8Bit(argv[2]), {}, 0, err);
    std::fprintf(stderr, "%s\n", qPrintable(err));
    return ok ? 0 : 1;
}
