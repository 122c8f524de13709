#pragma once

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace bench {

// Any message box open now means a run went wrong: its figures would measure the error path.
inline void failOnOpenMessages() {
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible()) {
            std::fprintf(stderr, "message: %s %s\n", qPrintable(box->text()),
                         qPrintable(box->informativeText()));
            std::exit(1);
        }
}

} // namespace bench
