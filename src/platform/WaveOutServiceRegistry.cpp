#include <memory>

#include "common/InstalledService.h"
#include "platform/NullWaveOutService.h"
#include "platform/RtAudioWaveOutService.h"
#include "platform/WaveOut.h"

namespace sonrigo {

namespace {

InstalledService<WaveOutService>& Installed()
{
    static InstalledService<WaveOutService> installed;
    return installed;
}

}  // namespace

void InstallWaveOutService(std::shared_ptr<WaveOutService> service)
{
    // A replaced service goes here, outside the lock.
    const std::shared_ptr<WaveOutService> previous = Installed().exchange(std::move(service));
}

std::shared_ptr<WaveOutService> CurrentWaveOutService()
{
    return Installed().current([]() -> std::shared_ptr<WaveOutService> {
        if (std::shared_ptr<WaveOutService> real = RtAudioWaveOutService::CreateIfAvailable())
            return real;
        return NullWaveOutService::StandInForMissingDevice();
    });
}

}  // namespace sonrigo
