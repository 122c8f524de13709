#include "CommandPreview.h"

#include "CommandLines.h"

#include <QEvent>
#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyleOptionGroupBox>
#include <QTextCursor>
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
           settings.networkService + QLatin1String("\" on;\nssh -NTCD") + port +
           sshTunnelOptions(settings) + QLatin1Char(' ') + user + QLatin1Char('@') + host +
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
    m_text->document()->setUndoRedoEnabled(false); // nobody undoes in it; keep no history
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
    const QString shown = m_text->toPlainText();
    if (commands == shown)
        return; // keeps the reader's selection and scroll position
    if (shown.isEmpty()) {
        m_text->setPlainText(commands);
        return;
    }
    // A keystroke changes a few characters: replacing only those lays out and repaints one
    // line instead of the whole text.
    const qsizetype shorter = qMin(shown.size(), commands.size());
    qsizetype prefix = 0;
    while (prefix < shorter && shown[prefix] == commands[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           shown[shown.size() - 1 - suffix] == commands[commands.size() - 1 - suffix])
        ++suffix;
    QTextCursor cursor(m_text->document());
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(shown.size() - suffix), QTextCursor::KeepAnchor);
    cursor.insertText(commands.mid(prefix, commands.size() - suffix - prefix));
}

void CommandPreview::paintEvent(QPaintEvent *event) {
    // The text shows through to the box, so every change of it repaints the box under it, title
    // and all: draw the box once per look and copy from that.
    const qreal ratio = devicePixelRatioF();
    if (m_box.isNull() || m_box.size() != size() * ratio) {
        m_box = QPixmap(size() * ratio);
        m_box.setDevicePixelRatio(ratio);
        m_box.fill(Qt::transparent);
        QPainter painter(&m_box);
        QStyleOptionGroupBox option;
        initStyleOption(&option);
        style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, this);
    }
    const QRectF area(event->rect());
    QPainter(this).drawPixmap(area, m_box, QRectF(area.topLeft() * ratio, area.size() * ratio));
}

QString CommandPreview::commands() const {
    return m_text->toPlainText();
}

void CommandPreview::changeEvent(QEvent *event) {
    QGroupBox::changeEvent(event);
    m_box = QPixmap(); // anything may look different now
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
