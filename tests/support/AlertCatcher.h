#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

// Dismisses every message box as soon as it shows, modal or not, and records what it said, so
// that code which shows messages can be tested without a person.
class AlertCatcher : public QObject {
public:
    struct Alert {
        QString text;
        QString informativeText;
        QMessageBox::Icon icon;
        bool modal;
    };

    AlertCatcher() {
        QObject::connect(&m_poll, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible())
                    continue;
                if (!m_seen.contains(box)) {
                    m_seen.append(box);
                    m_alerts.append(
                        {box->text(), box->informativeText(), box->icon(), box->isModal()});
                }
                if (m_dismiss)
                    box->done(QMessageBox::Ok);
            }
        });
        m_poll.start(10);
    }

    const QList<Alert> &alerts() const { return m_alerts; }
    void clear() { m_alerts.clear(); }
    // What the boxes said, "title: text" each, for comparing and for failure messages.
    QString said() const {
        QStringList said;
        for (const Alert &alert : m_alerts)
            said << alert.text + QStringLiteral(": ") + alert.informativeText;
        return said.join(QLatin1Char('\n'));
    }
    // Leaves the boxes open, for a test of what happens meanwhile; those still open are
    // dismissed once it is turned back on.
    void setDismissing(bool dismiss) { m_dismiss = dismiss; }

private:
    QTimer m_poll;
    QList<Alert> m_alerts;
    QList<QPointer<QMessageBox>> m_seen;
    bool m_dismiss = true;
};
