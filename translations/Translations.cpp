#include "Translations.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <functional>
#include <memory>

namespace {
const QString ourCatalogues = QStringLiteral(":/i18n");

// "de-DE" becomes "zentrel-vpn_de_DE"; QTranslator then also tries "zentrel-vpn_de".
QString catalogueName(const QString &base, const QString &language) {
    return base + QLatin1Char('_') + QString(language).replace(QLatin1Char('-'), QLatin1Char('_'));
}

bool isEnglish(const QString &language) {
    return language == QLatin1String("en") || language.startsWith(QLatin1String("en-")) ||
           language.startsWith(QLatin1String("en_")) || language == QLatin1String("C");
}

// Loads the catalogue `base` for `language` from `directory` and installs it.
bool install(QCoreApplication &application, const QString &base, const QString &language,
             const QString &directory) {
    auto translator = std::make_unique<QTranslator>(&application);
    if (!translator->load(catalogueName(base, language), directory))
        return false;
    if (!QCoreApplication::installTranslator(translator.get()))
        return false;
    translator.release(); // owned by the application from here on
    return true;
}

// Walks `languages` (QLocale::uiLanguages(), most preferred first) and returns the first one
// that `available` accepts (or "" for none). English, the language the texts are written in, ends
// the walk: a user who prefers English over German gets English.
QString firstTranslatedLanguage(const QStringList &languages,
                                const std::function<bool(const QString &)> &available) {
    for (const QString &language : languages) {
        if (isEnglish(language))
            break;
        if (available(language))
            return language;
    }
    return QString();
}
} // namespace

void installTranslations(QCoreApplication &application) {
    const QStringList languages = QLocale().uiLanguages();
    const QString ours = QStringLiteral("zentrel-vpn");
    const QString qtbase = QStringLiteral("qtbase");
    const QString qtCatalogues = QLibraryInfo::path(QLibraryInfo::TranslationsPath);

    const QString language = firstTranslatedLanguage(languages, [&](const QString &candidate) {
        return install(application, ours, candidate, ourCatalogues);
    });
    // Qt's own texts in the language ours are in; without ours, in the user's first language
    // that Qt has.
    if (language.isEmpty()) {
        firstTranslatedLanguage(languages, [&](const QString &candidate) {
            return install(application, qtbase, candidate, qtCatalogues);
        });
    } else if (!install(application, qtbase, language, qtCatalogues)) {
        qInfo().noquote() << "Qt's own texts stay in English: no" << catalogueName(qtbase, language)
                          << "in" << qtCatalogues << "(Debian: qt6-translations-l10n)";
    }
}
