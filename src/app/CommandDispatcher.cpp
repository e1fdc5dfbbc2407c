#include "app/CommandDispatcher.h"

#include "app/ChannelRows.h"

namespace sonrigo {
namespace {

// The button indices of the command group, in the order the window adds them.
constexpr std::int32_t kPower = 0;
constexpr std::int32_t kLoad = 1;
constexpr std::int32_t kPlay = 2;
constexpr std::int32_t kHelp = 3;
constexpr std::int32_t kAllChannels = 4;
constexpr std::int32_t kAllInternal = 5;
constexpr std::int32_t kFirstInternal = 6;
constexpr std::int32_t kAllInstrument = 22;
constexpr std::int32_t kFirstInstrument = 23;
constexpr std::int32_t kAllFixed = 39;

}  // namespace

void CommandDispatcher::onCommandButton(std::int32_t index)
{
    if (index >= kFirstInternal && index < kFirstInternal + ChannelRows::kRows) {
        rows_.routeInternal(index - kFirstInternal);
        return;
    }
    if (index >= kFirstInstrument && index < kFirstInstrument + ChannelRows::kRows) {
        dialog_.chooseInstrument(index - kFirstInstrument);
        return;
    }
    switch (index) {
    case kPower:
        dialog_.endProgram();
        break;
    case kLoad:
        dialog_.loadSong();
        break;
    case kPlay:
        dialog_.togglePlay();
        break;
    case kHelp:
        dialog_.showHelp();
        break;
    case kAllChannels:
        rows_.toggleAllChannels();
        break;
    case kAllInternal:
        rows_.routeAllInternal();
        break;
    case kAllInstrument:
        dialog_.chooseInstrumentForAll();
        break;
    case kAllFixed:
        rows_.toggleAllFixed();
        break;
    default:
        break;
    }
}

}  // namespace sonrigo
