#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

// Dismisses every message box as soon as it shows, modal or not, and records what it said, so
// that code which shows messages can be tested without a person.
class AlertCatcher : public QObject {
public:
    struct Alert {
        QString text;
        QString informativeText;
        QMessageBox::Icon icon;
        QStringList buttons;
        bool modal;
    };

    AlertCatcher() {
        QObject::connect(&m_poll, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible() || m_seen.contains(box))
                    continue;
                m_seen.append(box);
                QStringList buttons;
                for (QAbstractButton *button : box->buttons())
                    buttons << button->text().remove(QLatin1Char('&'));
                m_alerts.append(
                    {box->text(), box->informativeText(), box->icon(), buttons, box->isModal()});
                if (m_dismiss)
                    box->done(QMessageBox::Ok);
            }
        });
        m_poll.start(10);
    }

    const QList<Alert> &alerts() const { return m_alerts; }
    void clear() { m_alerts.clear(); }
    // Leaves the boxes open, for a test of what happens meanwhile.
    void setDismissing(bool dismiss) { m_dismiss = dismiss; }

private:
    QTimer m_poll;
    QList<Alert> m_alerts;
    QList<QPointer<QMessageBox>> m_seen;
    bool m_dismiss = true;
};
