#include "support/ManualWaveOut.h"

#include <vector>

namespace sonrigo::test {

ManualWaveOutService::Stream::Stream(ManualWaveOutService& service, const WaveFormat& format, WaveOutWindow* window)
    : QueuedWaveOutStream(format, window), service_(service)
{
}

bool ManualWaveOutService::Stream::prepare(WaveHeader& header)
{
    if (service_.prepares++ == service_.failures.prepareAt)
        return false;
    return queue_.prepare(header);
}

bool ManualWaveOutService::Stream::write(WaveHeader& header)
{
    if (service_.writes++ == service_.failures.writeAt)
        return false;
    return queue_.write(header);
}

bool ManualWaveOutService::Stream::close()
{
    queue_.detach();
    if (service_.stream == this)
        service_.stream = nullptr;
    return !service_.failures.close;
}

std::size_t ManualWaveOutService::Stream::advance(std::size_t frames)
{
    std::vector<std::int16_t> out(frames);
    return queue_.play(out.data(), frames);
}

bool ManualWaveOutService::query(std::int32_t /*deviceId*/, const WaveFormat& /*format*/)
{
    return !failures.query;
}

std::unique_ptr<WaveOutStream> ManualWaveOutService::open(std::int32_t /*deviceId*/, const WaveFormat& format,
                                                          WaveOutWindow* window)
{
    ++opens;
    if (failures.open)
        return nullptr;
    auto opened = std::make_unique<Stream>(*this, format, window);
    stream = opened.get();
    return opened;
}

}  // namespace sonrigo::test
