#include "app/RackPrograms.h"

#include "vsthost/VstRack.h"

namespace sonrigo {

void RackPrograms::setProgram(std::int32_t slot, std::int32_t program)
{
    rack_.setProgram(slot, program);
}

std::string RackPrograms::programName(std::int32_t slot)
{
    return rack_.programName(slot);
}

std::int32_t RackPrograms::getProgram(std::int32_t slot)
{
    return rack_.getProgram(slot);
}

}  // namespace sonrigo
