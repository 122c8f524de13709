#pragma once

#include "NetworkServices.h"

#include <QWidget>

#include <memory>

class PreferencesView;
class SettingsStore;

// The application's only window. It is made once, hidden, and lives until the process ends:
// closing it only hides it, and open() shows the same window and form again. The form is made
// when first needed: until then the hidden window costs next to nothing (no fonts loaded, no
// service listing run), which most runs never need.
class PreferencesWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int windowWidth = 400;

    // `services` is the network service listing the form shares with the rest of the application.
    explicit PreferencesWindow(
        SettingsStore &store,
        std::shared_ptr<NetworkServiceCache> services = std::make_shared<NetworkServiceCache>(),
        QWidget *parent = nullptr);

    // Centres the window on its screen (at every call, wherever it was moved), shows it and
    // brings it to the front with the keyboard focus.
    void open();

    // The form, made on first use.
    PreferencesView &view();

protected:
    // Every close request (the close button, the Close shortcut) hides instead.
    void closeEvent(QCloseEvent *event) override;

private:
    void centreOnScreen();

    SettingsStore &m_store;
    std::shared_ptr<NetworkServiceCache> m_services;
    PreferencesView *m_view = nullptr;
};
