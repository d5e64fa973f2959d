#pragma once

namespace halvora {

// A stretch to delete, in seconds (whole milliseconds, see ClipTime.h), start < end when made.
struct DeleteSegment {
    double start = 0;
    double end = 0;
    bool operator==(const DeleteSegment&) const = default;
};

} // namespace halvora
