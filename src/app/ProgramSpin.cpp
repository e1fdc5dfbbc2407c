#include "app/ProgramSpin.h"

#include <QLineEdit>

namespace sonrigo {

ProgramSpin::ProgramSpin(QLineEdit* buddy, QWidget* parent) : QSpinBox(parent), buddy_(buddy)
{
    lineEdit()->setReadOnly(true);
    lineEdit()->hide();
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setFocusPolicy(Qt::StrongFocus);
    buddy_->setReadOnly(true);
    buddy_->setText(QString::number(value()));
    connect(this, &QSpinBox::valueChanged, buddy_, [this](int number) { buddy_->setText(QString::number(number)); });
}

}  // namespace sonrigo
