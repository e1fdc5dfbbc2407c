#pragma once

#include <QSpinBox>

class QLineEdit;

namespace sonrigo {

// The up/down control of a row's program number. Its value shows in its buddy,
// the read-only number field beside it, as a plain integer; the field changes
// (and tells its listeners) only when the value does. The user moves it with
// the mouse or the arrow keys: its own text part is never shown.
class ProgramSpin final : public QSpinBox {
    Q_OBJECT

public:
    ProgramSpin(QLineEdit* buddy, QWidget* parent);

    QLineEdit* buddy() const { return buddy_; }

private:
    QLineEdit* buddy_;
};

}  // namespace sonrigo
