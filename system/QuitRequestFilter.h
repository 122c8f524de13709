#pragma once

#include <QObject>

// Catches the platform's request to quit, such as the session manager's "die" at the end of an
// X11 session, which would otherwise end the event loop at once. Installed on the application
// object; the request is held back and reported, so that the caller can disconnect first.
class QuitRequestFilter : public QObject {
    Q_OBJECT

public:
    explicit QuitRequestFilter(QObject *application);

signals:
    void quitRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
