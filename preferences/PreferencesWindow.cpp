#include "PreferencesWindow.h"

#include "PreferencesView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

PreferencesWindow::PreferencesWindow(SettingsStore &store,
                                     std::shared_ptr<NetworkServiceCache> services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      m_store(store), m_services(std::move(services)) {
    setWindowTitle(tr("Zentrel VPN Preferences"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(QMargins());
    hide();
}

PreferencesView &PreferencesWindow::view() {
    if (!m_view) {
        m_view = new PreferencesView(m_store, m_services);
        layout()->addWidget(m_view);
        // As tall as the form needs at the fixed width; the user cannot resize it.
        setFixedSize(windowWidth, sizeHint().height());
    }
    return *m_view;
}

void PreferencesWindow::open() {
    view();
    centreOnScreen();
    show();
    // The window manager's frame is known only once the window is shown; centre that.
    centreOnScreen();
    raise();
    activateWindow();
}

void PreferencesWindow::centreOnScreen() {
    QScreen *screen = this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    if (frame.topLeft() != pos())
        move(frame.topLeft());
}

void PreferencesWindow::closeEvent(QCloseEvent *event) {
    hide();
    event->ignore();
}
