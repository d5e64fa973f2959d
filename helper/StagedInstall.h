#pragma once

#include <string>

// Putting a wholly unpacked component in place: every top-level entry of the staging folder
// takes its namesake's place in one step, and a journal lets a later run finish the moves of
// one that died half-way.
namespace helper {

// APath with links resolved, when it is a folder.
bool RealFolder(const std::string& APath, std::string& AOut);

// Removes a tree; links in it are removed, never followed.
void RemoveTree(const std::string& APath);

// Moves every top-level entry of AStaging (but the helper's own) into ADest. kOk, or
// kWriteFailed with AErr set and every old entry back in place.
int MoveIntoPlace(const std::string& AStaging, const std::string& ADest, std::string& AErr);

// Settles what helpers that no longer run left in ADir (a resolved folder). An install cut
// short after its archive was wholly unpacked is completed: every entry its journal names moves
// into place. One cut short earlier is dropped, the old component untouched. Set-aside entries
// are removed, or put back where nothing took their place. kOk, or kWriteFailed with AErr set
// when an install could not be completed; its journal then stays for the next run.
int FinishInterrupted(const std::string& ADir, std::string& AErr);

// The same for the folder ADest as given on the command line ("updater --finish DEST/").
int FinishInterruptedInstall(const std::string& ADest, std::string& AErr);

// Whether the process APidText (decimal) no longer exists; false for anything else.
bool ProcessGone(const std::string& APidText);

} // namespace helper
