#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

// Dismisses every modal message box as soon as it shows, and records what it said, so that
// code which runs an alert modally can be tested without a person.
class AlertCatcher : public QObject {
public:
    struct Alert {
        QString text;
        QString informativeText;
        QMessageBox::Icon icon;
        QStringList buttons;
    };

    AlertCatcher() {
        QObject::connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            QStringList buttons;
            for (QAbstractButton *button : box->buttons())
                buttons << button->text().remove(QLatin1Char('&'));
            m_alerts.append({box->text(), box->informativeText(), box->icon(), buttons});
            box->done(QMessageBox::Ok);
        });
        m_poll.start(10);
    }

    const QList<Alert> &alerts() const { return m_alerts; }
    void clear() { m_alerts.clear(); }

private:
    QTimer m_poll;
    QList<Alert> m_alerts;
};
