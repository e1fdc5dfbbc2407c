#include "vsthost/PluginProbe.h"

#include <sys/stat.h>

#include <sstream>

#include "common/InstalledService.h"
#include "common/MessageSink.h"
#include "platform/ChildProcess.h"
#include "vsthost/PluginTrial.h"

namespace sonrigo {
namespace {

constexpr const char* kLoadFailedText = "プラグインのロードに失敗しました。";

InstalledService<PluginProbe>& installed()
{
    static InstalledService<PluginProbe> service;
    return service;
}

// What the trial was doing when it ended, from its last "step" line.
std::string stepText(const std::string& step)
{
    if (step == "loading")
        return "while it was being loaded";
    if (step == "starting")
        return "while it was being started";
    if (step == "playing")
        return "while it played a note";
    if (step == "stopping")
        return "while it was being stopped";
    if (step == "closing")
        return "while it was being closed";
    return "before it was loaded";
}

struct Report {
    std::string lastStep;
    std::vector<std::string> messages;
    bool badSamples = false;
    bool pastBlock = false;
    bool done = false;
};

Report parse(const std::string& text)
{
    Report report;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("step ", 0) == 0)
            report.lastStep = line.substr(5);
        else if (line.rfind("message ", 0) == 0)
            report.messages.push_back(PluginTrial::Unescape(line.substr(8)));
        else if (line == "bad-samples")
            report.badSamples = true;
        else if (line == "past-block")
            report.pastBlock = true;
        else if (line == "done")
            report.done = true;
    }
    return report;
}

}  // namespace

PluginProbe::PluginProbe(std::vector<std::string> trialCommand, std::function<bool()> keepWaiting,
                         std::chrono::milliseconds limit)
    : trialCommand_(std::move(trialCommand)), keepWaiting_(std::move(keepWaiting)), limit_(limit)
{
}

PluginProbe::Verdict PluginProbe::check(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    const Key key{path, static_cast<std::int64_t>(status.st_size),
                  static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (const auto found = verdicts_.find(key); found != verdicts_.end()) {
            Verdict verdict = found->second;
            // A warning that came with an admission is said once.
            if (verdict.admitted)
                verdict.messages.clear();
            return verdict;
        }
    }
    Trial trial = runTrial(path);
    const std::lock_guard<std::mutex> lock(mutex_);
    ++trials_;
    if (!trial.failure.empty())
        failures_.push_back(trial.failure);
    if (trial.keep)
        verdicts_[key] = trial.verdict;
    return trial.verdict;
}

PluginProbe::Trial PluginProbe::runTrial(const std::string& path)
{
    std::vector<std::string> command = trialCommand_;
    command.push_back(path);
    if (trying_)
        trying_(true);
    const ChildProcess::Outcome outcome = ChildProcess::run(command, limit_, keepWaiting_);
    if (trying_)
        trying_(false);
    const Report report = parse(outcome.report);
    Trial trial;
    std::string how;
    switch (outcome.end) {
    case ChildProcess::End::NotStarted: {
        // Without the trial program the player still plays: the libraries
        // load untried, as they did before trials existed.
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!std::exchange(warnedUntried_, true))
            trial.verdict.messages.push_back("Plug-ins cannot be tried in a process of their own (" + outcome.error +
                                             "): they are loaded untried.");
        trial.keep = false;
        return trial;
    }
    case ChildProcess::End::Abandoned:
        trial.verdict.admitted = false;
        trial.keep = false;
        return trial;
    case ChildProcess::End::Exited:
        if (outcome.status == 0 && report.done) {
            if (report.pastBlock)
                how = "wrote past the end of the " + std::to_string(PluginTrial::kBlockSize) +
                      "-frame buffers it was given";
            else if (report.badSamples)
                how = "played samples that are not numbers or far beyond full scale";
            else
                return trial;
        } else if (outcome.status == PluginTrial::kRefused && !report.messages.empty()) {
            // The load said why, as it would have said it here.
            trial.verdict.admitted = false;
            trial.verdict.messages = report.messages;
            return trial;
        } else {
            how = "ended that process with exit status " + std::to_string(outcome.status) + " " +
                  stepText(report.lastStep);
        }
        break;
    case ChildProcess::End::Signalled:
        how = "crashed (" + ChildProcess::SignalName(outcome.signal) + ") " + stepText(report.lastStep);
        break;
    case ChildProcess::End::TimedOut:
        how = "did not answer for " + std::to_string((limit_.count() + 500) / 1000) + " s " +
              stepText(report.lastStep) + " (it was stopped)";
        break;
    }
    trial.verdict.admitted = false;
    trial.verdict.messages.push_back(std::string(kLoadFailedText) + "\n" + path +
                                     " was tried in a process of its own and " + how + ". It is not loaded.");
    trial.failure = path + ": " + how;
    return trial;
}

bool PluginProbe::Admits(const std::string& path)
{
    const std::shared_ptr<PluginProbe> probe = CurrentPluginProbe();
    if (!probe)
        return true;
    const Verdict verdict = probe->check(path);
    for (const std::string& text : verdict.messages)
        ShowMessage(text);
    return verdict.admitted;
}

std::vector<std::string> PluginProbe::failures() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
}

std::int32_t PluginProbe::trials() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return trials_;
}

std::shared_ptr<PluginProbe> InstallPluginProbe(std::shared_ptr<PluginProbe> probe)
{
    return installed().exchange(std::move(probe));
}

std::shared_ptr<PluginProbe> CurrentPluginProbe()
{
    return installed().current();
}

}  // namespace sonrigo
