#pragma once

#include <cstddef>
#include <cstdint>

namespace sonrigo {

// Where a device that plays into no hardware puts what it plays: mono 16-bit
// frames, in order. Called on the device's thread.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    virtual void write(const std::int16_t* frames, std::size_t count) = 0;
};

}  // namespace sonrigo
