#include "vsthost/PluginTrial.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "common/MessageSink.h"
#include "vsthost/VstApi.h"
#include "vsthost/VstPlugin.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

// A few blocks of the player's size: the note sounds for the first half.
constexpr std::int32_t kBlockSize = PluginTrial::kBlockSize;
constexpr int kBlocks = 12;
constexpr int kNoteOffBlock = 6;
constexpr std::uint8_t kKey = 60;
constexpr std::uint8_t kVelocity = 100;

void writeLine(int fd, const std::string& line)
{
    const std::string text = line + "\n";
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t wrote = ::write(fd, data, left);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return;
        data += wrote;
        left -= static_cast<std::size_t>(wrote);
    }
}

// The load's messages go to the report instead of the user.
class ReportSink final : public MessageSink {
public:
    explicit ReportSink(int fd) : fd_(fd) {}
    void show(std::string_view text) override { writeLine(fd_, "message " + PluginTrial::Escape(std::string(text))); }

private:
    int fd_;
};

// A crash is to end the process by its signal, for the parent to name it,
// even where a sanitizer or a library has put a handler in place.
void restoreDefaultCrashHandling()
{
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

void PluginTrial::RunAndExit(const std::string& path, int reportFd)
{
    // Nobody is waiting for a trial whose parent is gone.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    restoreDefaultCrashHandling();
    InstallMessageSink(std::make_shared<ReportSink>(reportFd));

    writeLine(reportFd, "step loading");
    auto plugin = std::make_unique<VstPlugin>(static_cast<float>(VstRack::kSampleRate), kBlockSize,
                                              VstRack::kEventsPerBlock);
    if (!plugin->load(path))
        ::_exit(kRefused);

    writeLine(reportFd, "step starting");
    plugin->resume();
    plugin->setProgram(0);

    writeLine(reportFd, "step playing");
    bool soundOk = true;
    bool inBlocks = true;
    for (int block = 0; block < kBlocks; ++block) {
        if (block == 0)
            plugin->addEvent(vst::MakeMidiEvent(0x90, kKey, kVelocity));
        if (block == kNoteOffBlock)
            plugin->addEvent(vst::MakeMidiEvent(0x80, kKey, 0));
        plugin->handOverEvents(kBlockSize);
        plugin->flushEvents();
        plugin->process(kBlockSize);
        if (soundOk && !plugin->outputsSound(kBlockSize)) {
            soundOk = false;
            writeLine(reportFd, "bad-samples");
        }
        if (inBlocks && !plugin->stayedInBlocks()) {
            inBlocks = false;
            writeLine(reportFd, "past-block");
        }
    }

    writeLine(reportFd, "step stopping");
    plugin->suspend();
    writeLine(reportFd, "step closing");
    plugin->close();
    writeLine(reportFd, "done");
    ::_exit(0);
}

std::string PluginTrial::Escape(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::string PluginTrial::Unescape(const std::string& text)
{
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            plain += text[i] == 'n' ? '\n' : text[i];
        } else {
            plain += text[i];
        }
    }
    return plain;
}

}  // namespace sonrigo
