#pragma once

#include <QObject>

#include <memory>

class QAction;
class QMenuBar;
class QWidget;

// The six commands of the main menu: Close and Quit, and Cut, Copy, Paste and Select All for
// the focused field. On macOS they form the global menu bar ("Zentrel VPN" and "Edit"); where
// there is no global menu they are shortcuts of the preferences window.
class MainMenu : public QObject {
    Q_OBJECT

public:
    // Parented to the window, so it lives as long as the window does.
    explicit MainMenu(QWidget &window);
    ~MainMenu() override;

    QAction *closeAction() const { return m_close; }
    QAction *quitAction() const { return m_quit; }
    QAction *cutAction() const { return m_cut; }
    QAction *copyAction() const { return m_copy; }
    QAction *pasteAction() const { return m_paste; }
    QAction *selectAllAction() const { return m_selectAll; }

private:
    QAction *m_close;
    QAction *m_quit;
    QAction *m_cut;
    QAction *m_copy;
    QAction *m_paste;
    QAction *m_selectAll;
    std::unique_ptr<QMenuBar> m_menuBar; // macOS only: a parentless bar is the global one
};

// Installs the main menu for the preferences window; the window owns the result.
MainMenu *installMainMenu(QWidget &window);
