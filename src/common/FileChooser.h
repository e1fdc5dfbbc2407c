#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace sonrigo {

class FileDialog;

// Replaces the process-wide open-file dialog and returns the one it replaces.
// The default, until the GUI or a tool installs one, is a headless dialog that
// always cancels.
std::shared_ptr<FileDialog> InstallFileDialog(std::shared_ptr<FileDialog> dialog);

// Runs the installed open-file dialog. On OK stores the chosen full path in
// pathOut and returns 1; on Cancel returns 0 and leaves pathOut untouched.
int ChooseFileToOpen(std::string_view defaultExtension, std::string_view filter,
                     std::string_view initialName, std::string& pathOut);

}  // namespace sonrigo
