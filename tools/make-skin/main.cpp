// Draws the window's skin images and the program icon, and writes them as
// PNG files under the folder given (the project's res/): res/skin/NAME.png at
// 1x and NAME@2x.png at 2x, and res/icons/hicolor/NxN/apps/sonrigo.png.
//
// Everything is drawn in logical pixels on images whose device pixel ratio is
// the output scale, so that the 2x images are the same drawing at twice the
// resolution, not enlargements. Run with QT_QPA_PLATFORM=offscreen (the
// make-skin target does); the lettering uses DejaVu Sans, which the project's
// packages bring.

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// The panel's size and where the window puts things on it.
constexpr int kPanelWidth = 574;
constexpr int kPanelHeight = 696;
constexpr int kRowsLeft = 10;
constexpr int kRowsRight = 532;
constexpr int kFirstRowTop = 45;
constexpr int kRowPitch = 35;
constexpr int kRowHeight = 32;
constexpr int kRowCount = 16;
constexpr QPoint kPowerAt(10, 620);
constexpr QPoint kBottomButtonAt(120, 650);

const QColor kPanelTop(0xd6, 0xd9, 0xdd);
const QColor kPanelBottom(0xb6, 0xbb, 0xc1);
const QColor kHighlight(0xf7, 0xf8, 0xfa);
const QColor kShadow(0x6e, 0x74, 0x7b);
const QColor kOutline(0x4c, 0x51, 0x57);

using Drawing = std::function<void(QPainter&)>;

bool Write(const QString& path, QSize size, qreal scale, bool opaque, const Drawing& draw)
{
    QImage image(size * scale, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        draw(painter);
    }
    QDir().mkpath(QFileInfo(path).path());
    // The ratio is not kept in the file: the loader sets it from the name.
    image.setDevicePixelRatio(1.0);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "make-skin: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// The panel's plain fill: a vertical gradient only, so that the patch behind
// a button is the same wherever along a line the button sits.
void FillPanel(QPainter& painter, const QRectF& area)
{
    QLinearGradient gradient(0, 0, 0, kPanelHeight);
    gradient.setColorAt(0, kPanelTop);
    gradient.setColorAt(1, kPanelBottom);
    painter.fillRect(area, gradient);
}

// The panel as it lies behind an image placed at `at`: the corners of a round
// button show the panel, not white.
void FillPanelBehind(QPainter& painter, QPoint at, QSize size)
{
    painter.save();
    painter.translate(-at);
    FillPanel(painter, QRectF(at, size));
    painter.restore();
}

// A raised (or, swapped, sunken) edge of `width` inside rect: light on the top
// and left, dark on the bottom and right, mitred at the corners.
void Bevel(QPainter& painter, const QRectF& rect, qreal width, const QColor& light, const QColor& dark)
{
    const QRectF inner = rect.adjusted(width, width, -width, -width);
    painter.setPen(Qt::NoPen);
    painter.setBrush(light);
    painter.drawPolygon(QPolygonF({rect.topLeft(), rect.topRight(), inner.topRight(), inner.topLeft(),
                                   inner.bottomLeft(), rect.bottomLeft()}));
    painter.setBrush(dark);
    painter.drawPolygon(QPolygonF({rect.bottomRight(), rect.bottomLeft(), inner.bottomLeft(), inner.bottomRight(),
                                   inner.topRight(), rect.topRight()}));
}

void DrawBackground(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRectF panel(0, 0, kPanelWidth, kPanelHeight);
    FillPanel(painter, panel);
    Bevel(painter, panel, 1, kOutline.lighter(140), kOutline);
    Bevel(painter, panel.adjusted(1, 1, -1, -1), 2, kHighlight, kShadow);

    // A shallow tray behind the sixteen rows, clear of the "All" buttons above
    // them, which end 3 pixels above the first row.
    const int trayTop = kFirstRowTop - 2;
    const int trayBottom = kFirstRowTop + (kRowCount - 1) * kRowPitch + kRowHeight + 3;
    const QRectF tray(kRowsLeft - 4, trayTop, kRowsRight - kRowsLeft + 8, trayBottom - trayTop);
    QLinearGradient trayFill(0, tray.top(), 0, tray.bottom());
    trayFill.setColorAt(0, kPanelTop.darker(108));
    trayFill.setColorAt(1, kPanelBottom.darker(104));
    painter.fillRect(tray, trayFill);
    Bevel(painter, tray, 1, kShadow, kHighlight);
    Bevel(painter, tray.adjusted(1, 1, -1, -1), 1, kPanelTop.darker(120), kPanelTop.darker(104));

    // A groove between the rows and the bottom buttons.
    const qreal grooveY = tray.bottom() + 6;
    painter.fillRect(QRectF(8, grooveY, kPanelWidth - 16, 1), kShadow.lighter(115));
    painter.fillRect(QRectF(8, grooveY + 1, kPanelWidth - 16, 1), kHighlight);
}

// The power button: a round key with its word on it, blue when pressed.
void DrawPower(QPainter& painter, bool pressed)
{
    FillPanelBehind(painter, kPowerAt, QSize(60, 60));
    const QPointF centre(30, 30);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 50));
    painter.drawEllipse(centre + QPointF(1, 1.5), 28.5, 28.5);

    QLinearGradient ring(0, 1, 0, 59);
    ring.setColorAt(0, pressed ? kShadow : kHighlight);
    ring.setColorAt(1, pressed ? kHighlight : kShadow);
    painter.setBrush(ring);
    painter.setPen(QPen(kOutline, 1));
    painter.drawEllipse(centre, 28.5, 28.5);

    QRadialGradient face(centre + QPointF(-6, pressed ? 4 : -8), 34);
    face.setColorAt(0, pressed ? QColor(0xc4, 0xc9, 0xcf) : QColor(0xfb, 0xfc, 0xfd));
    face.setColorAt(1, pressed ? QColor(0xa6, 0xac, 0xb3) : QColor(0xbf, 0xc4, 0xca));
    painter.setBrush(face);
    painter.setPen(QPen(kShadow.lighter(120), 0.75));
    painter.drawEllipse(centre, 24.5, 24.5);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(13);
    painter.setFont(font);
    const QRectF text = QRectF(0, 0, 60, 60).translated(pressed ? QPointF(0.5, 1) : QPointF(0, 0));
    if (!pressed) {
        painter.setPen(QColor(255, 255, 255, 170));
        painter.drawText(text.translated(0, 1), Qt::AlignCenter, QStringLiteral("Power"));
    }
    painter.setPen(pressed ? QColor(0x1c, 0x4c, 0xd0) : QColor(0x2e, 0x33, 0x38));
    painter.drawText(text, Qt::AlignCenter, QStringLiteral("Power"));
}

// A bottom button: a rounded grey key; its caption is drawn over it.
void DrawBottomButton(QPainter& painter, bool pressed)
{
    FillPanelBehind(painter, kBottomButtonAt, QSize(115, 32));
    const QRectF key(0.5, 0.5, 114, 31);
    QLinearGradient fill(0, 0, 0, 32);
    fill.setColorAt(0, pressed ? QColor(0xb2, 0xb7, 0xbd) : QColor(0xfa, 0xfb, 0xfc));
    fill.setColorAt(1, pressed ? QColor(0xd8, 0xdb, 0xdf) : QColor(0xc3, 0xc8, 0xce));
    painter.setBrush(fill);
    painter.setPen(QPen(kOutline, 1));
    painter.drawRoundedRect(key, 8, 8);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(pressed ? QColor(0, 0, 0, 60) : QColor(255, 255, 255, 200), 1));
    painter.drawRoundedRect(key.adjusted(1, 1, -1, -1), 7, 7);
}

// A square lamp key, lit green or dark grey; captions go over it.
void DrawSquare(QPainter& painter, bool lit)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRectF square(0, 0, 32, 32);
    painter.fillRect(square, kOutline);
    const QRectF face = square.adjusted(1, 1, -1, -1);
    QLinearGradient fill(0, 1, 0, 31);
    fill.setColorAt(0, lit ? QColor(0xb8, 0xf5, 0xa8) : QColor(0xdc, 0xdf, 0xe2));
    fill.setColorAt(1, lit ? QColor(0x52, 0xc4, 0x45) : QColor(0xa9, 0xae, 0xb4));
    painter.fillRect(face, fill);
    Bevel(painter, face, 1, lit ? QColor(0xe4, 0xff, 0xdc) : kHighlight,
          lit ? QColor(0x2c, 0x86, 0x24) : kShadow);
}

// The icon: a green note over a small keyboard on a dark tile. The keyboard
// has fewer keys at the small sizes so that every key stays a few pixels wide.
void DrawIcon(QPainter& painter, int size)
{
    const qreal n = size;
    const QRectF tile(n * 0.03, n * 0.03, n * 0.94, n * 0.94);
    QLinearGradient back(0, 0, 0, n);
    back.setColorAt(0, QColor(0x3a, 0x46, 0x55));
    back.setColorAt(1, QColor(0x1b, 0x21, 0x29));
    painter.setPen(Qt::NoPen);
    painter.setBrush(back);
    painter.drawRoundedRect(tile, n * 0.18, n * 0.18);

    const int whiteKeys = size <= 16 ? 3 : size <= 32 ? 5 : 7;
    const qreal left = std::round(n * 0.12);
    const qreal right = n - left;
    const qreal top = std::round(n * 0.64);
    const qreal bottom = std::round(n * 0.88);
    const qreal keyWidth = (right - left) / whiteKeys;
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int k = 0; k < whiteKeys; ++k) {
        const qreal x0 = std::round(left + k * keyWidth);
        const qreal x1 = std::round(left + (k + 1) * keyWidth) - std::max(1.0, std::round(n / 64));
        painter.fillRect(QRectF(x0, top, x1 - x0, bottom - top), QColor(0xf2, 0xf3, 0xf5));
    }
    // Black keys after the first, second, fourth and fifth white keys (C D F G A).
    for (int k = 0; k + 1 < whiteKeys; ++k) {
        if (k == 2 || k == 6) {
            continue;
        }
        const qreal middle = left + (k + 1) * keyWidth;
        const qreal half = std::max(1.0, std::round(keyWidth * 0.3));
        painter.fillRect(QRectF(std::round(middle - half), top, 2 * half, std::round((bottom - top) * 0.58)),
                         QColor(0x14, 0x18, 0x1d));
    }

    painter.setRenderHint(QPainter::Antialiasing, true);
    const QColor green(0x6c, 0xe0, 0x58);
    painter.setBrush(green);
    const QPointF head(n * 0.42, n * 0.47);
    painter.save();
    painter.translate(head);
    painter.rotate(-22);
    painter.drawEllipse(QPointF(0, 0), n * 0.12, n * 0.085);
    painter.restore();
    const qreal stemX = head.x() + n * 0.095;
    const qreal stemWidth = std::max(1.0, n * 0.05);
    painter.drawRect(QRectF(stemX, n * 0.12, stemWidth, head.y() - n * 0.12));
    QPainterPath flag;
    flag.moveTo(stemX + stemWidth, n * 0.12);
    flag.cubicTo(stemX + n * 0.12, n * 0.2, stemX + n * 0.24, n * 0.22, stemX + n * 0.17, n * 0.38);
    flag.cubicTo(stemX + n * 0.19, n * 0.28, stemX + n * 0.1, n * 0.25, stemX + stemWidth, n * 0.22);
    flag.closeSubpath();
    painter.drawPath(flag);
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: sonrigo-make-skin RES-FOLDER\n");
        return 2;
    }
    const QString res = QString::fromLocal8Bit(argv[1]);
    struct SkinImage {
        const char* name;
        QSize size;
        Drawing draw;
    };
    const SkinImage images[] = {
        {"background", {kPanelWidth, kPanelHeight}, DrawBackground},
        {"power", {60, 60}, [](QPainter& p) { DrawPower(p, false); }},
        {"power-pressed", {60, 60}, [](QPainter& p) { DrawPower(p, true); }},
        {"button", {115, 32}, [](QPainter& p) { DrawBottomButton(p, false); }},
        {"button-pressed", {115, 32}, [](QPainter& p) { DrawBottomButton(p, true); }},
        {"square-grey", {32, 32}, [](QPainter& p) { DrawSquare(p, false); }},
        {"square-green", {32, 32}, [](QPainter& p) { DrawSquare(p, true); }},
    };
    bool ok = true;
    for (const SkinImage& image : images) {
        for (const int scale : {1, 2}) {
            const QString path = QStringLiteral("%1/skin/%2%3.png").arg(res, image.name, scale == 2 ? "@2x" : "");
            ok = Write(path, image.size, scale, true, image.draw) && ok;
        }
    }
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral("%1/icons/hicolor/%2x%2/apps/sonrigo.png").arg(res).arg(size);
        ok = Write(path, QSize(size, size), 1, false, [size](QPainter& p) { DrawIcon(p, size); }) && ok;
    }
    return ok ? 0 : 1;
}
