#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>
#include <optional>
#include <utility>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace Inkwell {

// The font dialog with the effects the document's characters can carry:
// face, style, size, strikethrough, underline and colour. Besides the
// installed families it offers the Chinese names Windows documents use (宋体,
// 黑体, ...), each shown in the face that stands in for it here, and takes a
// known Windows name typed in its family box. Every face is offered regular,
// italic, bold and bold italic: a face without a bold style is emboldened.
class FontColorDialog : public QDialog {
    Q_OBJECT
public:
    explicit FontColorDialog(QWidget *parent = nullptr);

    // The family is shown by the name given, listed or not.
    void setCurrentFont(const QFont &font);
    // The font chosen: its family() is the name chosen (宋体, not its stand-in).
    QFont currentFont() const;
    void setCurrentColor(const QColor &color);
    QColor currentColor() const { return m_color; }
    // The button that opens the colour chooser.
    QPushButton *colorButton() const { return m_colorButton; }

    // Shows these values (CdlFont bits) blank or half-ticked: the text
    // being formatted holds more than one of each.
    void setMixed(int parts);
    // What is still shown so: the values the user has not picked.
    int mixedParts() const;

    QLineEdit *familyEdit() const { return m_familyEdit; }
    QLineEdit *styleEdit() const { return m_styleEdit; }
    QLineEdit *sizeEdit() const { return m_sizeEdit; }
    QListWidget *familyList() const { return m_families; }
    QListWidget *styleList() const { return m_styles; }
    QListWidget *sizeList() const { return m_sizes; }
    QCheckBox *strikeOutBox() const { return m_strikeOut; }
    QCheckBox *underlineBox() const { return m_underline; }
    // The sample text, drawn in the font chosen.
    QLabel *sample() const { return m_sample; }
    // Shown under the family box while it holds a name no face answers to.
    QLabel *familyHint() const { return m_familyHint; }

    // The names of the four styles, regular first.
    static QStringList styleNames();

public slots:
    // Refuses a family name no face answers to (the dialog stays open).
    void accept() override;

protected:
    // The arrow keys in the family and size boxes move through their lists.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillFamilies();
    void familyTyped(const QString &text);
    void sizeTyped(const QString &text);
    // The family the box names: a listed one or a Windows name, as spelled
    // there; "" when it names none.
    QString familyNamed() const;
    void showSample();
    void chooseColor();
    void showColor();

    QLineEdit *m_familyEdit;
    QLineEdit *m_styleEdit;
    QLineEdit *m_sizeEdit;
    QListWidget *m_families;
    QListWidget *m_styles;
    QListWidget *m_sizes;
    QLabel *m_familyHint;
    QCheckBox *m_strikeOut;
    QCheckBox *m_underline;
    QLabel *m_sample;
    QPushButton *m_colorButton;
    QColor m_color;
    QFont m_given;   // what the dialog was opened with
    int m_mixed = 0; // CdlFont bits still shown blank
    // What OK took: the boxes may change as the dialog closes (a list that
    // gets the focus picks its first row).
    std::optional<std::pair<QFont, int>> m_taken;
};

} // namespace Inkwell
