#include "StatusMenu.h"

#include <QAction>

StatusMenu::StatusMenu(QWidget *parent) : QMenu(parent) {
    m_connectionAction = addAction(QString());
    m_preferencesAction = addAction(tr("Zentrel VPN Preferences\u2026"));
    addSeparator();
    m_quitAction = addAction(tr("Quit Zentrel VPN"));
    setConnectionItem(initialConnectionItem());

    QObject::connect(m_connectionAction, &QAction::triggered, this, [this] {
        switch (m_connectionItem.action) {
        case ConnectionAction::Connect:
            emit connectRequested();
            break;
        case ConnectionAction::Disconnect:
            emit disconnectRequested();
            break;
        case ConnectionAction::None:
            break;
        }
    });
}

void StatusMenu::setConnectionItem(const ConnectionItem &item) {
    m_connectionItem = item;
    m_connectionAction->setText(item.title);
    // An entry without an action shows disabled and cannot be chosen.
    m_connectionAction->setEnabled(item.action != ConnectionAction::None);
}
