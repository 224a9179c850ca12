// A common dialog object: keeps its properties for the whole run (a name
// chosen in one use is the preset of the next), and shows itself through a
// DialogHost. Cancel is reported as the number 32755, never as an exception.
#pragma once

#include <QString>
#include <QtGlobal>

class QPrinter;

namespace Inkwell {

class DialogHost;

constexpr int cdlCancel = 32755;

// Flags values as the commands set them.
namespace CdlFlags {
constexpr int FontScreenAndPrinter = 3; // cdlCFScreenFonts | cdlCFPrinterFonts
constexpr int FontEffects = 256;        // cdlCFEffects
constexpr int ColorRgbInit = 1;         // cdlCCRGBInit
constexpr int ColorFullOpen = 2;        // cdlCCFullOpen
constexpr int PrintSetup = 64;          // cdlPDPrintSetup
} // namespace CdlFlags

// The font dialog's values, as bits of CommonDialog::MixedValues.
namespace CdlFont {
constexpr int Name = 1;
constexpr int Size = 2;
constexpr int Bold = 4;
constexpr int Italic = 8;
constexpr int Underline = 16;
constexpr int Strikethru = 32;
constexpr int Color = 64;
} // namespace CdlFont

class CommonDialog {
public:
    explicit CommonDialog(DialogHost *host = nullptr);

    DialogHost *host() const { return m_host; }

    // Each returns 0 when the user confirmed, cdlCancel when cancelled.
    int ShowOpen();
    int ShowSave();
    int ShowColor();
    int ShowFont();
    // Print dialog, or page setup when Flags holds PrintSetup. `fileOffer` is
    // the file the print dialog offers for printing to a file.
    int ShowPrinter(QPrinter &printer, const QString &fileOffer = QString());

    // The chosen file's name with extension, without its folder.
    QString FileTitle() const;

    QString FileName;
    QString InitDir;     // the folder a file dialog starts in when FileName names none
    QString Filter;      // "desc|pattern|desc|pattern", as the design gives it
    QString DialogTitle; // empty: the host's default title
    int Flags = 0;
    quint32 Color = 0; // 0x00BBGGRR
    QString FontName;
    float FontSize = 8.0f;
    bool FontBold = false;
    bool FontItalic = false;
    bool FontUnderline = false;
    bool FontStrikethru = false;
    // Font dialog values the text being formatted holds in more than one
    // value: the dialog shows them blank and clears a bit only when the user
    // picks a value for it.
    int MixedValues = 0;
    int Orientation = 1; // 1 portrait, 2 landscape

private:
    DialogHost *m_host;
};

// The host shows the real dialogs (Qt's) or answers from a script in tests.
// Each returns false for Cancel and otherwise updates the dialog's values.
class DialogHost {
public:
    virtual ~DialogHost() = default;
    virtual bool showOpen(CommonDialog &dialog) = 0;
    virtual bool showSave(CommonDialog &dialog) = 0;
    virtual bool showColor(CommonDialog &dialog) = 0;
    virtual bool showFont(CommonDialog &dialog) = 0;
    // `fileOffer`: the PDF file offered when the user prints to a file.
    virtual bool showPrint(CommonDialog &dialog, QPrinter &printer, const QString &fileOffer) = 0;
    virtual bool showPageSetup(CommonDialog &dialog, QPrinter &printer) = 0;
};

} // namespace Inkwell
