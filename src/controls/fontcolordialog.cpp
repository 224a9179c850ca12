#include "controls/fontcolordialog.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
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
    showColor();
}

void FontColorDialog::chooseColor()
{
    const QColor chosen = QColorDialog::getColor(m_color, this, QStringLiteral("颜色"));
    if (chosen.isValid())
        setCurrentColor(chosen);
}

void FontColorDialog::showColor()
{
    QPixmap swatch(32, 14);
    swatch.fill(m_color);
    m_colorButton->setIcon(QIcon(swatch));
    m_colorButton->setIconSize(swatch.size());
    // The name as well, for screen readers and for colours close to the button's own.
    m_colorButton->setText(m_color.name(QColor::HexRgb).toUpper());
}

} // namespace Inkwell
