#include "AskPassDialog.h"

#include <QApplication>
#include <QCursor>
#include <QDialogButtonBox>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>

namespace {
QRect availableScreenArea() {
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// Widths rounded up, with a pixel to spare: text is laid out in fractions of a pixel.
int advance(const QString &text, const QFontMetricsF &metrics) {
    QString expanded = text;
    expanded.replace(QLatin1Char('\t'), QString(8, QLatin1Char(' ')));
    return qCeil(metrics.horizontalAdvance(expanded)) + 1;
}

QStyle::StandardPixmap iconFor(PromptKind kind) {
    return kind == PromptKind::Notice ? QStyle::SP_MessageBoxInformation
                                      : QStyle::SP_MessageBoxQuestion;
}
} // namespace

AskPassDialog::AskPassDialog(PromptKind kind, const QString &prompt, QWidget *parent)
    : QDialog(parent), m_kind(kind) {
    setWindowTitle(QStringLiteral("Zentrel VPN"));
    // A title and a close button, nothing to minimise or maximise; above other windows, as ssh
    // waits on it and the user may be looking elsewhere.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);

    auto *icon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(iconFor(kind), nullptr, this).pixmap(iconSize));
    icon->setAlignment(Qt::AlignTop);

    auto *content = new QVBoxLayout;
    content->addWidget(makePromptText(prompt));
    if (kind == PromptKind::Secret) {
        m_secret = new QLineEdit(this);
        m_secret->setEchoMode(QLineEdit::Password);
        // What a screen reader says on the field: the question, which ssh puts last.
        m_secret->setAccessibleName(prompt.section(QLatin1Char('\n'), -1));
        m_secret->setAccessibleDescription(prompt);
        content->addWidget(m_secret);
        m_initialFocus = m_secret;
    }

    auto *top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(content, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    if (kind == PromptKind::Notice)
        return; // ssh ends us when it is done; there is nothing to answer.

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *accept = buttons->addButton(
        kind == PromptKind::Question ? tr("Connect") : tr("OK"), QDialogButtonBox::AcceptRole);
    QPushButton *cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    // Return must never trust a server by accident.
    QPushButton *preferred = kind == PromptKind::Question ? cancel : accept;
    preferred->setDefault(true);
    if (!m_initialFocus)
        m_initialFocus = preferred;
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing, nullptr, this));
    layout->addWidget(buttons);
}

QScrollArea *AskPassDialog::makePromptText(const QString &prompt) {
    auto *area = new QScrollArea(this);
    auto *label = new QLabel;
    area->setWidget(label); // the label takes the area's font before it is measured
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidgetResizable(false);
    area->viewport()->setAutoFillBackground(false);
    label->setAutoFillBackground(false);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Selectable, so that a fingerprint can be copied and compared.
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // Lines as wide as reads well, broken at spaces only, so that a fingerprint or a key's
    // path stays whole; never larger than the screen: what does not fit scrolls.
    const QRect screen = availableScreenArea();
    const QFontMetricsF metrics(label->font());
    const int character = label->fontMetrics().averageCharWidth();
    const int readable = qMin(character * 100, screen.width() * 2 / 3);
    label->setText(wrappedAtSpaces(
        prompt, readable, [&metrics](const QString &line) { return advance(line, metrics); }));
    const QSize text = label->sizeHint();
    label->setFixedSize(qMax(text.width(), character * 40), text.height());

    const int maxWidth = screen.width() * 4 / 5;
    const int maxHeight = screen.height() / 2;
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area);
    const bool scrollsDown = label->height() > maxHeight;
    const bool scrollsAcross = label->width() > maxWidth;
    area->setFixedSize(qMin(label->width(), maxWidth) + (scrollsDown ? scrollBar : 0),
                       qMin(label->height(), maxHeight) + (scrollsAcross ? scrollBar : 0));
    return area;
}

QString AskPassDialog::takeAnswer() {
    switch (m_kind) {
    case PromptKind::Question:
        return QStringLiteral("yes");
    case PromptKind::Secret: {
        QString secret = m_secret->text();
        // setText, unlike clear(), also drops the field's undo history.
        m_secret->setText(QString());
        return secret;
    }
    case PromptKind::Confirmation:
    case PromptKind::Notice:
        break;
    }
    return QString();
}

void AskPassDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (m_initialFocus)
        m_initialFocus->setFocus(Qt::ActiveWindowFocusReason);
    comeToFront();
    // A window manager that prevents focus stealing may refuse the first request; ask once
    // more, and otherwise mark the window as wanting attention.
    QTimer::singleShot(500, this, [this] {
        if (isActiveWindow())
            return;
        comeToFront();
        QApplication::alert(this);
    });
}

void AskPassDialog::comeToFront() {
    raise();
    activateWindow();
}
