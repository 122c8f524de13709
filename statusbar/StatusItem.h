#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

class QMenu;

// The tray icon. Its opacity is the state the rest of the application speaks of (fully opaque
// while connected, half while not); what the panel shows for it is one of two glyphs, a solid
// shield or its outline, both drawn at full strength so that neither fades into the panel.
class StatusItem : public QObject {
    Q_OBJECT

public:
    explicit StatusItem(QObject *parent = nullptr);

    void setOpacity(qreal opacity);
    qreal opacity() const { return m_opacity; }
    void setToolTip(const QString &text) { m_trayIcon.setToolTip(text); }
    QString toolTip() const { return m_trayIcon.toolTip(); }
    void setMenu(QMenu *menu) { m_trayIcon.setContextMenu(menu); }
    QMenu *menu() const { return m_trayIcon.contextMenu(); }
    QIcon icon() const { return m_trayIcon.icon(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Makes the two icons in the colour that suits the panel now; showing a state only swaps
    // them.
    void makeIcons();
    void showIcon();

    // Looked up once: whether the icons are installed does not change with the palette.
    const QString m_connectedThemeName;
    const QString m_disconnectedThemeName;
    QSystemTrayIcon m_trayIcon;
    QIcon m_connectedIcon;
    QIcon m_disconnectedIcon;
    qreal m_opacity = 0.5;
};
