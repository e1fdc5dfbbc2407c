#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace sonrigo {

// Exit code of RunVstRender for a command line it does not understand; the
// caller prints the usage.
inline constexpr int kVstRenderUsageError = 2;

struct VstRenderOptions {
    std::string plugin;  // the plug-in library to load
    std::string output;  // the WAV file to write
};

// Reads what follows "vst-render": PLUGIN.so and -o OUT.wav, in either order.
// False for anything else.
bool ParseVstRenderArgs(const std::vector<std::string>& args, VstRenderOptions& options);

// `sonrigo-cli vst-render PLUGIN.so -o OUT.wav`: loads and resumes the
// plug-in, plays it a short melody in blocks of 882 frames at 44100 Hz and
// writes the average of its output channels as 16-bit mono WAV. The file
// appears under its name only when it has been written whole. Problems go to
// err (and the plug-in's load messages to the message sink). Returns 0, or 1
// when the plug-in does not load or the file cannot be written.
int RunVstRender(const VstRenderOptions& options, std::ostream& err);

}  // namespace sonrigo
