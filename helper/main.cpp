// The `updater` helper: unpacks a component archive into the application folder, or replaces
// the program file with a downloaded release and starts it. Runs with the invoking user's
// rights, or as root through pkexec when the application folder is not the user's.
#include "HelperArgs.h"
#include "Replace.h"
#include "StagedInstall.h"
#include "Unpack.h"

#include <clocale>
#include <cstdio>
#include <sys/stat.h>

int main(int argc, char** argv) {
    // Member names are UTF-8; libarchive converts them through the locale.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "");
    ::umask(022);
    std::vector<std::string> args(argv + 1, argv + argc);
    const helper::HelperArgs a = helper::ParseHelperArgs(args);
    std::string err;
    int rc = helper::kUsage;
    switch (a.mode) {
    case helper::HelperArgs::Mode::Unpack:
        rc = helper::Unpack(a.archive, a.dest, a.maxBytes, a.maxEntries, err);
        break;
    case helper::HelperArgs::Mode::Finish:
        rc = helper::FinishInterruptedInstall(a.dest, err);
        break;
    case helper::HelperArgs::Mode::Replace:
        rc = helper::ReplaceProgram(a.target, a.newFile, a.running, a.waitMs, err);
        break;
    case helper::HelperArgs::Mode::Invalid:
        err = a.error;
        break;
    }
    if (rc != helper::kOk)
        std::fprintf(stderr, "updater: %s\n", err.c_str());
    return rc;
}
