#include "Prompt.h"

#include <QStringList>

bool isShownCharacter(QChar c) {
    const char16_t u = c.unicode();
    if (u == u'\n' || u == u'\t')
        return true;
    if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
        return false;
    // Embeddings, overrides and isolates, and the marks that change the order of what follows.
    if ((u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) || u == 0x200e ||
        u == 0x200f || u == 0x061c)
        return false;
    return true;
}

QString leftWhole(const QString &text, qsizetype length) {
    if (length > 0 && length < text.size() && text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}

PromptKind promptKind(const QString &prompt, const QString &promptHint) {
    if (promptHint == QLatin1String("confirm"))
        return PromptKind::Confirmation;
    if (promptHint == QLatin1String("none"))
        return PromptKind::Notice;
    const QString end = prompt.trimmed();
    if (end.endsWith(QLatin1String("(yes/no)?")) ||
        end.endsWith(QLatin1String("(yes/no/[fingerprint])?")))
        return PromptKind::Question;
    return PromptKind::Secret;
}

QString displayablePrompt(const QString &prompt) {
    QString shown;
    shown.reserve(qMin(prompt.size(), maxPromptLength + 1));
    for (const QChar c : prompt) {
        if (isShownCharacter(c))
            shown.append(c);
    }
    shown = shown.trimmed();
    if (shown.size() > maxPromptLength)
        shown = leftWhole(shown, maxPromptLength) + QChar(0x2026);
    return shown;
}

QString wrappedAtSpaces(const QString &text, int maxWidth,
                        const std::function<int(const QString &)> &width) {
    QStringList lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        bool first = true;
        for (const QString &word : paragraph.split(QLatin1Char(' '))) {
            if (first) {
                line = word;
                first = false;
            } else if (!line.isEmpty() && width(line + QLatin1Char(' ') + word) > maxWidth) {
                lines.append(line);
                line = word;
            } else {
                line += QLatin1Char(' ') + word;
            }
        }
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}
