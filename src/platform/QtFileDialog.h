#pragma once

#include <QStringList>

#include "platform/FileDialog.h"

class QFileDialog;

namespace sonrigo {

// The open-file dialog of the window: Qt's own file dialog, modal, on the
// user-interface thread (a call from any other thread, or without a
// QApplication, cancels).
class QtFileDialog final : public FileDialog {
public:
    std::optional<std::string> chooseFileToOpen(std::string_view defaultExtension, std::string_view filter,
                                                std::string_view initialName) override;

    // "Description|*.ext;*.ext2|..." as Qt's name filters, one per
    // description: "Description (*.ext *.ext2)". The song files' glob grows to
    // every name the desktop gives MIDI files. Pairs without a glob are left
    // out.
    static QStringList nameFilters(std::string_view filter);

    // Sets `dialog` up as chooseFileToOpen shows it: the filters, the default
    // extension added to a name typed without one, and the folder and file
    // that initialName points to (the current folder when that folder does
    // not exist or the name is empty).
    static void prepare(QFileDialog& dialog, std::string_view defaultExtension, std::string_view filter,
                        std::string_view initialName);
};

}  // namespace sonrigo
