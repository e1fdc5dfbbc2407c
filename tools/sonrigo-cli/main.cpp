// sonrigo-cli: the headless front end. Messages go to stderr.

#include <cstring>
#include <iostream>
#include <string>

#include "CliInfo.h"

namespace {

constexpr const char* kUsage =
    "usage: sonrigo-cli info FILE   show what a MIDI file's header says\n"
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
    std::cerr << kUsage;
    return 2;
}
