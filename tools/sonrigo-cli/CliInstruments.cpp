#include "CliInstruments.h"

#include <charconv>

namespace sonrigo {

bool ParseChannel(const std::string& text, std::int32_t& channel)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), channel);
    return error == std::errc() && end == text.data() + text.size() && channel >= 1 && channel <= 16;
}

bool ParseInstrumentOption(const std::string& option, const std::string& value, InstrumentList& instruments)
{
    if (option == "--vst-all") {
        for (std::int32_t channel = 0; channel < 16; ++channel)
            instruments.emplace_back(channel, value);
        return true;
    }
    if (option != "--vst")
        return false;
    const std::size_t equals = value.find('=');
    std::int32_t channel = 0;
    if (equals == std::string::npos || equals + 1 == value.size() || !ParseChannel(value.substr(0, equals), channel))
        return false;
    instruments.emplace_back(channel - 1, value.substr(equals + 1));
    return true;
}

}  // namespace sonrigo
