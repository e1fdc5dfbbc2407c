#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sonrigo {

// The system's open-file dialog. filter is in the "Description|*.ext|" form.
// Returns the chosen full path, or nothing when the user cancelled. Called on
// the user-interface thread only.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    virtual std::optional<std::string> chooseFileToOpen(std::string_view defaultExtension,
                                                        std::string_view filter,
                                                        std::string_view initialName) = 0;
};

}  // namespace sonrigo
