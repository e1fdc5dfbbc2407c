// Looks at the player's windows as a person would: grabs them from the X
// server, saves the pictures and checks what the layout puts where.
//
//   sonrigo_window_check main WINDOW-ID OUT.png   the main window
//   sonrigo_window_check about WINDOW-ID OUT.png  the About box
//   sonrigo_window_check screen OUT.png           the whole screen (a menu)
//
// Prints each picture's path; exits 1 with the reason when a check fails.
#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/AboutDialog.h"
#include "app/MainApplication.h"
#include "app/MainDialog.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
        ++failures;
    }
}

// The average colour of a box, in the window's pixels.
QColor Average(const QImage& image, const QRect& box)
{
    long r = 0, g = 0, b = 0, n = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            r += c.red(), g += c.green(), b += c.blue(), ++n;
        }
    return n == 0 ? QColor() : QColor(int(r / n), int(g / n), int(b / n));
}

bool Green(const QColor& c)
{
    return c.green() > c.red() + 40 && c.green() > c.blue() + 40;
}

bool Grey(const QColor& c)
{
    return std::abs(c.red() - c.green()) < 24 && std::abs(c.green() - c.blue()) < 24;
}

// Pixels of a box for which `counts` holds.
int Count(const QImage& image, const QRect& box, bool (*counts)(const QColor&))
{
    int n = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            n += counts(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

// Close to the captions' dark green, RGB(0, 100, 0).
bool CaptionGreen(const QColor& c)
{
    return c.red() < 70 && c.green() > 60 && c.green() < 150 && c.blue() < 70;
}

// Every character of `text` has a glyph in the window's font.
void CheckGlyphs(const QString& text, const char* what)
{
    const QFont font(QStringLiteral("ＭＳ Ｐゴシック"), 9);
    const QFontMetrics metrics(font);
    for (const QChar ch : text)
        Check(metrics.inFont(ch), std::string(what) + ": no glyph for U+" +
                                      QString::number(ch.unicode(), 16).toUpper().toStdString() + " in " +
                                      QFontInfo(font).family().toStdString());
}

QImage Grab(WId window, const char* path)
{
    const QImage image = QApplication::primaryScreen()->grabWindow(window).toImage();
    image.save(QString::fromLocal8Bit(path));
    std::printf("screenshot: %s (%d x %d)\n", path, image.width(), image.height());
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    sonrigo::MainApplication::substituteFonts();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "screen" && argc == 3) {
        Grab(0, argv[2]);
        return 0;
    }
    if (argc != 4 || (mode != "main" && mode != "about")) {
        std::fprintf(stderr, "usage: sonrigo_window_check main|about WINDOW-ID OUT.png | screen OUT.png\n");
        return 2;
    }
    const QImage image = Grab(std::strtoul(argv[2], nullptr, 0), argv[3]);
    if (mode == "main") {
        // The script found the window at its size, 574 x 696.
        // Between the "All" buttons, above the rows: the background, not the white of a bare control.
        const QColor panel = Average(image, QRect(60, 12, 160, 26));
        Check(Grey(panel) && panel.lightness() > 80 && panel.lightness() < 240,
              "background above the rows is grey: " + panel.name().toStdString());
        // Row 1's channel switch is lit, its "Fix" switch dark (away from the captions).
        const QColor lit = Average(image, QRect(30, 66, 9, 8));
        Check(Green(lit), "channel switch 1 is lit: " + lit.name().toStdString());
        const QColor dark = Average(image, QRect(522, 66, 8, 8));
        Check(Grey(dark), "Fix switch 1 is dark: " + dark.name().toStdString());
        // "  Load MIDI": its caption's green in the button's left part, none in its right end.
        Check(Count(image, QRect(124, 654, 80, 24), CaptionGreen) > 20, "\"  Load MIDI\" caption drawn on its button");
        Check(Count(image, QRect(215, 652, 18, 28), CaptionGreen) == 0, "nothing of the caption at the button's right end");
        Check(Count(image, QRect(120, 652, 6, 28), CaptionGreen) == 0, "the caption starts after its two blanks");
    } else {
        Check(image.width() > 300 && image.height() > 60, "the About box has its size");
        CheckGlyphs(QString::fromUtf8(sonrigo::AboutDialog::kCaption), "About caption");
        CheckGlyphs(QString::fromUtf8(sonrigo::MainDialog::kAboutItemText), "About item");
        // The text "SonrigoApp Version 1.0" is drawn: dark pixels in its box.
        const int dark = Count(image, QRect(70, 15, 208, 16), [](const QColor& c) { return c.lightness() < 100; });
        Check(dark > 30, "the About text is drawn");
    }
    return failures == 0 ? 0 : 1;
}
