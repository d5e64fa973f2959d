#include "RequestChecks.h"

#include <arpa/inet.h>
#include <cstring>
#include <strings.h>

namespace halvora::service {

namespace {

std::string Trim(const std::string& AText) {
    const size_t b = AText.find_first_not_of(" \t"), e = AText.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : AText.substr(b, e - b + 1);
}

// Digits only: "+5", "-1", "5 5" or an empty value are malformed, not a length.
bool ParseLength(const std::string& AText, unsigned long long& AOut) {
    const std::string t = Trim(AText);
    if (t.empty() || t.size() > 19 || t.find_first_not_of("0123456789") != std::string::npos)
        return false;
    AOut = std::stoull(t);
    return true;
}

// The body's framing: the lengths all agree, or one "chunked" coding alone.
HeadVerdict CheckFraming(const HeaderList& AHeaders, const HeadLimits& ALimits) {
    int lengths = 0, codings = 0;
    unsigned long long length = 0;
    std::string coding;
    for (const auto& [name, value] : AHeaders) {
        if (::strcasecmp(name.c_str(), "Content-Length") == 0) {
            unsigned long long n = 0;
            if (!ParseLength(value, n) || (lengths > 0 && n != length))
                return {400, "malformed or conflicting Content-Length"};
            length = n;
            ++lengths;
        } else if (::strcasecmp(name.c_str(), "Transfer-Encoding") == 0) {
            coding = Trim(value);
            ++codings;
        }
    }
    if (codings > 0 && lengths > 0)
        return {400, "both Content-Length and Transfer-Encoding"};
    if (codings > 1 || (codings == 1 && ::strcasecmp(coding.c_str(), "chunked") != 0))
        return {400, "unsupported Transfer-Encoding"};
    if (lengths > 0 && length > ALimits.maxBodyBytes)
        return {413, "body too large", true};
    return {0, "", codings == 1 || length > 0};
}

} // namespace

HeadVerdict CheckHead(const std::string& ATarget, const HeaderList& AHeaders,
                      const HeadLimits& ALimits) {
    if (AHeaders.size() > ALimits.maxHeaders)
        return {431, "too many headers"};
    // The request line and each "name: value\r\n".
    size_t bytes = ATarget.size() + 16;
    for (const auto& [name, value] : AHeaders)
        bytes += name.size() + value.size() + 4;
    if (bytes > ALimits.maxHeadBytes)
        return {431, "request head too large"};
    return CheckFraming(AHeaders, ALimits);
}

int HexValue(char AChar) {
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'a' && AChar <= 'f')
        return AChar - 'a' + 10;
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    return -1;
}

std::string DecodedPath(const std::string& ATarget) {
    const std::string raw = ATarget.substr(0, ATarget.find('?'));
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 &&
            HexValue(raw[i + 2]) >= 0) {
            out += char(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2]));
            i += 2;
        } else {
            out += raw[i];
        }
    }
    return out;
}

std::string CanonicalAddress(const std::string& AText) {
    const std::string t = Trim(AText);
    char out[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, t.c_str(), &v4) == 1)
        return ::inet_ntop(AF_INET, &v4, out, sizeof out) ? out : "";
    if (::inet_pton(AF_INET6, t.c_str(), &v6) != 1)
        return {};
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::memcpy(&v4, &v6.s6_addr[12], 4);
        return ::inet_ntop(AF_INET, &v4, out, sizeof out) ? out : "";
    }
    return ::inet_ntop(AF_INET6, &v6, out, sizeof out) ? out : "";
}

std::string RateKey(const std::string& ACanonicalAddress) {
    in6_addr v6{};
    if (::inet_pton(AF_INET6, ACanonicalAddress.c_str(), &v6) != 1)
        return ACanonicalAddress;
    // One end site usually holds a whole /64; counting single addresses would let it rotate.
    std::memset(&v6.s6_addr[8], 0, 8);
    char out[INET6_ADDRSTRLEN] = {};
    return std::string(::inet_ntop(AF_INET6, &v6, out, sizeof out) ? out : "") + "/64";
}

} // namespace halvora::service
