#pragma once

#include "NetworkServices.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>

class CommandPreview;
class QButtonGroup;
class QComboBox;
class QLineEdit;
class QRadioButton;
class SettingsStore;

// The preferences form. It keeps no copy of the settings: each control writes its key at every
// user edit, and the whole form re-reads the store whenever the store reports a change, from
// here or from anywhere else. Creating it writes nothing.
class PreferencesView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal labelWidth READ labelWidth CONSTANT)
    Q_PROPERTY(qreal sectionSpacing READ sectionSpacing CONSTANT)
    Q_PROPERTY(QStringList networkServices READ networkServices CONSTANT)
    Q_PROPERTY(QString defaultUser READ defaultUser CONSTANT)
    Q_PROPERTY(QString defaultServer READ defaultServer CONSTANT)

public:
    // Lists the network services here, through `services` (shared with the delegate, so each
    // pipeline runs once until the network changes); the form lives as long as the process.
    explicit PreferencesView(
        SettingsStore &store,
        std::shared_ptr<NetworkServiceCache> services = std::make_shared<NetworkServiceCache>(),
        QWidget *parent = nullptr);

    qreal labelWidth() const { return 102.0; }
    qreal sectionSpacing() const { return 9.0; }
    QStringList networkServices() const { return m_networkServices; }
    QString defaultUser() const { return m_defaultUser; }
    QString defaultServer() const { return m_defaultServer; }

    // The six settings as the form shows them: the stored value, or the form's default.
    QString username() const;
    QString server() const;
    qint64 port() const;
    QString privateKey() const;
    QString privateKeyFile() const;
    QString networkService() const;

    QString sshKeyArgument() const;
    QString commandPreviewText() const;

private:
    void buildForm();
    void refresh();
    void refreshPort();
    void refreshPrivateKey();
    void refreshNetworkService();
    void portEdited(const QString &text);

    SettingsStore &m_store;
    const std::shared_ptr<NetworkServiceCache> m_services;
    const QStringList m_networkServices;
    const QString m_defaultUser;
    const QString m_defaultServer;

    QLineEdit *m_username = nullptr;
    QLineEdit *m_server = nullptr;
    QLineEdit *m_port = nullptr;
    QButtonGroup *m_privateKeyChoice = nullptr;
    QRadioButton *m_defaultKey = nullptr;
    QRadioButton *m_customKey = nullptr;
    QLineEdit *m_privateKeyFile = nullptr;
    QComboBox *m_networkService = nullptr;
    CommandPreview *m_preview = nullptr;

    // The stored port when the form last refreshed, to tell a change from elsewhere from the
    // field's own half-typed text.
    std::optional<qint64> m_shownPort;
};
