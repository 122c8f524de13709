#include "StatusIcon.h"

#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

#include <memory>

namespace {
QString resourceFor(StatusGlyph glyph) {
    return glyph == StatusGlyph::Connected ? QStringLiteral(":/vpn.svg")
                                           : QStringLiteral(":/vpn-disconnected.svg");
}

// A QIcon built from pixmaps would be scaled through Qt's global pixmap cache, with new cache
// keys for every new icon; this engine keeps its few renderings itself.
class GlyphEngine : public QIconEngine {
public:
    GlyphEngine(StatusGlyph glyph, const QColor &colour, const QString &themeName)
        : m_glyph(glyph), m_colour(colour), m_themeName(themeName) {}

    QIconEngine *clone() const override { return new GlyphEngine(m_glyph, m_colour, m_themeName); }
    QString key() const override { return QStringLiteral("zentrel-status-glyph"); }
    QString iconName() override { return m_themeName; }
    bool isNull() override { return false; }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}};
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override {
        const int side = qMin(size.width(), size.height());
        return {side, side};
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override {
        const int side = qMin(size.width(), size.height());
        if (side <= 0)
            return QPixmap();
        auto cached = m_pixmaps.constFind(side);
        if (cached != m_pixmaps.constEnd())
            return *cached;
        // Panels ask for a handful of sizes; anything beyond that is not worth keeping.
        if (m_pixmaps.size() >= 12)
            m_pixmaps.clear();
        return *m_pixmaps.insert(side, render(side));
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const int side = qMin(rect.width(), rect.height());
        QPixmap glyph = pixmap(QSize(side, side) * ratio, mode, state);
        glyph.setDevicePixelRatio(ratio);
        const QRect target(rect.x() + (rect.width() - side) / 2,
                           rect.y() + (rect.height() - side) / 2, side, side);
        painter->drawPixmap(target, glyph);
    }

private:
    QPixmap render(int side) const {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        QSvgRenderer renderer(resourceFor(m_glyph));
        renderer.render(&painter);
        // The artwork is a mask: keep its shape, give it the colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), m_colour);
        painter.end();
        return QPixmap::fromImage(std::move(image));
    }

    const StatusGlyph m_glyph;
    const QColor m_colour;
    const QString m_themeName;
    QHash<int, QPixmap> m_pixmaps;
};
} // namespace

QString statusThemeName(StatusGlyph glyph) {
    return glyph == StatusGlyph::Connected ? QStringLiteral("zentrel-vpn-symbolic")
                                           : QStringLiteral("zentrel-vpn-disconnected-symbolic");
}

QColor statusGlyphColour(const QString &currentDesktop, const QColor &windowText) {
    // XDG_CURRENT_DESKTOP is a colon-separated list, such as "ubuntu:GNOME".
    const QStringList desktops = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (desktops.contains(QLatin1String("GNOME"), Qt::CaseInsensitive))
        return QColor(0xf6, 0xf5, 0xf4);
    return windowText;
}

QIcon statusIcon(StatusGlyph glyph, const QColor &colour, const QString &themeName) {
    QIcon icon(new GlyphEngine(glyph, colour, themeName));
#ifdef Q_OS_MACOS
    icon.setIsMask(true); // the menu bar colours it to suit light and dark
#endif
    return icon;
}
