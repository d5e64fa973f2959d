// Stand-in for the application in the self-replacement test. It notes its start and its end
// in the file named by HALVORA_TEST_MARKER.
//   helper_test_app                      note "<version> start" and end at once
//   helper_test_app --linger MS          stay alive MS milliseconds first
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

static void Note(const char* AWhat) {
    const char* marker = std::getenv("HALVORA_TEST_MARKER");
    if (!marker)
        return;
    if (FILE* f = std::fopen(marker, "a")) {
        std::fprintf(f, "%s %s %d\n", HELPER_TEST_APP_VERSION, AWhat, int(::getpid()));
        std::fclose(f);
    }
}

int main(int argc, char** argv) {
    Note("start");
    if (argc == 3 && !std::strcmp(argv[1], "--linger"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    Note("exit");
    return 0;
}
