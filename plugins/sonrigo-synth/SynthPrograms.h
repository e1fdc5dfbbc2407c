#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "SynthPatch.h"

namespace sonrigo::synth {

// The instance's programs: which one is current, each one's name and its four
// parameter values. Safe from any thread: the current program and the
// parameters are atomics (the render thread reads them without waiting), the
// names, which the host may rename, are behind a mutex that the render thread
// never takes.
class SynthPrograms {
public:
    SynthPrograms();

    static constexpr int count() { return static_cast<int>(kPatchCount); }

    int current() const { return current_.load(std::memory_order_relaxed); }
    // Ignores numbers outside 0..count()-1, as hosts expect of a program change
    // the plug-in does not have.
    void select(int program);
    const SynthPatch& currentPatch() const;

    // A parameter of the current program; out-of-range indices read 0 and
    // write nothing.
    float param(int index) const;
    void setParam(int index, float value);

    // Empty for a program that does not exist.
    std::string name(int program) const;
    // Keeps at most kMaxNameLength characters.
    void rename(int program, const char* name);

    static constexpr std::size_t kMaxNameLength = 24;

private:
    std::atomic<int> current_{0};
    std::array<std::array<std::atomic<float>, kParamCount>, kPatchCount> params_;
    mutable std::mutex nameMutex_;
    std::array<std::array<char, kMaxNameLength + 1>, kPatchCount> names_{};
};

}  // namespace sonrigo::synth
