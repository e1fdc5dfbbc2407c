#include "common/FileChooser.h"

#include <mutex>
#include <utility>

#include "platform/HeadlessFileDialog.h"

namespace sonrigo {
namespace {

std::mutex dialogMutex;

std::shared_ptr<FileDialog>& installedDialog()
{
    static std::shared_ptr<FileDialog> dialog = std::make_shared<HeadlessFileDialog>();
    return dialog;
}

}  // namespace

std::shared_ptr<FileDialog> InstallFileDialog(std::shared_ptr<FileDialog> dialog)
{
    if (!dialog)
        dialog = std::make_shared<HeadlessFileDialog>();
    std::lock_guard lock(dialogMutex);
    return std::exchange(installedDialog(), std::move(dialog));
}

int ChooseFileToOpen(std::string_view defaultExtension, std::string_view filter,
                     std::string_view initialName, std::string& pathOut)
{
    std::shared_ptr<FileDialog> dialog;
    {
        std::lock_guard lock(dialogMutex);
        dialog = installedDialog();
    }
    std::optional<std::string> chosen = dialog->chooseFileToOpen(defaultExtension, filter, initialName);
    if (!chosen)
        return 0;
    pathOut = std::move(*chosen);
    return 1;
}

}  // namespace sonrigo
