#pragma once

#include <cstdint>
#include <string>

namespace sonrigo {

// The instrument programs of the rack's slots, as the rows and the playback
// callbacks use them. An empty slot, or one outside 0..15, ignores
// setProgram and answers 0 and the empty string. The real one is
// RackPrograms over the VstRack.
class ProgramRack {
public:
    virtual ~ProgramRack() = default;

    virtual void setProgram(std::int32_t slot, std::int32_t program) = 0;
    virtual std::string programName(std::int32_t slot) = 0;
    virtual std::int32_t getProgram(std::int32_t slot) = 0;
};

}  // namespace sonrigo
