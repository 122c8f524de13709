#include "StatusItem.h"

#include "StatusIcon.h"
#include "StatusLook.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QStandardPaths>

namespace {
// The theme name only where a host can find it: a host that fails to load a name it was given
// may show nothing at all instead of falling back to our pixels.
QString installedThemeName(StatusGlyph glyph) {
    const QString name = statusThemeName(glyph);
    const QString file =
        QStringLiteral("icons/hicolor/scalable/status/") + name + QStringLiteral(".svg");
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation, file).isEmpty() ? QString()
                                                                                       : name;
}
} // namespace

StatusItem::StatusItem(QObject *parent)
    : QObject(parent), m_connectedThemeName(installedThemeName(StatusGlyph::Connected)),
      m_disconnectedThemeName(installedThemeName(StatusGlyph::Disconnected)) {
    m_trayIcon.setToolTip(statusToolTip(StatusState::NotConfigured));
    makeIcons();
    showIcon();
    // The host shows the context menu itself, on the click its desktop uses for menus.
    m_trayIcon.show();
    // A switch between light and dark (the desktop's colour scheme) changes the application
    // palette; the icons follow.
    qApp->installEventFilter(this);
}

void StatusItem::setOpacity(qreal opacity) {
    m_opacity = opacity;
    showIcon();
}

bool StatusItem::eventFilter(QObject *watched, QEvent *event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        makeIcons();
        showIcon();
    }
    return QObject::eventFilter(watched, event);
}

void StatusItem::makeIcons() {
    const QColor colour = statusGlyphColour(qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
                                            QGuiApplication::palette().color(QPalette::WindowText));
    m_connectedIcon = statusIcon(StatusGlyph::Connected, colour, m_connectedThemeName);
    m_disconnectedIcon = statusIcon(StatusGlyph::Disconnected, colour, m_disconnectedThemeName);
}

void StatusItem::showIcon() {
    m_trayIcon.setIcon(m_opacity >= statusOpacity(true) ? m_connectedIcon : m_disconnectedIcon);
}
