#include "Service.h"

#include <map>

namespace halvora::service {

namespace {

bool IsLoopback(const std::string& AHost) {
    return AHost == "localhost" || AHost == "::1" || AHost.rfind("127.", 0) == 0;
}

// The numeric options: where each goes and its largest value.
struct Number {
    const char* name;
    long long max;
    void (*set)(ServiceOptions&, long long);
};

const Number kNumbers[] = {
    {"--posts-per-minute", 100000,
     [](ServiceOptions& o, long long n) { o.postsPerMinute = int(n); }},
    {"--threads", 64, [](ServiceOptions& o, long long n) { o.threads = int(n); }},
    {"--max-connections", 1000000,
     [](ServiceOptions& o, long long n) { o.http.maxConnections = unsigned(n); }},
    {"--max-connections-per-address", 1000000,
     [](ServiceOptions& o, long long n) { o.http.maxPerAddress = unsigned(n); }},
    {"--head-timeout", 3600, [](ServiceOptions& o, long long n) { o.http.headSeconds = int(n); }},
    {"--body-timeout", 3600, [](ServiceOptions& o, long long n) { o.http.bodySeconds = int(n); }},
    {"--idle-timeout", 3600, [](ServiceOptions& o, long long n) { o.http.idleSeconds = int(n); }},
    {"--max-headers", 10000,
     [](ServiceOptions& o, long long n) { o.http.head.maxHeaders = size_t(n); }},
    {"--max-head-bytes", 1 << 20,
     [](ServiceOptions& o, long long n) { o.http.head.maxHeadBytes = size_t(n); }},
};

bool ParseListen(const QString& AValue, ServiceOptions& AOut, QString& AErr) {
    const qsizetype colon = AValue.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int port = colon > 0 ? AValue.mid(colon + 1).toInt(&ok) : -1;
    QString host = AValue.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (!ok || port < 0 || port > 65535 || host.isEmpty()) {
        AErr = QStringLiteral("--listen wants ADDR:PORT, not %1").arg(AValue);
        return false;
    }
    AOut.host = host.toStdString();
    AOut.port = port;
    return true;
}

bool Check(const ServiceOptions& AOut, QString& AErr) {
    if (AOut.site.isEmpty() || AOut.db.isEmpty()) {
        AErr = QStringLiteral("--site and --db are needed");
        return false;
    }
    if (AOut.tlsCert.isEmpty() != AOut.tlsKey.isEmpty()) {
        AErr = QStringLiteral("--tls-cert and --tls-key go together");
        return false;
    }
    if (AOut.tlsCert.isEmpty() && !IsLoopback(AOut.host)) {
        AErr = QStringLiteral("without --tls-cert and --tls-key the service listens only on a "
                              "loopback address, behind a reverse proxy");
        return false;
    }
    for (const QString& proxy : AOut.trustedProxies)
        if (CanonicalAddress(proxy.toStdString()).empty()) {
            AErr = QStringLiteral("--trusted-proxy wants an IP address, not %1").arg(proxy);
            return false;
        }
    return true;
}

} // namespace

bool ParseServiceArgs(const QStringList& AArgs, ServiceOptions& AOut, QString& AErr) {
    AOut = {};
    const std::map<QString, QString*> texts{{QStringLiteral("--site"), &AOut.site},
                                            {QStringLiteral("--db"), &AOut.db},
                                            {QStringLiteral("--tls-cert"), &AOut.tlsCert},
                                            {QStringLiteral("--tls-key"), &AOut.tlsKey}};
    for (qsizetype i = 0; i < AArgs.size(); ++i) {
        const QString& a = AArgs[i];
        if (i + 1 >= AArgs.size()) {
            AErr = texts.count(a) || a.startsWith(QStringLiteral("--"))
                       ? a + QStringLiteral(" needs a value")
                       : QStringLiteral("unknown option %1").arg(a);
            return false;
        }
        const QString v = AArgs[++i];
        const Number* number = nullptr;
        for (const Number& n : kNumbers)
            if (a == QLatin1String(n.name))
                number = &n;
        if (const auto it = texts.find(a); it != texts.end()) {
            *it->second = v;
        } else if (a == QStringLiteral("--trusted-proxy")) {
            AOut.trustedProxies << v;
        } else if (a == QStringLiteral("--listen")) {
            if (!ParseListen(v, AOut, AErr))
                return false;
        } else if (number) {
            bool ok = false;
            const long long n = v.toLongLong(&ok);
            if (!ok || n < 0 || n > number->max) {
                AErr = QStringLiteral("%1: not a number from 0 to %2: %3")
                           .arg(a)
                           .arg(number->max)
                           .arg(v);
                return false;
            }
            number->set(AOut, n);
        } else {
            AErr = QStringLiteral("unknown option %1").arg(a);
            return false;
        }
    }
    return Check(AOut, AErr);
}

} // namespace halvora::service
