#include "controls/fontcolordialog.h"

#include "controls/chinesefonts.h"
#include "controls/commondialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDoubleValidator>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QSet>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace Inkwell {

namespace {

QString sizeText(double points)
{
    return QLocale::c().toString(points, 'g', 4);
}

// Selects the row quietly (no signal), or none.
void selectQuietly(QListWidget *list, QListWidgetItem *item)
{
    const QSignalBlocker quiet(list);
    list->setCurrentItem(item);
    if (item)
        list->scrollToItem(item, QAbstractItemView::PositionAtTop);
    else
        list->clearSelection();
}

void setTextQuietly(QLineEdit *edit, const QString &text)
{
    const QSignalBlocker quiet(edit);
    edit->setText(text);
}

} // namespace

QStringList FontColorDialog::styleNames()
{
    // As Windows names them for a Chinese face: regular, italic, bold, bold italic.
    return {QStringLiteral("常规"), QStringLiteral("倾斜"), QStringLiteral("粗体"),
            QStringLiteral("粗偏斜体")};
}

FontColorDialog::FontColorDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fontColorDialog"));

    m_familyEdit = new QLineEdit(this);
    m_familyEdit->setObjectName(QStringLiteral("familyEdit"));
    m_families = new QListWidget(this);
    m_families->setObjectName(QStringLiteral("familyList"));
    m_styleEdit = new QLineEdit(this);
    m_styleEdit->setObjectName(QStringLiteral("styleEdit"));
    m_styleEdit->setReadOnly(true);
    m_styles = new QListWidget(this);
    m_styles->setObjectName(QStringLiteral("styleList"));
    m_styles->addItems(styleNames());
    m_styleEdit->setFocusProxy(m_styles);
    m_sizeEdit = new QLineEdit(this);
    m_sizeEdit->setObjectName(QStringLiteral("sizeEdit"));
    auto *sizes = new QDoubleValidator(1, 1638, 1, m_sizeEdit);
    sizes->setLocale(QLocale::c());
    sizes->setNotation(QDoubleValidator::StandardNotation);
    m_sizeEdit->setValidator(sizes);
    m_sizes = new QListWidget(this);
    m_sizes->setObjectName(QStringLiteral("sizeList"));
    for (int points : QFontDatabase::standardSizes())
        m_sizes->addItem(QString::number(points));
    fillFamilies();

    m_familyHint = new QLabel(QStringLiteral("没有该名称的字体。请从列表中选择字体。"), this);
    m_familyHint->setObjectName(QStringLiteral("familyHint"));
    m_familyHint->hide();

    auto *familyLabel = new QLabel(QStringLiteral("字体(&F):"), this);
    familyLabel->setBuddy(m_familyEdit);
    auto *styleLabel = new QLabel(QStringLiteral("字形(&Y):"), this);
    styleLabel->setBuddy(m_styles);
    auto *sizeLabel = new QLabel(QStringLiteral("大小(&S):"), this);
    sizeLabel->setBuddy(m_sizeEdit);

    auto *grid = new QGridLayout;
    grid->addWidget(familyLabel, 0, 0);
    grid->addWidget(styleLabel, 0, 1);
    grid->addWidget(sizeLabel, 0, 2);
    grid->addWidget(m_familyEdit, 1, 0);
    grid->addWidget(m_styleEdit, 1, 1);
    grid->addWidget(m_sizeEdit, 1, 2);
    grid->addWidget(m_families, 2, 0);
    grid->addWidget(m_styles, 2, 1);
    grid->addWidget(m_sizes, 2, 2);
    grid->addWidget(m_familyHint, 3, 0, 1, 3);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);
    grid->setColumnStretch(2, 1);
    grid->setVerticalSpacing(2);

    m_strikeOut = new QCheckBox(QStringLiteral("删除线(&K)"), this);
    m_underline = new QCheckBox(QStringLiteral("下划线(&U)"), this);
    auto *colorLabel = new QLabel(QStringLiteral("颜色(&C):"), this);
    m_colorButton = new QPushButton(this);
    m_colorButton->setObjectName(QStringLiteral("colorButton"));
    m_colorButton->setAutoDefault(false);
    colorLabel->setBuddy(m_colorButton);
    auto *colorRow = new QHBoxLayout;
    colorRow->addWidget(colorLabel);
    colorRow->addWidget(m_colorButton);
    colorRow->addStretch();
    auto *effects = new QGroupBox(QStringLiteral("效果"), this);
    auto *effectsColumn = new QVBoxLayout(effects);
    effectsColumn->addWidget(m_strikeOut);
    effectsColumn->addWidget(m_underline);
    effectsColumn->addLayout(colorRow);
    effectsColumn->addStretch();

    m_sample = new QLabel(QStringLiteral("汉字示例 AaBbYyZz"), this);
    m_sample->setObjectName(QStringLiteral("sample"));
    m_sample->setAlignment(Qt::AlignCenter);
    m_sample->setMinimumSize(240, 72);
    auto *sampleBox = new QGroupBox(QStringLiteral("示例"), this);
    auto *sampleColumn = new QVBoxLayout(sampleBox);
    sampleColumn->addWidget(m_sample);

    auto *lower = new QHBoxLayout;
    lower->addWidget(effects, 1);
    lower->addWidget(sampleBox, 2);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &FontColorDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addLayout(lower);
    layout->addWidget(buttons);

    connect(m_familyEdit, &QLineEdit::textEdited, this, &FontColorDialog::familyTyped);
    connect(m_families, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
        if (!item)
            return;
        setTextQuietly(m_familyEdit, item->text());
        m_mixed &= ~CdlFont::Name;
        m_familyHint->hide();
        showSample();
    });
    connect(m_styles, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            return;
        m_styleEdit->setText(styleNames().value(row));
        m_mixed &= ~(CdlFont::Bold | CdlFont::Italic);
        showSample();
    });
    connect(m_sizeEdit, &QLineEdit::textEdited, this, &FontColorDialog::sizeTyped);
    connect(m_sizes, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
        if (!item)
            return;
        setTextQuietly(m_sizeEdit, item->text());
        m_mixed &= ~CdlFont::Size;
        showSample();
    });
    for (QCheckBox *check : {m_strikeOut, m_underline}) {
        connect(check, &QCheckBox::clicked, this, [this, check] {
            // Once clicked out of "mixed" a box is an ordinary one again.
            if (check->checkState() != Qt::PartiallyChecked)
                check->setTristate(false);
            showSample();
        });
    }
    connect(m_colorButton, &QPushButton::clicked, this, &FontColorDialog::chooseColor);
    m_familyEdit->installEventFilter(this);
    m_sizeEdit->installEventFilter(this);

    setCurrentFont(font());
    setCurrentColor(Qt::black);
}

void FontColorDialog::fillFamilies()
{
    // The Chinese names first, each drawn in the face that stands in for it.
    QSet<QString> listed;
    for (const QString &name : offeredChineseFamilies()) {
        auto *item = new QListWidgetItem(name, m_families);
        QFont face = m_families->font();
        face.setFamilies(QStringList{name} + chineseFontSubstitutes(name));
        item->setFont(face);
        item->setToolTip(installedStandIn(name));
        listed.insert(name.toCaseFolded());
    }
    for (const QString &family : QFontDatabase::families()) {
        if (QFontDatabase::isPrivateFamily(family) || listed.contains(family.toCaseFolded()))
            continue;
        m_families->addItem(family);
        listed.insert(family.toCaseFolded());
    }
}

void FontColorDialog::setCurrentFont(const QFont &font)
{
    m_taken.reset();
    m_given = font;
    const QString family = font.family();
    setTextQuietly(m_familyEdit, family);
    const QList<QListWidgetItem *> found = m_families->findItems(family, Qt::MatchFixedString);
    selectQuietly(m_families, found.value(0));
    const int style = (font.bold() ? 2 : 0) + (font.italic() ? 1 : 0);
    {
        const QSignalBlocker quiet(m_styles);
        m_styles->setCurrentRow(style);
    }
    m_styleEdit->setText(styleNames().value(style));
    setTextQuietly(m_sizeEdit, font.pointSizeF() > 0 ? sizeText(font.pointSizeF()) : QString());
    sizeTyped(m_sizeEdit->text());
    for (auto [check, on] :
         {std::pair{m_strikeOut, font.strikeOut()}, std::pair{m_underline, font.underline()}}) {
        check->setTristate(false);
        check->setChecked(on);
    }
    m_mixed = 0;
    m_familyHint->hide();
    showSample();
}

QFont FontColorDialog::currentFont() const
{
    if (m_taken)
        return m_taken->first;
    QFont out = m_given;
    out.setStyleName(QString()); // the weight and slant below decide
    const QString family = familyNamed();
    if (!(m_mixed & CdlFont::Name) && !family.isEmpty())
        out.setFamilies(QStringList{family});
    const int style = m_styles->currentRow();
    if (!(m_mixed & (CdlFont::Bold | CdlFont::Italic)) && style >= 0) {
        out.setBold(style >= 2);
        out.setItalic(style % 2 == 1);
    }
    bool ok = false;
    const double points = QLocale::c().toDouble(m_sizeEdit->text(), &ok);
    if (!(m_mixed & CdlFont::Size) && ok && points > 0)
        out.setPointSizeF(points);
    if (m_strikeOut->checkState() != Qt::PartiallyChecked)
        out.setStrikeOut(m_strikeOut->isChecked());
    if (m_underline->checkState() != Qt::PartiallyChecked)
        out.setUnderline(m_underline->isChecked());
    return out;
}

QString FontColorDialog::familyNamed() const
{
    const QString text = m_familyEdit->text().trimmed();
    if (text.isEmpty())
        return {};
    const QList<QListWidgetItem *> listed = m_families->findItems(text, Qt::MatchFixedString);
    if (!listed.isEmpty())
        return listed.first()->text();
    const QString windows = windowsChineseFontName(text);
    if (!windows.isEmpty())
        return windows;
    // The text's own face, installed or not, stays what it is.
    if (text.compare(m_given.family(), Qt::CaseInsensitive) == 0)
        return m_given.family();
    return {};
}

void FontColorDialog::familyTyped(const QString &text)
{
    m_mixed &= ~CdlFont::Name;
    m_familyHint->hide();
    // The list follows what is typed: the family of that name, or the first
    // one it begins.
    QList<QListWidgetItem *> found = m_families->findItems(text, Qt::MatchFixedString);
    if (found.isEmpty() && !text.isEmpty())
        found = m_families->findItems(text, Qt::MatchStartsWith);
    selectQuietly(m_families, found.value(0));
    showSample();
}

void FontColorDialog::sizeTyped(const QString &text)
{
    m_mixed &= ~CdlFont::Size;
    selectQuietly(m_sizes, m_sizes->findItems(text, Qt::MatchExactly).value(0));
    showSample();
}

void FontColorDialog::setCurrentColor(const QColor &color)
{
    m_color = color;
    m_mixed &= ~CdlFont::Color;
    showColor();
}

void FontColorDialog::setMixed(int parts)
{
    m_mixed = parts;
    if (m_mixed & CdlFont::Name) {
        setTextQuietly(m_familyEdit, QString());
        selectQuietly(m_families, nullptr);
    }
    if (m_mixed & (CdlFont::Bold | CdlFont::Italic)) {
        selectQuietly(m_styles, nullptr);
        m_styleEdit->clear();
    }
    if (m_mixed & CdlFont::Size) {
        setTextQuietly(m_sizeEdit, QString());
        selectQuietly(m_sizes, nullptr);
    }
    for (auto [check, which] : {std::pair{m_strikeOut, CdlFont::Strikethru},
                                std::pair{m_underline, CdlFont::Underline}}) {
        if (m_mixed & which) {
            check->setTristate(true);
            check->setCheckState(Qt::PartiallyChecked);
        }
    }
    showColor();
}

int FontColorDialog::mixedParts() const
{
    if (m_taken)
        return m_taken->second;
    int out = m_mixed &
              (CdlFont::Name | CdlFont::Size | CdlFont::Bold | CdlFont::Italic | CdlFont::Color);
    if (m_strikeOut->checkState() == Qt::PartiallyChecked)
        out |= m_mixed & CdlFont::Strikethru;
    if (m_underline->checkState() == Qt::PartiallyChecked)
        out |= m_mixed & CdlFont::Underline;
    return out;
}

void FontColorDialog::accept()
{
    if (!(m_mixed & CdlFont::Name) && familyNamed().isEmpty()) {
        m_familyHint->show();
        m_familyEdit->setFocus();
        m_familyEdit->selectAll();
        return;
    }
    m_taken.emplace(currentFont(), mixedParts());
    QDialog::accept();
}

bool FontColorDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && (watched == m_familyEdit || watched == m_sizeEdit)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
            key == Qt::Key_PageDown) {
            QListWidget *list = watched == m_familyEdit ? m_families : m_sizes;
            QCoreApplication::sendEvent(list, event);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FontColorDialog::showSample()
{
    QFont shown = currentFont();
    const QString family = shown.family();
    // Drawn in the stand-in even where no substitution is installed; a face
    // without a bold style is emboldened by the font engine.
    shown.setFamilies(QStringList{family} + chineseFontSubstitutes(family));
    shown.setPointSizeF(qBound(6.0, shown.pointSizeF(), 36.0));
    m_sample->setFont(shown);
}

void FontColorDialog::chooseColor()
{
    const QColor chosen = QColorDialog::getColor(m_color, this, QStringLiteral("颜色"));
    if (chosen.isValid())
        setCurrentColor(chosen);
}

void FontColorDialog::showColor()
{
    if (m_mixed & CdlFont::Color) {
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

} // namespace Inkwell
