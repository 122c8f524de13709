#pragma once

#include <QString>

#include <functional>

// What ssh wants from the user.
enum class PromptKind {
    Question,     // a yes/no question, such as trusting a new host key
    Secret,       // a passphrase, password or verification code
    Confirmation, // approve or refuse, nothing to type
    Notice,       // only to be read; ssh ends the program when it is done
};

// SSH_ASKPASS_PROMPT decides first ("confirm", "none"); otherwise a prompt ending in ssh's
// "(yes/no)?" or "(yes/no/[fingerprint])?" is a question, and anything else asks for a secret.
PromptKind promptKind(const QString &prompt, const QString &promptHint);

// Whether text that came from ssh (and, in part, from the server) may show the character: no
// control characters other than line feed and tab, and none of the marks that reorder text (a
// server could make a fingerprint or a name read backwards).
bool isShownCharacter(QChar c);
// The first `length` UTF-16 units of `text`, one fewer where the cut would split a character.
QString leftWhole(const QString &text, qsizetype length);

// The longest prompt shown; ssh's own are a few hundred characters.
constexpr int maxPromptLength = 2000;

// The prompt as it is safe to show: it comes from ssh and, in part, from the server. Control
// characters other than line feed and tab, and direction overrides that could reorder a
// fingerprint, are removed; the ends are trimmed and anything past maxPromptLength is cut,
// with an ellipsis.
QString displayablePrompt(const QString &prompt);

// The text with line feeds put in place of the spaces where its lines must break to be at most
// maxWidth wide, as measured by width(). Lines break only at spaces, so that a fingerprint or a
// path is never cut in two; a word wider than maxWidth stays whole on a line of its own.
QString wrappedAtSpaces(const QString &text, int maxWidth,
                        const std::function<int(const QString &)> &width);
