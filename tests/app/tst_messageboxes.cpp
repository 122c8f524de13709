#include "MessageBoxes.h"

#include <QtTest>

class MessageBoxesTest : public QObject {
    Q_OBJECT

private slots:
    // Characters of two UTF-16 units are never cut in half: not where a long run gets a place
    // to wrap, not where the shown text or the details end. Bidi marks are removed.
    void charactersStayWhole() {
        QString keys = QStringLiteral("a\u061c");
        for (int i = 0; i < 33000; ++i) // past the details' limit too
            keys += QStringLiteral("🔑");
        const DisplayText display = displayText(keys, 2000);
        for (const QString &text : {display.shown, display.details})
            for (qsizetype i = 0; i < text.size(); ++i)
                QVERIFY2(text.at(i).isHighSurrogate() ==
                             (i + 1 < text.size() && text.at(i + 1).isLowSurrogate()),
                         qPrintable(QString::number(i)));
        QVERIFY(display.shown.startsWith(QStringLiteral("a🔑")));
        QVERIFY(display.shown.contains(QChar(0x200B)) && display.shown.endsWith(QChar(0x2026)));
    }
};

QTEST_APPLESS_MAIN(MessageBoxesTest)
#include "tst_messageboxes.moc"
