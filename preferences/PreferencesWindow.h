#pragma once

#include <QWidget>

class PreferencesView;
class SettingsStore;

// The application's only window. It is made once, hidden, and lives until the process ends:
// closing it only hides it, and open() shows the same window and form again.
class PreferencesWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int windowWidth = 400;

    explicit PreferencesWindow(SettingsStore &store, QWidget *parent = nullptr);

    // Centres the window on its screen (at every call, wherever it was moved), shows it and
    // brings it to the front with the keyboard focus.
    void open();

    PreferencesView &view() { return *m_view; }

protected:
    // Every close request (the close button, the Close shortcut) hides instead.
    void closeEvent(QCloseEvent *event) override;

private:
    void centreOnScreen();

    PreferencesView *m_view;
};
