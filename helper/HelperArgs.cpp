#include "HelperArgs.h"

#include <cerrno>
#include <cstdlib>

namespace helper {

std::vector<std::string> SplitCommandText(const std::string& AText) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false, have = false;
    for (char c : AText) {
        if (c == '"') {
            quoted = !quoted;
            have = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (have)
                out.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have)
        out.push_back(cur);
    return out;
}

namespace {

bool Number(const std::string& AText, std::uint64_t& AValue) {
    if (AText.empty() || AText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    AValue = std::strtoull(AText.c_str(), nullptr, 10);
    return errno == 0;
}

std::string Unquoted(const std::string& AArg) {
    if (AArg.size() >= 2 && AArg.front() == '"' && AArg.back() == '"')
        return AArg.substr(1, AArg.size() - 2);
    return AArg;
}

} // namespace

HelperArgs ParseHelperArgs(std::vector<std::string> AArgs) {
    HelperArgs r;
    if (AArgs.size() == 1 && AArgs[0].find('"') != std::string::npos)
        AArgs = SplitCommandText(AArgs[0]);
    std::vector<std::string> rest;
    for (const std::string& raw : AArgs) {
        const std::string a = Unquoted(raw);
        std::uint64_t v = 0;
        if (a.rfind("--max-bytes=", 0) == 0 && rest.empty()) {
            if (!Number(a.substr(12), v) || v == 0) {
                r.error = "bad --max-bytes";
                return r;
            }
            r.maxBytes = v;
        } else if (a.rfind("--max-entries=", 0) == 0 && rest.empty()) {
            if (!Number(a.substr(14), v) || v == 0) {
                r.error = "bad --max-entries";
                return r;
            }
            r.maxEntries = v;
        } else if (a.rfind("--wait-ms=", 0) == 0 && rest.empty()) {
            if (!Number(a.substr(10), v) || v > 24u * 3600 * 1000) {
                r.error = "bad --wait-ms";
                return r;
            }
            r.waitMs = int(v);
        } else {
            rest.push_back(a);
        }
    }
    if (rest.size() == 3 && rest[0] == "--unpack") {
        r.mode = HelperArgs::Mode::Unpack;
        r.archive = rest[1];
        r.dest = rest[2];
    } else if (rest.size() == 2 && rest[0] == "--finish") {
        r.mode = HelperArgs::Mode::Finish;
        r.dest = rest[1];
    } else if (rest.size() == 3 && rest[0].rfind("--", 0) != 0) {
        r.mode = HelperArgs::Mode::Replace;
        r.target = rest[0];
        r.newFile = rest[1];
        r.running = rest[2];
    } else {
        r.error = "usage: updater --unpack \"ARCHIVE\" \"DEST/\" | updater --finish \"DEST/\" | "
                  "updater \"TARGET\" \"NEW\" \"RUNNING\"";
        return r;
    }
    for (const std::string& s : rest)
        if (s.empty()) {
            r.mode = HelperArgs::Mode::Invalid;
            r.error = "empty argument";
        }
    return r;
}

} // namespace helper
