#pragma once

#include "BenchStats.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>

#include <cstdio>
#include <iostream>
#include <string>

namespace bench {

// One keystroke as the field gets it, and everything it sets off until the event loop is idle
// again: the edit, whatever listens to it, the repaint and the deferred QSettings save.
inline double timeKeystroke(QLineEdit &field, bool append) {
    const Qt::Key key = append ? Qt::Key_X : Qt::Key_Backspace;
    const QString text = append ? QStringLiteral("x") : QString();
    const auto start = Clock::now();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&field, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&field, &release);
    QCoreApplication::processEvents();
    return millisecondsSince(start);
}

// Whether `key` holds `value` on disk: the save really happened within the keystroke.
inline bool savedOnDisk(const QString &settingsFile, const QString &key, const QString &value) {
    QFile file(settingsFile);
    return file.open(QIODevice::ReadOnly) &&
           file.readAll().contains(
               (QLatin1Char('\n') + key + QLatin1Char('=') + value + QLatin1Char('\n')).toUtf8());
}

// Types into `field` on request, so that a driver can interleave batches of two programs: prints
// "ready", then for every line "N" on standard input types N keys (alternately an "x" at the
// end and a backspace) and prints their times in ms on one line.
inline int serveKeystrokes(QLineEdit &field, const QString &settingsFile, const QString &key) {
    field.activateWindow();
    field.setFocus();
    field.end(false);
    QCoreApplication::processEvents();
    bool append = true;
    auto typeOne = [&] {
        const double elapsed = timeKeystroke(field, append);
        append = !append;
        if (!savedOnDisk(settingsFile, key, field.text())) {
            std::fprintf(stderr, "the edit to '%s' was not saved to %s\n", qPrintable(field.text()),
                         qPrintable(settingsFile));
            std::exit(1);
        }
        return elapsed;
    };
    for (int i = 0; i < 20; ++i) // warm-up
        typeOne();
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        const int count = std::stoi(line);
        for (int i = 0; i < count; ++i)
            std::printf(i ? " %.4f" : "%.4f", typeOne());
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

} // namespace bench
