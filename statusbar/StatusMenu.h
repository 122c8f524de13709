#pragma once

#include "StatusLook.h"

#include <QMenu>

class QAction;

// The tray icon's menu: the connection entry, "Zentrel VPN Preferences…", a separator and
// "Quit Zentrel VPN", in that order and never anything else.
class StatusMenu : public QMenu {
    Q_OBJECT

public:
    explicit StatusMenu(QWidget *parent = nullptr);

    void setConnectionItem(const ConnectionItem &item);
    ConnectionItem connectionItem() const { return m_connectionItem; }

    QAction *connectionAction() const { return m_connectionAction; }
    QAction *preferencesAction() const { return m_preferencesAction; }
    QAction *quitAction() const { return m_quitAction; }

signals:
    void connectRequested();
    void disconnectRequested();

private:
    ConnectionItem m_connectionItem;
    QAction *m_connectionAction;
    QAction *m_preferencesAction;
    QAction *m_quitAction;
};
