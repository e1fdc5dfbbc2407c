#include "vsthost/ProbeLog.h"

#include <cstdlib>
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

std::vector<int> ProbeLog::opcodes() const
{
    std::vector<int> result;
    for (const std::string& call : dispatches())
        result.push_back(std::atoi(call.c_str()));
    return result;
}

}  // namespace sonrigo::test
