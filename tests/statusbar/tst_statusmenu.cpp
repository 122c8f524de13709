#include "StatusIcon.h"
#include "StatusItem.h"
#include "StatusLook.h"
#include "TestEnvironment.h"
#include "TrayWait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>

#include <cmath>

class StatusMenuTest : public QObject {
    Q_OBJECT

public:
    explicit StatusMenuTest(TestEnvironment &) {}

private slots:
    void iconStandsOutOnItsPanelAndTheStatesDifferInShape() {
        // GNOME's top bar is dark whatever the palette; elsewhere panels follow the palette.
        const QColor dark(0x1e, 0x1e, 0x1e), light(0xf0, 0xf0, 0xf0);
        for (const auto &[desktop, windowText, panel] :
             {std::tuple<const char *, QColor, QColor>{"ubuntu:GNOME", Qt::black, dark},
              {"KDE", QColor(0x23, 0x26, 0x29), light},
              {"XFCE", QColor(0xfc, 0xfc, 0xfc), dark}}) {
            const QColor colour = statusGlyphColour(QString::fromLatin1(desktop), windowText);
            const QIcon on = statusIcon(StatusGlyph::Connected, colour);
            const QIcon off = statusIcon(StatusGlyph::Disconnected, colour);
            for (const int side : {16, 22}) {
                // A visible line of glyph, not a few stray pixels: at least a pixel per row on
                // average, each at the contrast asked of graphics (3:1).
                QVERIFY2(strongPixels(on, side, panel) >= side, desktop);
                QVERIFY2(strongPixels(off, side, panel) >= side, desktop);
                // Solid against outline: a good part of the shield is ink in one and not the
                // other.
                const QImage a = on.pixmap(side).toImage(), b = off.pixmap(side).toImage();
                QCOMPARE(a.size(), QSize(side, side));
                int glyph = 0, differing = 0;
                for (int y = 0; y < side; ++y) {
                    for (int x = 0; x < side; ++x) {
                        glyph += qMax(qAlpha(a.pixel(x, y)), qAlpha(b.pixel(x, y))) > 0;
                        differing += qAbs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y))) > 128;
                    }
                }
                QVERIFY2(differing * 10 >= glyph * 3, desktop);
            }
        }
    }

    void theGlyphFollowsThePalette() {
        // The desktop turns dark: the palette's text turns light, and so does the glyph.
        qunsetenv("XDG_CURRENT_DESKTOP");
        StatusItem item;
        const QPalette light = QApplication::palette();
        QPalette dark = light;
        dark.setColor(QPalette::WindowText, QColor(0xfc, 0xfc, 0xfc));
        QApplication::setPalette(dark);
        const QImage glyph = item.icon().pixmap(22).toImage();
        QApplication::setPalette(light);
        QSet<QRgb> solid; // the colours of the fully covered pixels
        for (int y = 0; y < glyph.height(); ++y)
            for (int x = 0; x < glyph.width(); ++x)
                if (qAlpha(glyph.pixel(x, y)) == 255)
                    solid.insert(glyph.pixel(x, y));
        QCOMPARE(solid, QSet<QRgb>{qRgb(0xfc, 0xfc, 0xfc)});
    }

    void withoutATrayTheNoticeComesOnceAfterTheWait() {
        int notices = 0;
        QElapsedTimer clock;
        clock.start();
        const TrayWait wait([&notices] { ++notices; }, std::chrono::milliseconds(600));
        QTRY_COMPARE_WITH_TIMEOUT(notices, 1, 5000);
        QVERIFY(clock.elapsed() >= 400); // two looks, 250 ms apart, each perhaps a little early
        QTest::qWait(600);
        QCOMPARE(notices, 1);
    }

private:
    // How many pixels of the icon, drawn on the panel's colour, stand out from it at 3:1.
    static int strongPixels(const QIcon &icon, int side, const QColor &panel) {
        const auto luminance = [](QRgb rgb) {
            const auto channel = [](int value) {
                const double c = value / 255.0;
                return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) +
                   0.0722 * channel(qBlue(rgb));
        };
        QImage image(side, side, QImage::Format_RGB32);
        image.fill(panel);
        QPainter painter(&image);
        icon.paint(&painter, image.rect());
        painter.end();
        const double background = luminance(panel.rgb());
        int count = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const double pixel = luminance(image.pixel(x, y));
                count += (qMax(pixel, background) + 0.05) / (qMin(pixel, background) + 0.05) >= 3;
            }
        }
        return count;
    }
};

ZENTREL_TEST_MAIN(StatusMenuTest, QApplication)
#include "tst_statusmenu.moc"
