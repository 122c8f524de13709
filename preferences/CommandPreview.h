#pragma once

#include <QGroupBox>
#include <QPixmap>
#include <QString>

class QPlainTextEdit;
struct TunnelSettings;

// The three commands connecting will run, one per line, each ending in ";", no final line
// feed. An empty user name shows as defaultUser and an empty server as defaultServer, so the
// preview never shows a half-made command; the port is shown as stored, 0 included.
QString commandPreviewText(const TunnelSettings &settings, const QString &defaultUser,
                           const QString &defaultServer);

// The titled box at the foot of the form: display-only, selectable, never wrapped, scrolled
// sideways without a visible scroll bar.
class CommandPreview : public QGroupBox {
    Q_OBJECT

public:
    explicit CommandPreview(QWidget *parent = nullptr);

    void setCommands(const QString &commands);
    QString commands() const;

    static constexpr int padding = 8;
    static constexpr int minimumHeight = 58;

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void applyFont();

    QPlainTextEdit *m_text;
    QPixmap m_box; // the box as drawn, for the size and look it has now
};
