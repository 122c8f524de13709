#include "PreferencesWindow.h"

#include "PreferencesView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

PreferencesWindow::PreferencesWindow(SettingsStore &store, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      m_view(new PreferencesView(store)) {
    setWindowTitle(QStringLiteral("Zentrel VPN Preferences"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(QMargins());
    layout->addWidget(m_view);
    // As tall as the form needs at the fixed width; the user cannot resize it.
    setFixedSize(windowWidth, layout->totalHeightForWidth(windowWidth));
    hide();
}

void PreferencesWindow::open() {
    QScreen *screen = this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}

void PreferencesWindow::closeEvent(QCloseEvent *event) {
    hide();
    event->ignore();
}
