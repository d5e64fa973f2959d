#include "UpdateFiles.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora::service {

namespace {

const char kJson[] = "application/json";

std::string HttpDate(time_t ATime) {
    std::tm tm{};
    ::gmtime_r(&ATime, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buf;
}

bool ParseHttpDate(const std::string& AText, time_t& AOut) {
    std::tm tm{};
    const char* end = ::strptime(AText.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
    if (!end || *end)
        return false;
    AOut = ::timegm(&tm);
    return true;
}

std::string ContentType(const std::string& AName) {
    auto endsWith = [&](const char* ASuffix) {
        const size_t n = std::strlen(ASuffix);
        return AName.size() >= n && AName.compare(AName.size() - n, n, ASuffix) == 0;
    };
    if (endsWith(".json"))
        return "application/json";
    if (endsWith(".gz") || endsWith(".tgz"))
        return "application/gzip";
    if (endsWith(".zip"))
        return "application/zip";
    if (endsWith(".txt"))
        return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

// If-Range: the strong tag itself, or the exact modification date when that is at least a second
// old (a file changed twice within its second would otherwise look unchanged).
bool IfRangeHolds(const std::string& AValue, const std::string& ATag, time_t AModified) {
    if (!AValue.empty() && (AValue[0] == '"' || AValue.rfind("W/", 0) == 0))
        return AValue == ATag;
    time_t date = 0;
    return ParseHttpDate(AValue, date) && date == AModified && AModified < std::time(nullptr);
}

// The client's copy (by If-None-Match, else If-Modified-Since) is the current one.
bool NotModified(const HttpRequest& AReq, const std::string& ATag, time_t AModified) {
    if (AReq.Has("If-None-Match")) {
        const std::string inm = AReq.Value("If-None-Match");
        return inm == "*" || inm.find(ATag) != std::string::npos;
    }
    time_t since = 0;
    return AReq.Has("If-Modified-Since") && ParseHttpDate(AReq.Value("If-Modified-Since"), since) &&
           AModified <= since;
}

// Size and modification time to the nanosecond: a republished file gets a new tag.
std::string EntityTag(const struct stat& ASt) {
    char tag[64];
    std::snprintf(tag, sizeof tag, "\"%llx-%llx\"", static_cast<unsigned long long>(ASt.st_size),
                  static_cast<unsigned long long>(ASt.st_mtim.tv_sec) * 1000000000ull +
                      static_cast<unsigned long long>(ASt.st_mtim.tv_nsec));
    return tag;
}

} // namespace

bool UpdateFiles::Open(const QString& ASite) {
    char* real = ::realpath(QFile::encodeName(ASite).constData(), nullptr);
    if (!real)
        return false;
    siteRoot = real;
    std::free(real);
    real = ::realpath((siteRoot + "/update").c_str(), nullptr);
    updateRoot = real ? real : siteRoot + "/update";
    std::free(real);
    return true;
}

// The published file at ARel, opened; -1 when there is none to serve.
int UpdateFiles::openFile(const std::string& ARel, struct stat& ASt) const {
    // Links are resolved and must stay inside the update folder.
    char* real = ::realpath((siteRoot + kUpdatePathPrefix + ARel).c_str(), nullptr);
    if (!real)
        return -1;
    const std::string path = real;
    std::free(real);
    if (path.rfind(updateRoot + "/", 0) != 0)
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &ASt) != 0 || !S_ISREG(ASt.st_mode)) {
        ::close(fd);
        return -1; // folders are never listed
    }
    return fd;
}

void UpdateFiles::Serve(const HttpRequest& AReq, HttpReply& ARes) const {
    ARes.status = 404;
    ARes.headers = {{"Content-Type", "text/plain"}};
    ARes.body = "not found\n";
    const std::string rel = SafeRelativePath(AReq.path);
    if (rel.empty())
        return;
    struct stat st {};
    const int fd = openFile(rel, st);
    if (fd < 0)
        return;
    ARes.body.clear();
    const std::string tag = EntityTag(st);
    // Published names never change content, but the two lists do.
    const bool list = ContentType(rel) == kJson;
    ARes.headers = {{"ETag", tag},
                    {"Last-Modified", HttpDate(st.st_mtim.tv_sec)},
                    {"Cache-Control", list ? "no-cache" : "public, max-age=3600"},
                    {"Accept-Ranges", "bytes"}};
    if (NotModified(AReq, tag, st.st_mtim.tv_sec)) {
        ::close(fd);
        ARes.status = 304;
        return;
    }
    // A part is sent only of the very file the client holds the rest of (If-Range).
    ByteRange range;
    if (AReq.Has("Range") &&
        (!AReq.Has("If-Range") || IfRangeHolds(AReq.Value("If-Range"), tag, st.st_mtim.tv_sec)))
        range = ParseByteRange(AReq.Value("Range"), (unsigned long long)st.st_size);
    const std::string size = std::to_string(st.st_size);
    if (range.kind == ByteRange::Unsatisfiable) {
        ::close(fd);
        ARes.status = 416;
        ARes.headers.emplace_back("Content-Range", "bytes */" + size);
        return;
    }
    ARes.headers.emplace_back("Content-Type", ContentType(rel));
    ARes.status = range.kind == ByteRange::Part ? 206 : 200;
    ARes.fd = fd;
    ARes.offset = range.kind == ByteRange::Part ? range.first : 0;
    ARes.length = range.kind == ByteRange::Part ? range.last - range.first + 1
                                                : (unsigned long long)st.st_size;
    if (range.kind == ByteRange::Part)
        ARes.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                       std::to_string(range.last) + "/" + size);
}

std::string SafeRelativePath(const std::string& ADecodedPath) {
    if (ADecodedPath.rfind(kUpdatePathPrefix, 0) != 0)
        return {};
    const std::string rel = ADecodedPath.substr(std::strlen(kUpdatePathPrefix));
    if (rel.empty() || rel.find('\\') != std::string::npos || rel.find('\0') != std::string::npos)
        return {};
    size_t start = 0;
    for (;;) {
        const size_t slash = rel.find('/', start);
        const std::string part = rel.substr(start, slash - start);
        // Empty parts (doubled or trailing slashes), "." and "..", and hidden names such as a
        // publisher's files in progress.
        if (part.empty() || part[0] == '.')
            return {};
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return rel;
}

ByteRange ParseByteRange(const std::string& AHeader, unsigned long long ASize) {
    auto trim = [](const std::string& AText) {
        const size_t b = AText.find_first_not_of(" \t"), e = AText.find_last_not_of(" \t");
        return b == std::string::npos ? std::string() : AText.substr(b, e - b + 1);
    };
    // Digits only, saturating: a position past any file is simply past this one.
    auto number = [](const std::string& AText, unsigned long long& AOut) {
        if (AText.empty() || AText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        AOut = 0;
        for (char c : AText)
            AOut = AOut > (~0ull - 9) / 10 ? ~0ull : AOut * 10 + unsigned(c - '0');
        return true;
    };
    const std::string value = trim(AHeader);
    const size_t eq = value.find('=');
    if (eq != 5 || ::strncasecmp(value.c_str(), "bytes", 5) != 0)
        return {};
    const std::string range = trim(value.substr(eq + 1));
    const size_t dash = range.find('-');
    if (dash == std::string::npos || range.find(',') != std::string::npos)
        return {};
    const std::string a = range.substr(0, dash), z = range.substr(dash + 1);
    unsigned long long first = 0, last = ~0ull;
    if (a.empty()) {
        // The last n bytes.
        unsigned long long n = 0;
        if (!number(z, n))
            return {};
        if (n == 0 || ASize == 0)
            return {ByteRange::Unsatisfiable};
        first = ASize - std::min(n, ASize);
    } else if (!number(a, first) || (!z.empty() && (!number(z, last) || last < first))) {
        return {};
    }
    if (first >= ASize)
        return {ByteRange::Unsatisfiable};
    return {ByteRange::Part, first, std::min(last, ASize - 1)};
}

} // namespace halvora::service
