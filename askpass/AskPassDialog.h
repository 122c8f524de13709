#pragma once

#include "Prompt.h"

#include <QDialog>

class QLineEdit;
class QScrollArea;

// The askpass program's one dialog: ssh's prompt as plain text and the controls its kind needs.
// Accepted means the answer is ready in takeAnswer().
class AskPassDialog : public QDialog {
    Q_OBJECT

public:
    AskPassDialog(PromptKind kind, const QString &prompt, QWidget *parent = nullptr);

    // The answer for ssh. A secret is moved out of the field, which is left empty, so the
    // caller holds the only copy we can reach and can wipe it.
    QString takeAnswer();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QScrollArea *makePromptText(const QString &prompt);
    void comeToFront();

    PromptKind m_kind;
    QLineEdit *m_secret = nullptr;
    QWidget *m_initialFocus = nullptr;
};
