#include "platform/JackServerPresence.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace sonrigo {

bool JackServerMayBeRunning()
{
    if (std::getenv("JACK_PROMISCUOUS_SERVER") != nullptr)
        return true;
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    const std::string server = (name != nullptr && *name != '\0') ? name : "default";
    const std::string socket = "/dev/shm/jack_" + server + "_" + std::to_string(::getuid()) + "_0";
    struct stat info {};
    return ::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace sonrigo
