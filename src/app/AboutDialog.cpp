#include "app/AboutDialog.h"

#include <QLabel>
#include <QPushButton>

#include "skin/SkinBitmaps.h"

namespace sonrigo {

const char* const AboutDialog::kCaption = "SonrigoAppのﾊﾞｰｼﾞｮﾝ情報";
const char* const AboutDialog::kText = "SonrigoApp Version 1.0";

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8(kCaption));
    setWindowIcon(SkinIcon());
    setModal(true);
    // The box's layout in pixels of its 9-point font: 235 x 55 dialog units.
    setFixedSize(411, 83);

    auto* icon = new QLabel(this);
    icon->setPixmap(SkinIcon().pixmap(32, 32));
    icon->setGeometry(19, 25, 32, 32);

    auto* text = new QLabel(QString::fromUtf8(kText), this);
    text->setTextFormat(Qt::PlainText);
    text->setGeometry(70, 15, 208, 16);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    ok->setGeometry(311, 10, 87, 24);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace sonrigo
