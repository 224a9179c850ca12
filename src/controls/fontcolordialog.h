#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

class QCheckBox;
class QFontDialog;
class QLineEdit;
class QPushButton;

namespace Inkwell {

// The font dialog with the effects the document's characters can carry:
// Qt's font dialog (face, style, size, underline, strikethrough) and, below
// it, the text colour, which QFontDialog does not offer.
class FontColorDialog : public QDialog {
    Q_OBJECT
public:
    explicit FontColorDialog(QWidget *parent = nullptr);

    void setCurrentFont(const QFont &font);
    QFont currentFont() const;
    void setCurrentColor(const QColor &color);
    QColor currentColor() const { return m_color; }
    // The button that opens the colour chooser.
    QPushButton *colorButton() const { return m_colorButton; }

    // Shows these values (CdlFont bits) blank or half-ticked: the text
    // being formatted holds more than one of each.
    void setMixed(int parts);
    // What is still shown so. The face, style and size count as still mixed
    // (their boxes fill in as a side effect of other choices): tell a choice
    // there by its value.
    int mixedParts() const;
    // Qt's font dialog's own boxes: face, style and size; strikeout and underline.
    QLineEdit *familyEdit() const { return m_edits[0]; }
    QLineEdit *styleEdit() const { return m_edits[1]; }
    QLineEdit *sizeEdit() const { return m_edits[2]; }
    QCheckBox *strikeOutBox() const { return m_strikeOut; }
    QCheckBox *underlineBox() const { return m_underline; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void chooseColor();
    void showColor();

    QFontDialog *m_fonts;
    QPushButton *m_colorButton;
    QColor m_color;
    int m_mixed = 0;
    bool m_colorMixed = false;
    QLineEdit *m_edits[3] = {nullptr, nullptr, nullptr};
    QCheckBox *m_strikeOut = nullptr;
    QCheckBox *m_underline = nullptr;
};

} // namespace Inkwell
