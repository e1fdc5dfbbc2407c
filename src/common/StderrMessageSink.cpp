#include "common/StderrMessageSink.h"

#include <cstdio>
#include <string>

namespace sonrigo {

void StderrMessageSink::show(std::string_view text)
{
    std::string line = "sonrigo: ";
    line.append(text);
    line.push_back('\n');
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace sonrigo
