#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sonrigo {

// Where the instrument chooser opens: the folders Linux hosts search for
// VST 2 plug-ins. The entries of LXVST_PATH, then of VST_PATH
// (colon-separated, empty entries skipped); when neither is set, the usual
// folders under the home folder, /usr/local and /usr.
class PluginFolders {
public:
    static constexpr std::string_view kDefaultExtension = "so";
    static constexpr std::string_view kFilter = "VST plug in files|*.so|";

    // The folders to look in, in order, from the environment.
    static std::vector<std::string> Candidates();
    // The first of them that exists as a folder; empty when none does.
    static std::string First();
    // The file dialog's initial name: the plug-ins of First() (or of the
    // current folder).
    static std::string InitialName();
};

}  // namespace sonrigo
