#include "QuitRequestFilter.h"

#include <QEvent>

QuitRequestFilter::QuitRequestFilter(QObject *application) : QObject(application) {
    application->installEventFilter(this);
}

bool QuitRequestFilter::eventFilter(QObject *watched, QEvent *event) {
    if (watched != parent() || event->type() != QEvent::Quit)
        return false;
    // Our own ways out call exit() and never come here: this is someone else asking.
    emit quitRequested();
    return true;
}
