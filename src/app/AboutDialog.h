#pragma once

#include <QDialog>

namespace sonrigo {

// The About box: the program's icon, its name and version, and OK.
class AboutDialog final : public QDialog {
    Q_OBJECT

public:
    static const char* const kCaption;
    static const char* const kText;

    explicit AboutDialog(QWidget* parent);
};

}  // namespace sonrigo
