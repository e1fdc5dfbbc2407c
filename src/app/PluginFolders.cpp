#include "app/PluginFolders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace sonrigo {
namespace {

void AddEntries(const char* list, std::vector<std::string>& folders)
{
    std::string_view rest(list);
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view entry = rest.substr(0, colon);
        if (!entry.empty())
            folders.emplace_back(entry);
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
}

}  // namespace

std::vector<std::string> PluginFolders::Candidates()
{
    std::vector<std::string> folders;
    const char* lxvst = std::getenv("LXVST_PATH");
    const char* vst = std::getenv("VST_PATH");
    if (lxvst != nullptr || vst != nullptr) {
        if (lxvst != nullptr)
            AddEntries(lxvst, folders);
        if (vst != nullptr)
            AddEntries(vst, folders);
        return folders;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        folders.push_back(std::string(home) + "/.lxvst");
        folders.push_back(std::string(home) + "/.vst");
    }
    for (const char* folder :
         {"/usr/local/lib/lxvst", "/usr/local/lib/vst", "/usr/lib/lxvst", "/usr/lib/vst", "/usr/lib64/vst"})
        folders.emplace_back(folder);
    return folders;
}

std::string PluginFolders::First()
{
    for (const std::string& folder : Candidates()) {
        std::error_code error;
        if (std::filesystem::is_directory(folder, error))
            return folder;
    }
    return {};
}

std::string PluginFolders::InitialName()
{
    const std::string folder = First();
    return folder.empty() ? std::string("*.so") : folder + "/*.so";
}

}  // namespace sonrigo
