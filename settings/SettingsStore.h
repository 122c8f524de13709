#pragma once

#include <QObject>
#include <QSettings>
#include <QString>

#include <optional>

// The per-user key-value store behind the six settings. It tells an absent key from an empty
// one, never writes anything it was not asked to, and emits changed() after every write so
// that every reader can reload.
class SettingsStore : public QObject {
    Q_OBJECT

public:
    // The user's own store (QSettings in the platform's native format).
    explicit SettingsStore(QObject *parent = nullptr);

    // The stored text, or nullopt when the key is absent or holds something that is not text.
    // A stored number reads as its decimal text.
    std::optional<QString> text(QLatin1String key) const;

    // The stored integer, or nullopt when the key is absent. Numeric text reads as its number;
    // anything else that is stored reads as 0.
    std::optional<qint64> integer(QLatin1String key) const;

    void setText(QLatin1String key, const QString &value);
    void setInteger(QLatin1String key, qint64 value);

    // Where the store keeps its data, for the user's information.
    QString location() const { return m_settings.fileName(); }

signals:
    void changed();

private:
    QSettings m_settings;
};
