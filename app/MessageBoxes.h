#pragma once

#include <QString>

class QMessageBox;
class QWidget;

// Text that came from outside (ssh passes on what the server sends) made fit to show: control
// characters and terminal escape sequences removed but for line feeds and tabs, long unbroken
// runs given places to wrap, and only the beginning shown (at most `characterLimit` characters
// and 30 lines of it), the rest left for the details.
struct DisplayText {
    QString shown;
    QString details; // empty when everything is shown
};
DisplayText displayText(const QString &text, qsizetype characterLimit);

// A message box that shows `informativeText` as plain text, never as markup or links, keeps
// within the screen and deletes itself when closed. It is not shown yet.
QMessageBox *makeMessageBox(int icon, const QString &text, const QString &informativeText,
                            QWidget *parent = nullptr);
