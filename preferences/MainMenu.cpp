#include "MainMenu.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace {
// The platform's bindings for the command, always including the plain letter with the
// platform's main modifier (Ctrl, or Command on macOS), which not every platform theme binds.
QList<QKeySequence> shortcutsFor(QKeySequence::StandardKey command, Qt::Key letter) {
    QList<QKeySequence> shortcuts = QKeySequence::keyBindings(command);
    const QKeySequence plain(Qt::CTRL | letter);
    if (!shortcuts.contains(plain))
        shortcuts.prepend(plain);
    return shortcuts;
}

// Sends an editing command to the window's focused control, as the responder chain would. A
// field that handles the key itself never gets here: it takes the shortcut first.
void sendToFocusedField(const QWidget &window, const char *slot) {
    QWidget *focused = window.isVisible() ? window.focusWidget() : nullptr;
    if (!focused)
        return;
    const QByteArray signature = QByteArray(slot) + "()";
    if (focused->metaObject()->indexOfMethod(signature.constData()) >= 0)
        QMetaObject::invokeMethod(focused, slot);
}

QAction *command(QObject *owner, const QString &text, const QList<QKeySequence> &shortcuts) {
    auto *action = new QAction(text, owner);
    action->setShortcuts(shortcuts);
#ifdef Q_OS_MACOS
    action->setShortcutContext(Qt::ApplicationShortcut);
#else
    action->setShortcutContext(Qt::WindowShortcut);
#endif
    return action;
}
} // namespace

MainMenu::MainMenu(QWidget &window) : QObject(&window) {
    m_close = command(this, tr("Close"), shortcutsFor(QKeySequence::Close, Qt::Key_W));
    m_quit = command(this, tr("Quit Zentrel VPN"), shortcutsFor(QKeySequence::Quit, Qt::Key_Q));
    m_cut = command(this, tr("Cut"), shortcutsFor(QKeySequence::Cut, Qt::Key_X));
    m_copy = command(this, tr("Copy"), shortcutsFor(QKeySequence::Copy, Qt::Key_C));
    m_paste = command(this, tr("Paste"), shortcutsFor(QKeySequence::Paste, Qt::Key_V));
    m_selectAll = command(this, tr("Select All"), shortcutsFor(QKeySequence::SelectAll, Qt::Key_A));
    m_quit->setMenuRole(QAction::QuitRole);

    // A close request hides the preferences window (its closeEvent refuses to close).
    connect(m_close, &QAction::triggered, &window, &QWidget::close);
    // Ends the event loop at once, bypassing the status menu's quit: a running tunnel and a
    // switched-on proxy stay as they are. exit() rather than quit(), because quit() first asks
    // every window to close and the preferences window always refuses.
    connect(m_quit, &QAction::triggered, this, [] { QCoreApplication::exit(0); });
    // The preferences window is the only one with fields; it outlives this object.
    const QWidget *w = &window;
    connect(m_cut, &QAction::triggered, this, [w] { sendToFocusedField(*w, "cut"); });
    connect(m_copy, &QAction::triggered, this, [w] { sendToFocusedField(*w, "copy"); });
    connect(m_paste, &QAction::triggered, this, [w] { sendToFocusedField(*w, "paste"); });
    connect(m_selectAll, &QAction::triggered, this, [w] { sendToFocusedField(*w, "selectAll"); });

#ifdef Q_OS_MACOS
    m_menuBar = std::make_unique<QMenuBar>();
    // The product's name, the same in every language.
    QMenu *applicationMenu = m_menuBar->addMenu(QStringLiteral("Zentrel VPN"));
    applicationMenu->addActions({m_close, m_quit});
    QMenu *editMenu = m_menuBar->addMenu(tr("Edit"));
    editMenu->addActions({m_cut, m_copy, m_paste, m_selectAll});
#else
    window.addActions({m_close, m_quit, m_cut, m_copy, m_paste, m_selectAll});
#endif
}

MainMenu::~MainMenu() = default;

MainMenu *installMainMenu(QWidget &window) {
    return new MainMenu(window);
}
