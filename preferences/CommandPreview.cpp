#include "CommandPreview.h"

#include "CommandLines.h"

#include <QEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {
constexpr int previewLines = 3;
}

QString commandPreviewText(const TunnelSettings &settings, const QString &defaultUser,
                           const QString &defaultServer) {
    const QString port = QString::number(settings.port);
    const QString user = settings.username.isEmpty() ? defaultUser : settings.username;
    const QString host = settings.server.isEmpty() ? defaultServer : settings.server;
    return QLatin1String("networksetup -setsocksfirewallproxy \"") + settings.networkService +
           QLatin1String("\" localhost ") + port +
           QLatin1String(";\nnetworksetup -setsocksfirewallproxystate \"") +
           settings.networkService + QLatin1String("\" on;\nssh -NTCD") + port + QLatin1Char(' ') +
           user + QLatin1Char('@') + host +
           sshKeyArgument(settings.privateKey, settings.privateKeyFile) + QLatin1Char(';');
}

// The title stays as it is in every language, like the commands under it.
CommandPreview::CommandPreview(QWidget *parent)
    : QGroupBox(QStringLiteral("Zentrel VPN will run these commands when connecting:"), parent),
      m_text(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("commandPreview"));
    m_text->setObjectName(QStringLiteral("commandPreviewText"));
    m_text->setAccessibleName(title());
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_text->setFrameShape(QFrame::NoFrame);
    // Text on the box's own background: the box is the frame, not a second text field.
    m_text->viewport()->setAutoFillBackground(false);
    m_text->setBackgroundVisible(false);
    m_text->document()->setDocumentMargin(padding);
    // Reachable by clicking (to select and copy), but not a stop in the form's tab chain.
    m_text->setFocusPolicy(Qt::ClickFocus);
    m_text->setContextMenuPolicy(Qt::DefaultContextMenu);

    // The document margin is the padding; the box adds only the room for its own frame.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(m_text);
    applyFont();
}

void CommandPreview::setCommands(const QString &commands) {
    if (commands == m_text->toPlainText())
        return; // keeps the reader's selection and scroll position
    m_text->setPlainText(commands);
}

QString CommandPreview::commands() const {
    return m_text->toPlainText();
}

void CommandPreview::changeEvent(QEvent *event) {
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        applyFont();
}

void CommandPreview::applyFont() {
    // A size below the body text, like a caption, in the system's fixed-width face.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (const qreal base = font().pointSizeF(); base > 0)
        fixed.setPointSizeF(qMax(6.0, base - 1.0));
    m_text->setFont(fixed);
    // Exactly the three lines and the padding: the box never scrolls vertically.
    const QFontMetrics metrics(fixed);
    const int textHeight = previewLines * metrics.lineSpacing() + 2 * padding +
                           2 * m_text->frameWidth() + 2; // the document's rounding slack
    m_text->setFixedHeight(qMax(minimumHeight, textHeight));
}
