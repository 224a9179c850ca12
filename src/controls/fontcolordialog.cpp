#include "controls/fontcolordialog.h"

#include <QKeyEvent>

#include "controls/commondialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace Inkwell {

FontColorDialog::FontColorDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fontColorDialog"));
    // Embedded as a plain widget: its own buttons would close only itself.
    m_fonts = new QFontDialog(this);
    m_fonts->setOptions(QFontDialog::NoButtons);
    m_fonts->setWindowFlags(Qt::Widget);
    // Esc and Enter in its boxes close the embedded dialog itself (a QDialog
    // answers them), which would leave this one open without its font part:
    // they answer for the whole dialog instead.
    connect(m_fonts, &QDialog::rejected, this, &QDialog::reject);
    connect(m_fonts, &QDialog::accepted, this, &QDialog::accept);
    m_fonts->installEventFilter(this);
    // Qt's font dialog makes its face, style and size boxes in this order,
    // as direct children (the sample box sits in a group), and its
    // strikeout box before the underline box.
    const QList<QLineEdit *> edits = m_fonts->findChildren<QLineEdit *>(Qt::FindDirectChildrenOnly);
    for (int i = 0; i < 3 && i < edits.size(); ++i)
        m_edits[i] = edits.at(i);
    const QList<QCheckBox *> checks = m_fonts->findChildren<QCheckBox *>();
    m_strikeOut = checks.value(0);
    m_underline = checks.value(1);
    for (QCheckBox *check : checks) {
        // Once clicked out of "mixed" a box is an ordinary one again.
        connect(check, &QCheckBox::clicked, check, [check] {
            if (check->checkState() != Qt::PartiallyChecked)
                check->setTristate(false);
        });
    }

    auto *label = new QLabel(QStringLiteral("颜色(&C):"), this);
    m_colorButton = new QPushButton(this);
    m_colorButton->setObjectName(QStringLiteral("colorButton"));
    m_colorButton->setAutoDefault(false);
    label->setBuddy(m_colorButton);
    connect(m_colorButton, &QPushButton::clicked, this, &FontColorDialog::chooseColor);

    auto *colorRow = new QHBoxLayout;
    colorRow->addWidget(label);
    colorRow->addWidget(m_colorButton);
    colorRow->addStretch();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_fonts);
    layout->addLayout(colorRow);
    layout->addWidget(buttons);
    setCurrentColor(Qt::black);
}

void FontColorDialog::setCurrentFont(const QFont &font)
{
    m_fonts->setCurrentFont(font);
}

QFont FontColorDialog::currentFont() const
{
    return m_fonts->currentFont();
}

void FontColorDialog::setCurrentColor(const QColor &color)
{
    m_color = color;
    m_colorMixed = false;
    showColor();
}

void FontColorDialog::setMixed(int parts)
{
    m_mixed = parts;
    const auto blank = [this](QLineEdit *edit, int which) {
        if (edit && (m_mixed & which)) {
            const QSignalBlocker quiet(edit);
            edit->clear();
        }
    };
    blank(familyEdit(), CdlFont::Name);
    blank(styleEdit(), CdlFont::Bold | CdlFont::Italic);
    blank(sizeEdit(), CdlFont::Size);
    for (auto [check, which] : {std::pair{m_strikeOut, CdlFont::Strikethru},
                                std::pair{m_underline, CdlFont::Underline}}) {
        if (check && (m_mixed & which)) {
            check->setTristate(true);
            check->setCheckState(Qt::PartiallyChecked);
        }
    }
    m_colorMixed = m_mixed & CdlFont::Color;
    showColor();
}

int FontColorDialog::mixedParts() const
{
    int out = m_mixed & (CdlFont::Name | CdlFont::Size | CdlFont::Bold | CdlFont::Italic);
    if (m_strikeOut && m_strikeOut->checkState() == Qt::PartiallyChecked)
        out |= m_mixed & CdlFont::Strikethru;
    if (m_underline && m_underline->checkState() == Qt::PartiallyChecked)
        out |= m_mixed & CdlFont::Underline;
    if (m_colorMixed)
        out |= CdlFont::Color;
    return out;
}

void FontColorDialog::chooseColor()
{
    const QColor chosen = QColorDialog::getColor(m_color, this, QStringLiteral("颜色"));
    if (chosen.isValid()) {
        m_colorMixed = false;
        setCurrentColor(chosen);
    }
}

void FontColorDialog::showColor()
{
    if (m_colorMixed) {
        // Several colours: no swatch until one is chosen.
        m_colorButton->setIcon(QIcon());
        m_colorButton->setText(QStringLiteral("（多种颜色）"));
        return;
    }
    QPixmap swatch(32, 14);
    swatch.fill(m_color);
    m_colorButton->setIcon(QIcon(swatch));
    m_colorButton->setIconSize(swatch.size());
    // The name as well, for screen readers and for colours close to the button's own.
    m_colorButton->setText(m_color.name(QColor::HexRgb).toUpper());
}

bool FontColorDialog::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in a box of the font part is the dialog's OK, as anywhere else in it.
    if (watched == m_fonts && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace Inkwell
