// sonrigo-cli: the headless front end. Messages go to stderr, except that
// dump prints those shown while loading as part of its output.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "CliDump.h"
#include "CliInfo.h"

namespace {

constexpr const char* kUsage =
    "usage: sonrigo-cli info FILE   show what a MIDI file's header says\n"
    "       sonrigo-cli dump [--form tracks|playable|playcopy] FILE\n"
    "                               print the loaded song's events as JSON Lines\n"
    "                               (default form: playable)\n"
    "       sonrigo-cli --help\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kUsage;
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "info") == 0)
        return sonrigo::RunInfo(argv[2], std::cout);
    if (argc >= 2 && std::strcmp(argv[1], "dump") == 0) {
        const std::vector<std::string> args(argv + 2, argv + argc);
        const int status = sonrigo::RunDump(args, stdout);
        if (status == sonrigo::kDumpUsageError)
            std::cerr << kUsage;
        return status;
    }
    std::cerr << kUsage;
    return 2;
}
