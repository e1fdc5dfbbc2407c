#pragma once

#include "app/ProgramRack.h"

namespace sonrigo {

class VstRack;

// The programs of a VstRack's slots. Borrows the rack, which must outlive it;
// callable on the threads the rack allows for these calls.
class RackPrograms final : public ProgramRack {
public:
    explicit RackPrograms(VstRack& rack) : rack_(rack) {}

    void setProgram(std::int32_t slot, std::int32_t program) override;
    std::string programName(std::int32_t slot) override;
    std::int32_t getProgram(std::int32_t slot) override;

private:
    VstRack& rack_;
};

}  // namespace sonrigo
