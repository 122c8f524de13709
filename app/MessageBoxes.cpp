#include "MessageBoxes.h"

#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>

namespace {
constexpr qsizetype shownCharacterLimit = 2000;
constexpr qsizetype shownLineLimit = 30;
constexpr qsizetype detailsCharacterLimit = 64 * 1024;
// A run of this many characters without a blank gets a place where it may wrap.
constexpr qsizetype unbrokenRunLimit = 60;
constexpr QChar zeroWidthSpace(0x200B);

bool isUnwanted(QChar c) {
    const char16_t u = c.unicode();
    if (u == '\n' || u == '\t')
        return false;
    // Controls, and the marks that reorder text (a server could make a name read backwards).
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || (u >= 0x202A && u <= 0x202E) ||
           (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F;
}

QString withoutControls(const QString &text) {
    static const QRegularExpression escapeSequences(
        QStringLiteral("\\x1B(\\[[0-?]*[ -/]*[@-~]|\\][^\\x07\\x1B]*(\\x07|\\x1B\\\\)?|[@-_])"));
    QString cleaned = text;
    cleaned.remove(escapeSequences);
    cleaned.removeIf(isUnwanted);
    return cleaned;
}

QString breakLongRuns(const QString &text) {
    QString result;
    result.reserve(text.size());
    qsizetype run = 0;
    for (QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > unbrokenRunLimit) {
            result += zeroWidthSpace;
            run = 1;
        }
        result += c;
    }
    return result;
}

// Where the shown part ends: at the character limit or the line limit, whichever comes first.
qsizetype shownLength(const QString &text) {
    qsizetype lines = 1;
    const qsizetype end = qMin(text.size(), shownCharacterLimit);
    for (qsizetype i = 0; i < end; ++i) {
        if (text.at(i) == QLatin1Char('\n') && ++lines > shownLineLimit)
            return i;
    }
    return end;
}
} // namespace

DisplayText displayText(const QString &text) {
    const QString cleaned = withoutControls(text).trimmed();
    const qsizetype length = shownLength(cleaned);
    if (length == cleaned.size())
        return {breakLongRuns(cleaned), {}};
    DisplayText display{breakLongRuns(cleaned.left(length)) + QStringLiteral("\u2026"), {}};
    display.details = cleaned.left(detailsCharacterLimit);
    if (cleaned.size() > detailsCharacterLimit)
        display.details += QStringLiteral("\n\u2026");
    return display;
}

QMessageBox *makeMessageBox(int icon, const QString &text, const QString &informativeText,
                            QWidget *parent) {
    auto *box = new QMessageBox(static_cast<QMessageBox::Icon>(icon), QStringLiteral("Zentrel VPN"),
                                text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    const DisplayText display = displayText(informativeText);
    box->setInformativeText(display.shown);
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
        label->setTextFormat(Qt::PlainText);
        label->setOpenExternalLinks(false);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    if (!display.details.isEmpty())
        box->setDetailedText(display.details); // a scrolling plain-text area
    return box;
}
