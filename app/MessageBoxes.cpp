#include "MessageBoxes.h"

#include "Prompt.h"

#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>

namespace {
constexpr qsizetype shownCharacterLimit = 2000;
constexpr qsizetype shownLineLimit = 30;
constexpr qsizetype detailsCharacterLimit = 64 * 1024;
// A run of this many characters without a blank gets a place where it may wrap: even in wide
// glyphs it then fits a box of half a small screen's width.
constexpr qsizetype unbrokenRunLimit = 40;
// Below this much text, shortening it further to fit the screen is pointless.
constexpr qsizetype shortestShownText = 80;
constexpr QChar zeroWidthSpace(0x200B);

QString withoutControls(const QString &text) {
    static const QRegularExpression escapeSequences(
        QStringLiteral("\\x1B(\\[[0-?]*[ -/]*[@-~]|\\][^\\x07\\x1B]*(\\x07|\\x1B\\\\)?|[@-_])"));
    QString cleaned = text;
    cleaned.remove(escapeSequences);
    cleaned.removeIf([](QChar c) { return !isShownCharacter(c); });
    return cleaned;
}

QString breakLongRuns(const QString &text) {
    QString result;
    result.reserve(text.size());
    qsizetype run = 0;
    for (QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        // Never between the two halves of a character.
        if (run > unbrokenRunLimit && !c.isLowSurrogate()) {
            result += zeroWidthSpace;
            run = 1;
        }
        result += c;
    }
    return result;
}

// Where the shown part ends: at the character limit or the line limit, whichever comes first.
qsizetype shownLength(const QString &text, qsizetype characterLimit) {
    qsizetype lines = 1;
    const qsizetype end = qMin(text.size(), characterLimit);
    for (qsizetype i = 0; i < end; ++i) {
        if (text.at(i) == QLatin1Char('\n') && ++lines > shownLineLimit)
            return i;
    }
    return end;
}

// A message box that keeps within the screen: should its text make it taller than the
// screen (long lines of wide glyphs, the details opened on a small screen), it shows less of
// the text, the whole of which is in the details then.
class FittingMessageBox : public QMessageBox {
public:
    FittingMessageBox(Icon icon, const QString &text, const QString &informativeText,
                      QWidget *parent)
        : QMessageBox(icon, QStringLiteral("Zentrel VPN"), text, QMessageBox::Ok, parent),
          m_informativeText(informativeText) {
        m_fit.setSingleShot(true);
        QObject::connect(&m_fit, &QTimer::timeout, this, &FittingMessageBox::fitScreen);
        showText(shownCharacterLimit);
    }

protected:
    // The box sizes itself as it shows and whenever its contents change; check after that.
    void showEvent(QShowEvent *event) override {
        QMessageBox::showEvent(event);
        m_fit.start(0);
    }
    void resizeEvent(QResizeEvent *event) override {
        QMessageBox::resizeEvent(event);
        m_fit.start(0);
    }

private:
    void showText(qsizetype characterLimit) {
        m_characterLimit = characterLimit;
        const DisplayText display = displayText(m_informativeText, characterLimit);
        setInformativeText(display.shown);
        if (auto *label = findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
            label->setTextFormat(Qt::PlainText);
            label->setOpenExternalLinks(false);
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        }
        if (!display.details.isEmpty())
            setDetailedText(display.details); // a scrolling plain-text area
    }

    void fitScreen() {
        const QRect available = screen()->availableGeometry();
        QRect frame = frameGeometry();
        if (frame.height() > available.height() && m_characterLimit > shortestShownText) {
            m_shortened = true;
            // Resizes the box, which brings us back here.
            showText(qMax(shortestShownText,
                          m_characterLimit * available.height() / frame.height() * 3 / 4));
            return;
        }
        if (m_shortened)
            frame.moveCenter(available.center());
        m_shortened = false;
        // Grown downwards or sideways past the edge: back onto the screen.
        frame.moveTo(qBound(available.left(), frame.left(),
                            qMax(available.left(), available.right() - frame.width() + 1)),
                     qBound(available.top(), frame.top(),
                            qMax(available.top(), available.bottom() - frame.height() + 1)));
        if (frame.topLeft() != pos())
            move(frame.topLeft()); // a window's position is that of its frame
    }

    QString m_informativeText;
    qsizetype m_characterLimit = shownCharacterLimit;
    bool m_shortened = false;
    QTimer m_fit;
};
} // namespace

DisplayText displayText(const QString &text, qsizetype characterLimit) {
    const QString cleaned = withoutControls(text).trimmed();
    const qsizetype length = shownLength(cleaned, characterLimit);
    if (length == cleaned.size())
        return {breakLongRuns(cleaned), {}};
    DisplayText display{breakLongRuns(leftWhole(cleaned, length)) + QStringLiteral("\u2026"), {}};
    display.details = leftWhole(cleaned, detailsCharacterLimit);
    if (cleaned.size() > detailsCharacterLimit)
        display.details += QStringLiteral("\n\u2026");
    return display;
}

QMessageBox *makeMessageBox(int icon, const QString &text, const QString &informativeText,
                            QWidget *parent) {
    auto *box =
        new FittingMessageBox(static_cast<QMessageBox::Icon>(icon), text, informativeText, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    return box;
}
