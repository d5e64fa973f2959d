#pragma once

// Names the helper gives its own files inside the application folder. The program reads them
// too: a journal left behind means an install was cut short and must be finished first.
namespace helper {

// Reserved for the helper: no archive entry may start with it.
inline constexpr char kReservedPrefix[] = ".updater-";
// "<prefix>staging-PID-XXXXXX": a folder the archive is unpacked into.
inline constexpr char kStagingPrefix[] = ".updater-staging-";
// "<prefix>old-PID-NAME": an old entry set aside while its replacement moves in.
inline constexpr char kAsidePrefix[] = ".updater-old-";
// In a staging folder once everything is unpacked: which entries are to move into place.
inline constexpr char kJournalName[] = ".updater-journal";

} // namespace helper
