#include "MessageBoxes.h"
#include "Prompt.h"

#include <QtTest>

class PromptTest : public QObject {
    Q_OBJECT

private slots:
    // dialog.sh shows the kinds of today's ssh; these are the older and the odd texts.
    void kinds() {
        const struct {
            QString prompt, hint;
            PromptKind kind;
        } rows[] = {
            {"Are you sure you want to continue connecting (yes/no)? ", {}, PromptKind::Question},
            {"Answer (yes/no)? then your password: ", {}, PromptKind::Secret}, // not at the end
            {"Continue (yes/no)? ", "confirm", PromptKind::Confirmation},      // the hint wins
            {"Password: ", "something", PromptKind::Secret},
        };
        for (const auto &row : rows)
            QVERIFY2(promptKind(row.prompt, row.hint) == row.kind, qPrintable(row.prompt));
    }

    // What is shown of ssh's text, in the askpass dialog as in the alerts: one rule for which
    // characters are shown, and no cut through a character of two UTF-16 units.
    void sshTextShown() {
        // Escape sequences, a bell, a carriage return and marks that would reorder the text,
        // such as a right-to-left override showing the fingerprint's end first; line feeds and
        // tabs stay.
        QCOMPARE(displayablePrompt(QStringLiteral("\n \x1b[31mkey\x07\r\tSHA256:\u202eabc\u202c\n"
                                                  "next\u0085 line \u2067x\u2069\u061c\u200f ")),
                 QStringLiteral("[31mkey\tSHA256:abc\nnext line x"));
        QCOMPARE(displayablePrompt(QStringLiteral("Passwort für Jürgen 🔑: ")),
                 QStringLiteral("Passwort für Jürgen 🔑:"));
        QCOMPARE(displayablePrompt(QString(maxPromptLength - 1, QLatin1Char('k')) +
                                   QStringLiteral("🔑").repeated(10)),
                 QString(maxPromptLength - 1, QLatin1Char('k')) + QChar(0x2026));

        // An alert drops whole escape sequences, and neither the places given to wrap a long
        // run nor the ends of the shown text and of the details split a character.
        // Past the details' limit too.
        const DisplayText display = displayText(
            QStringLiteral("\x1b[31ma\u202e") + QStringLiteral("🔑").repeated(33000), 2000);
        for (const QString &text : {display.shown, display.details})
            for (qsizetype i = 0; i < text.size(); ++i)
                QVERIFY2(text.at(i).isHighSurrogate() ==
                             (i + 1 < text.size() && text.at(i + 1).isLowSurrogate()),
                         qPrintable(QString::number(i)));
        QVERIFY(display.shown.startsWith(QStringLiteral("a🔑")));
        QVERIFY(display.shown.contains(QChar(0x200B)) && display.shown.endsWith(QChar(0x2026)));
    }

    void linesBreakOnlyAtSpaces() {
        const auto characters = [](const QString &line) {
            return int(line.size());
        };
        // Tabs stay as they are.
        QCOMPARE(
            wrappedAtSpaces(QStringLiteral("key\tfingerprint is SHA256:ab+/cd."), 20, characters),
            QStringLiteral("key\tfingerprint is\nSHA256:ab+/cd."));
        // A word wider than a line keeps a line of its own; given line feeds stay.
        QCOMPARE(wrappedAtSpaces(QStringLiteral("for /a/very/long/path/to/the/key:\nnext"), 10,
                                 characters),
                 QStringLiteral("for\n/a/very/long/path/to/the/key:\nnext"));
    }
};

QTEST_APPLESS_MAIN(PromptTest)
#include "tst_prompt.moc"
