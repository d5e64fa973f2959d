#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace halvora::service {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// What the head of a request may be, as the service's options set them.
struct HeadLimits {
    size_t maxHeaders = 100;
    size_t maxHeadBytes = 16 * 1024;
    unsigned long long maxBodyBytes = 64 * 1024;
};

// How a request head is answered before any of its body is read: 0 (go on), 431 (too many
// headers or too large), 400 (conflicting or malformed framing) or 413 (a declared body over
// the limit). ABodyExpected tells whether a body follows.
struct HeadVerdict {
    int status = 0;
    const char* reason = "";
    bool bodyExpected = false;
};
HeadVerdict CheckHead(const std::string& ATarget, const HeaderList& AHeaders,
                      const HeadLimits& ALimits);

// The value of a hexadecimal digit, or -1.
int HexValue(char AChar);

// The path of a request target, percent-decoded with every byte kept (a NUL stays a NUL, for
// the caller to refuse); a malformed escape stays as it is.
std::string DecodedPath(const std::string& ATarget);

// A client address as a canonical text (IPv4 dotted, IPv6 compressed), or empty when the text
// is no IP address. IPv4-mapped IPv6 addresses give their IPv4 form.
std::string CanonicalAddress(const std::string& AText);

// The key a rate limit counts under: the address itself for IPv4, its /64 prefix for IPv6.
std::string RateKey(const std::string& ACanonicalAddress);

} // namespace halvora::service
