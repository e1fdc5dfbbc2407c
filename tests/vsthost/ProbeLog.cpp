#include "vsthost/ProbeLog.h"

#include <fstream>

namespace sonrigo::test {

std::vector<std::string> ProbeLog::linesStartingWith(std::string_view prefix) const
{
    std::vector<std::string> result;
    std::ifstream in(dir_.path() / "probe.log");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix))
            result.push_back(line);
    return result;
}

std::vector<std::string> ProbeLog::dispatches() const
{
    std::vector<std::string> result;
    for (const std::string& line : linesStartingWith("dispatch "))
        result.push_back(line.substr(9));
    return result;
}

}  // namespace sonrigo::test
