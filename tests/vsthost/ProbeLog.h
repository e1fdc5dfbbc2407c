#pragma once

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace sonrigo::test {

// A fresh folder for one test that loads plug-ins: HOME points into it (real
// plug-ins write their settings there) and so does SONRIGO_PROBE_LOG, where
// the probe instrument appends one line per call it receives. Both variables
// are put back when the object goes. Set it up before loading a probe: the
// probe reads the variable when it is instantiated.
class ProbeLog {
public:
    const TempDir& dir() const { return dir_; }
    // The lines that start with prefix, in order.
    std::vector<std::string> linesStartingWith(std::string_view prefix) const
    {
        std::vector<std::string> result;
        std::ifstream in(dir_.path() / "probe.log");
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(prefix))
                result.push_back(line);
        return result;
    }
    // The dispatcher calls as "opcode index value ptr|null opt".
    std::vector<std::string> dispatches() const
    {
        std::vector<std::string> calls = linesStartingWith("dispatch ");
        for (std::string& call : calls)
            call.erase(0, 9);
        return calls;
    }

private:
    TempDir dir_;
    ScopedEnv log_{"SONRIGO_PROBE_LOG", (dir_.path() / "probe.log").string()};
    ScopedEnv home_{"HOME", dir_.path().string()};
};

}  // namespace sonrigo::test
