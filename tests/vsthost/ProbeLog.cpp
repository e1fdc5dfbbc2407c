#include "vsthost/ProbeLog.h"

#include <cstdlib>
#include <fstream>

namespace sonrigo::test {
namespace {

std::optional<std::string> getVariable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void restoreVariable(const char* name, const std::optional<std::string>& value)
{
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

}  // namespace

ProbeLog::ProbeLog()
    : path_((dir_.path() / "probe.log").string()),
      oldLog_(getVariable("SONRIGO_PROBE_LOG")),
      oldHome_(getVariable("HOME"))
{
    ::setenv("SONRIGO_PROBE_LOG", path_.c_str(), 1);
    ::setenv("HOME", dir_.path().c_str(), 1);
}

ProbeLog::~ProbeLog()
{
    restoreVariable("SONRIGO_PROBE_LOG", oldLog_);
    restoreVariable("HOME", oldHome_);
}

std::vector<std::string> ProbeLog::lines() const
{
    std::vector<std::string> result;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

std::vector<std::string> ProbeLog::linesStartingWith(std::string_view prefix) const
{
    std::vector<std::string> result;
    for (const std::string& line : lines())
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
