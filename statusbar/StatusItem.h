#pragma once

#include <QObject>
#include <QSystemTrayIcon>

class QMenu;

// The tray icon: the application's shield glyph, drawn at half opacity while not connected
// and fully opaque while connected.
class StatusItem : public QObject {
    Q_OBJECT

public:
    explicit StatusItem(QObject *parent = nullptr);

    void setOpacity(qreal opacity);
    qreal opacity() const { return m_opacity; }
    void setMenu(QMenu *menu) { m_trayIcon.setContextMenu(menu); }
    QMenu *menu() const { return m_trayIcon.contextMenu(); }
    QIcon icon() const { return m_trayIcon.icon(); }

private:
    QSystemTrayIcon m_trayIcon;
    qreal m_opacity = 0.5;
};

// The glyph at the given opacity in the given colour, at the sizes panels ask for.
QIcon statusIcon(qreal opacity, const QColor &colour);
