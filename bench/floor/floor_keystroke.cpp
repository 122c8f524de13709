// The floor for one keystroke: a bare QLineEdit that saves every edit through QSettings, timed
// the same way as the application's form (bench/app/Keystrokes.h).
#include "Keystrokes.h"

#include <QApplication>
#include <QLineEdit>
#include <QSettings>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("floor"),
                       QStringLiteral("keystroke"));
    settings.setValue(QStringLiteral("text"), QStringLiteral("vpn.example.org"));
    settings.sync();

    QLineEdit field;
    field.setText(settings.value(QStringLiteral("text")).toString());
    QObject::connect(&field, &QLineEdit::textEdited, &settings, [&settings](const QString &text) {
        settings.setValue(QStringLiteral("text"), text);
    });
    field.show();
    return bench::serveKeystrokes(field, settings.fileName(), QStringLiteral("text"));
}
