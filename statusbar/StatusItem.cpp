#include "StatusItem.h"

#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

QIcon statusIcon(qreal opacity, const QColor &colour) {
    QSvgRenderer renderer(QStringLiteral(":/vpn.svg"));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap glyph(size, size);
        glyph.fill(Qt::transparent);
        QPainter painter(&glyph);
        renderer.render(&painter);
        // The artwork is a mask: keep its shape, give it the colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(glyph.rect(), colour);
        painter.end();

        QPixmap faded(size, size);
        faded.fill(Qt::transparent);
        QPainter fader(&faded);
        fader.setOpacity(opacity);
        fader.drawPixmap(0, 0, glyph);
        fader.end();
        icon.addPixmap(faded);
    }
#ifdef Q_OS_MACOS
    icon.setIsMask(true); // the menu bar colours it to suit light and dark
#endif
    return icon;
}

StatusItem::StatusItem(QObject *parent) : QObject(parent) {
    m_trayIcon.setToolTip(QStringLiteral("Zentrel VPN"));
    setOpacity(m_opacity);
    // A left click opens the menu too, as the only way in is through it.
    QObject::connect(&m_trayIcon, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && menu())
                             menu()->popup(QCursor::pos());
                     });
    m_trayIcon.show();
}

void StatusItem::setOpacity(qreal opacity) {
    m_opacity = opacity;
    // Panels follow the desktop theme, and so does the application palette's text colour.
    const QColor colour = QGuiApplication::palette().color(QPalette::WindowText);
    m_trayIcon.setIcon(statusIcon(opacity, colour));
}
