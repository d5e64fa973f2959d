#pragma once

#include <sys/types.h>

namespace halvora {

// A small process, forked once, that outlives this program only to end the children that the
// death signal alone may not end in time: ffmpeg hears a SIGINT only between packets, so a
// live recording waiting for its next segment would go on recording for that long. Once this
// program is gone (its pipe to the warden closes), every child it was told of that still runs
// after its grace is killed; then the warden ends too.
//
// Called only by the thread that forks children. False when the warden cannot be started (the
// death signal still applies).
bool WardenWatch(pid_t APid, int AGraceMs);

// Any thread: the child was reaped, its pid may soon name another process.
void WardenForget(pid_t APid);

} // namespace halvora
