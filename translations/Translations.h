#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QCoreApplication;

// Installs our catalogue and Qt's own (buttons, the fields' context menus) for the user's
// preferred languages. Call it once, right after the application object exists.
void installTranslations(QCoreApplication &application);

// Walks `languages` (QLocale::uiLanguages(), most preferred first) and returns the first one
// that `available` accepts (or "" for none). English, the language the texts are written in, ends
// the walk: a user who prefers English over German gets English.
QString firstTranslatedLanguage(const QStringList &languages,
                                const std::function<bool(const QString &)> &available);
