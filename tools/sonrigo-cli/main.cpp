// sonrigo-cli: the headless front end. Messages go to stderr, except that
// dump prints those shown while loading as part of its output.
//
// info and dump only read a file, and run here. This program links none of
// the sound, MIDI and synth libraries, whose loading would cost a file's
// reading several times over; for the commands that need them it becomes
// sonrigo-cli-devices (exec: the same process, arguments, streams and exit
// status), found beside this program in a build tree and in the libexec
// folder of an installation.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "CliDump.h"
#include "CliInfo.h"
#include "CliUsage.h"

namespace {

constexpr const char* kDevicesProgram = "sonrigo-cli-devices";

// The folder this program's file is in, or "" when the system does not say.
std::string OwnFolder()
{
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size())
        return {};
    path.resize(static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Runs the device program in place of this one; returns only when it cannot.
int BecomeDevicesProgram(char** argv)
{
    const std::string folder = OwnFolder();
    std::string tried;
    int error = ENOENT;
    for (const std::string& candidate : {folder + "/" + kDevicesProgram,
                                         folder + "/" SONRIGO_CLI_DEVICES_FROM_BIN "/" + kDevicesProgram}) {
        execv(candidate.c_str(), argv);
        // A candidate that exists but cannot run is the one to name.
        if (tried.empty() || errno != ENOENT) {
            tried = candidate;
            error = errno;
        }
    }
    std::cerr << "sonrigo-cli: cannot start " << tried << ": " << std::generic_category().message(error) << '\n';
    return 127;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << sonrigo::kCliUsage;
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "info") == 0)
        return sonrigo::RunInfo(argv[2], std::cout);
    if (argc >= 2 && std::strcmp(argv[1], "dump") == 0) {
        const std::vector<std::string> args(argv + 2, argv + argc);
        const int status = sonrigo::RunDump(args, stdout);
        if (status == sonrigo::kDumpUsageError)
            std::cerr << sonrigo::kCliUsage;
        return status;
    }
    if (argc < 2 || std::strcmp(argv[1], "info") == 0) {
        std::cerr << sonrigo::kCliUsage;
        return 2;
    }
    return BecomeDevicesProgram(argv);
}
