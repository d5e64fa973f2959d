#pragma once

#include "HttpServer.h"

#include <QString>
#include <string>
#include <sys/stat.h>

namespace halvora::service {

inline constexpr char kUpdatePathPrefix[] = "/update/";

// The published tree below SITE/update/, served as plain files (GET and HEAD): type, length,
// ETag and Last-Modified, revalidation, one range of bytes; nothing outside the tree.
class UpdateFiles {
public:
    // The site folder; false when it is not there.
    bool Open(const QString& ASite);
    // The file the request's decoded path names, or 404.
    void Serve(const HttpRequest& AReq, HttpReply& ARes) const;

private:
    int openFile(const std::string& ARel, struct stat& ASt) const;

    std::string siteRoot;   // real path of the site folder
    std::string updateRoot; // real path of its update folder: nothing outside is served
};

// The part of a request path below "/update/" as a relative file path, or empty when it names
// no plain file of the tree: empty or "." or ".." elements, hidden names, backslashes and NULs
// are refused in the decoded path.
std::string SafeRelativePath(const std::string& ADecodedPath);

// What a Range header asks of a file of ASize bytes. Only one range of bytes is served as a
// part; several ranges, another unit or a malformed value get the whole file.
struct ByteRange {
    enum Kind { Whole, Part, Unsatisfiable } kind = Whole;
    unsigned long long first = 0, last = 0; // inclusive, for Part
};
ByteRange ParseByteRange(const std::string& AHeader, unsigned long long ASize);

} // namespace halvora::service
