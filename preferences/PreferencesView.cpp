#include "PreferencesView.h"

#include "CommandLines.h"
#include "CommandPreview.h"
#include "NetworkServices.h"
#include "SettingsKeys.h"
#include "SettingsStore.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QValidator>

namespace {
// Space between a label and its control, the same in every row so that row 5's wider label
// moves its field exactly 19 further right.
constexpr int labelGap = 8;
constexpr int keyPathIndent = 19;
constexpr int portFieldWidth = 50;
// Far beyond any real user, host or path, and still well within what a command line takes.
constexpr int fieldLengthLimit = 4096;

// Control characters (a NUL byte, line feeds, escapes) can never be part of a user name, host,
// port or path, and would cut or garble the command line: whatever is typed or pasted loses
// them and keeps the rest, so that the field shows exactly what is stored.
class WithoutControlCharacters : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString &input, int &position) const override {
        for (qsizetype i = input.size() - 1; i >= 0; --i) {
            if (input.at(i).category() == QChar::Other_Control) {
                input.remove(i, 1);
                if (i < position)
                    --position;
            }
        }
        return Acceptable;
    }
};

QLineEdit *plainField(const char *name) {
    auto *field = new QLineEdit;
    field->setObjectName(QLatin1String(name));
    field->setMaxLength(fieldLengthLimit);
    field->setValidator(new WithoutControlCharacters(field));
    return field;
}

// The port field's formatter: the whole text (blanks around it aside) must be a decimal
// integer; anything else converts to nothing.
std::optional<qint64> portFromText(const QString &text) {
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

QLabel *rowLabel(const QString &text, int width) {
    auto *label = new QLabel(text);
    label->setFixedWidth(width);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// The label column is labelWidth wide unless a label's text needs more (a larger desktop font
// or a longer translation): then the whole column widens, so no label is ever clipped.
int labelColumnWidth(qreal labelWidth, const QStringList &texts) {
    int width = qRound(labelWidth);
    for (const QString &text : texts)
        width = qMax(width, QLabel(text).sizeHint().width());
    return width;
}

// The label names its control for screen readers, and its mnemonic, should a translation add
// one, moves the focus there. A blank label names nothing.
QHBoxLayout *row(QLabel *label, QWidget *control) {
    if (!label->text().trimmed().isEmpty())
        label->setBuddy(control);
    auto *layout = new QHBoxLayout;
    layout->setSpacing(labelGap);
    layout->addWidget(label);
    layout->addWidget(control);
    return layout;
}

QVBoxLayout *section(qreal spacing, const QMargins &padding) {
    auto *layout = new QVBoxLayout;
    layout->setSpacing(qRound(spacing));
    layout->setContentsMargins(padding);
    return layout;
}

QLayout *divider() {
    auto *line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto *layout = new QVBoxLayout;
    layout->setContentsMargins(0, 4, 0, 8);
    layout->addWidget(line);
    return layout;
}

// Replaces a field's text only when it differs, keeping the cursor where it was, so that a
// refresh never disturbs the field being typed in.
void showText(QLineEdit *field, const QString &text) {
    if (field->text() == text)
        return;
    const int cursor = field->cursorPosition();
    field->setText(text);
    field->setCursorPosition(qMin(cursor, int(text.size())));
}
} // namespace

PreferencesView::PreferencesView(SettingsStore &store,
                                 std::shared_ptr<NetworkServiceCache> services, QWidget *parent)
    : QWidget(parent), m_store(store), m_services(std::move(services)),
      m_networkServices(m_services->services()), m_defaultUser(currentLoginName()),
      m_defaultServer(QStringLiteral("vpn.example.com")) {
    buildForm();
    refresh();
    connect(&m_store, &SettingsStore::changed, this, &PreferencesView::refresh);
}

QString PreferencesView::username() const {
    return m_store.text(SettingsKeys::username).value_or(FormDefaults::username);
}

QString PreferencesView::server() const {
    return m_store.text(SettingsKeys::server).value_or(FormDefaults::server);
}

qint64 PreferencesView::port() const {
    return m_store.integer(SettingsKeys::port).value_or(FormDefaults::port);
}

QString PreferencesView::privateKey() const {
    return m_store.text(SettingsKeys::privateKey).value_or(FormDefaults::privateKey);
}

QString PreferencesView::privateKeyFile() const {
    return m_store.text(SettingsKeys::privateKeyFile).value_or(FormDefaults::privateKeyFile);
}

QString PreferencesView::networkService() const {
    return m_services->serviceOr(m_store.text(SettingsKeys::networkService));
}

QString PreferencesView::sshKeyArgument() const {
    return ::sshKeyArgument(privateKey(), privateKeyFile());
}

QString PreferencesView::commandPreviewText() const {
    TunnelSettings settings;
    settings.networkService = networkService();
    settings.port = port();
    settings.username = username();
    settings.server = server();
    settings.privateKey = privateKey();
    settings.privateKeyFile = privateKeyFile();
    return ::commandPreviewText(settings, m_defaultUser, m_defaultServer);
}

void PreferencesView::buildForm() {
    const QString usernameLabel = tr("Username:");
    const QString serverLabel = tr("Server:");
    const QString portLabel = tr("Port:");
    const QString privateKeyLabel = tr("Private key:");
    const QString serviceLabel = tr("Network service:");
    const int width = labelColumnWidth(
        labelWidth(), {usernameLabel, serverLabel, portLabel, privateKeyLabel, serviceLabel});

    m_username = plainField("username");
    m_username->setPlaceholderText(m_defaultUser);

    m_server = plainField("server");
    m_server->setPlaceholderText(m_defaultServer);

    m_port = plainField("port");
    m_port->setPlaceholderText(tr("6969"));
    m_port->setFixedWidth(portFieldWidth);

    m_defaultKey = new QRadioButton(tr("Default private key in ~/.ssh"));
    m_defaultKey->setObjectName(QStringLiteral("defaultPrivateKey"));
    m_customKey = new QRadioButton(tr("Custom (complete path):"));
    m_customKey->setObjectName(QStringLiteral("customPrivateKey"));
    m_privateKeyChoice = new QButtonGroup(this);
    m_privateKeyChoice->addButton(m_defaultKey);
    m_privateKeyChoice->addButton(m_customKey);

    m_privateKeyFile = plainField("privateKeyFile");
    m_privateKeyFile->setPlaceholderText(tr("/etc/ssh/id_rsa"));
    // Its label is the radio button above it; the label beside it is blank.
    m_privateKeyFile->setAccessibleName(m_customKey->text());

    m_networkService = new QComboBox;
    m_networkService->setObjectName(QStringLiteral("networkService"));
    m_networkService->addItems(m_networkServices);
    // A long service name must not widen the fixed-width window.
    m_networkService->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_networkService->setMinimumContentsLength(12);
    m_networkService->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    m_preview = new CommandPreview;

    // Rows 1 to 5.
    auto *settingsSection = section(sectionSpacing(), QMargins(0, 8, 0, 0));
    settingsSection->addLayout(row(rowLabel(usernameLabel, width), m_username));
    settingsSection->addLayout(row(rowLabel(serverLabel, width), m_server));
    auto *portRow = row(rowLabel(portLabel, width), m_port);
    portRow->addStretch();
    settingsSection->addLayout(portRow);

    // "Private key:" sits level with the first radio button's text.
    QLabel *keyLabel = rowLabel(privateKeyLabel, width);
    keyLabel->setFixedHeight(m_defaultKey->sizeHint().height());
    keyLabel->setBuddy(m_defaultKey);
    auto *choices = new QVBoxLayout;
    choices->setSpacing(qRound(sectionSpacing()) / 2);
    choices->addWidget(m_defaultKey);
    choices->addWidget(m_customKey);
    auto *keyRow = new QHBoxLayout;
    keyRow->setSpacing(labelGap);
    keyRow->addWidget(keyLabel, 0, Qt::AlignTop);
    keyRow->addLayout(choices);
    keyRow->addStretch();
    settingsSection->addLayout(keyRow);

    settingsSection->addLayout(row(rowLabel(tr(" "), width + keyPathIndent), m_privateKeyFile));

    // Row 6.
    auto *serviceSection = section(sectionSpacing(), QMargins());
    serviceSection->addLayout(row(rowLabel(serviceLabel, width), m_networkService));

    auto *previewSection = section(sectionSpacing(), QMargins(0, 0, 0, 8));
    previewSection->addWidget(m_preview);

    auto *form = new QVBoxLayout(this);
    form->addLayout(settingsSection);
    form->addLayout(divider());
    form->addLayout(serviceSection);
    form->addLayout(divider());
    form->addLayout(previewSection);

    setTabOrder(m_username, m_server);
    setTabOrder(m_server, m_port);
    setTabOrder(m_port, m_defaultKey);
    setTabOrder(m_defaultKey, m_customKey);
    setTabOrder(m_customKey, m_privateKeyFile);
    setTabOrder(m_privateKeyFile, m_networkService);

    // textEdited and activated come from the user only, so a refresh never writes back.
    connect(m_username, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_store.setText(SettingsKeys::username, text); });
    connect(m_server, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_store.setText(SettingsKeys::server, text); });
    connect(m_port, &QLineEdit::textEdited, this, &PreferencesView::portEdited);
    // Leaving the field shows the stored port again, as a formatted field does with text it
    // could not convert.
    connect(m_port, &QLineEdit::editingFinished, this, [this] {
        m_shownPort.reset();
        refreshPort();
    });
    connect(m_defaultKey, &QRadioButton::clicked, this, [this] {
        m_store.setText(SettingsKeys::privateKey, QString(defaultPrivateKeyChoice));
    });
    connect(m_customKey, &QRadioButton::clicked, this,
            [this] { m_store.setText(SettingsKeys::privateKey, QString(customPrivateKeyChoice)); });
    connect(m_privateKeyFile, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_store.setText(SettingsKeys::privateKeyFile, text); });
    connect(m_networkService, &QComboBox::activated, this, [this](int index) {
        m_store.setText(SettingsKeys::networkService, m_networkService->itemText(index));
    });
}

void PreferencesView::portEdited(const QString &text) {
    // Committed at each keystroke, like the other fields; text that does not convert
    // (letters, an empty field) stores nothing and the stored port stays.
    if (const std::optional<qint64> value = portFromText(text))
        m_store.setInteger(SettingsKeys::port, *value);
}

void PreferencesView::refresh() {
    const QSignalBlocker blockUsername(m_username);
    const QSignalBlocker blockServer(m_server);
    const QSignalBlocker blockPort(m_port);
    const QSignalBlocker blockDefaultKey(m_defaultKey);
    const QSignalBlocker blockCustomKey(m_customKey);
    const QSignalBlocker blockKeyFile(m_privateKeyFile);
    const QSignalBlocker blockService(m_networkService);

    showText(m_username, username());
    showText(m_server, server());
    refreshPort();
    refreshPrivateKey();
    showText(m_privateKeyFile, privateKeyFile());
    refreshNetworkService();
    m_preview->setCommands(commandPreviewText());
}

void PreferencesView::refreshPort() {
    const qint64 stored = port();
    // Half-typed text in the focused field stays until the port itself changes elsewhere.
    const bool keepTyping = m_port->hasFocus() && m_shownPort == stored;
    if (!keepTyping && portFromText(m_port->text()) != stored)
        showText(m_port, QString::number(stored));
    m_shownPort = stored;
}

void PreferencesView::refreshPrivateKey() {
    const QString choice = privateKey();
    const bool isDefault = choice == defaultPrivateKeyChoice;
    const bool isCustom = choice == customPrivateKeyChoice;
    if (isDefault || isCustom) {
        (isDefault ? m_defaultKey : m_customKey)->setChecked(true);
    } else {
        // An exclusive group will not uncheck its checked button.
        m_privateKeyChoice->setExclusive(false);
        m_defaultKey->setChecked(false);
        m_customKey->setChecked(false);
        m_privateKeyChoice->setExclusive(true);
    }
    m_privateKeyFile->setEnabled(!isDefault);
}

void PreferencesView::refreshNetworkService() {
    // An unlisted service shows no selection but stays stored until the user picks one.
    m_networkService->setCurrentIndex(m_networkServices.indexOf(networkService()));
}
