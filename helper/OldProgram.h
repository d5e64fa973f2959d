#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The program that a self-update replaces, as it runs: its processes, to wait for, and its
// environment and folder, to start the new program in.
namespace helper {

struct OldProgram {
    std::vector<pid_t> pids;
    std::vector<std::string> env; // of the first process, as it was when it started
    std::string cwd;              // its working folder
};

// ARunning is a process id, or the program's path: then the helper's parent when it runs that
// program, else every process of the invoking user that does.
OldProgram FindOldProgram(const std::string& ARunning);

// kOk once every process of AOld has gone; kStillRunning with AErr after AWaitMs.
int WaitForExit(const OldProgram& AOld, int AWaitMs, std::string& AErr);

// The user the helper acts for: the one who ran pkexec when started through it.
uid_t InvokingUid();

// APath with links resolved; empty when it does not exist.
std::string RealPath(const std::string& APath);

} // namespace helper
