#pragma once

#include <QString>
#include <span>

namespace halvora {

// True when AAddress is acceptable as a reply address: well formed, outside reserved and
// documentation domains and outside known disposable-mail services. Positions and lengths are
// UTF-16 code units; surrounding characters up to U+0020 are ignored.
bool IsValidEmail(const QString& AAddress);

// The built-in domain lists, lower case, in the order they are consulted.
std::span<const char* const> ReservedDomainNames();    // the domain equals an entry
std::span<const char* const> ReservedDomainSuffixes(); // the domain ends with an entry
std::span<const char* const> BlockedMailDomains();     // the domain or a parent equals an entry

} // namespace halvora
