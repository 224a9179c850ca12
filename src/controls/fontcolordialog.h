#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

class QFontDialog;
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

private:
    void chooseColor();
    void showColor();

    QFontDialog *m_fonts;
    QPushButton *m_colorButton;
    QColor m_color;
};

} // namespace Inkwell
