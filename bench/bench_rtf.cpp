// RTF writer and reader over a ~5 MB document of mixed Chinese and Latin
// runs with bold, colours, sizes and a few pictures.
#include "bench.h"

#include "core/documentimages.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"

#include <QBuffer>
#include <QImage>
#include <QTextCursor>
#include <QTextDocument>

#include <memory>

namespace Inkwell::Bench {

namespace {

QByteArray encode(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage picture(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb((x * 7 + seed) & 255, (y * 3 + seed * 5) & 255, (x ^ y) & 255));
    return image;
}

// Deterministic mixed content; `targetRtfBytes` is approximate.
std::shared_ptr<QTextDocument> makeDocument(qint64 targetRtfBytes, bool withChinese)
{
    auto document = std::make_shared<QTextDocument>();
    document->setUndoRedoEnabled(false);
    QTextCursor cursor(document.get());
    // One edit block: the cursor does not lay out the text after each insert.
    cursor.beginEditBlock();
    const QString chinese = QStringLiteral(
        "\u6587\u672C\u7F16\u8F91\u5668\u4FDD\u5B58\u6587\u6863\u65F6\u4F7F\u7528\u5BCC\u6587"
        "\u672C\u683C\u5F0F\uFF0C\u4E2D\u6587\u548C\u82F1\u6587\u6DF7\u6392\u3002");
    const QString latin = QStringLiteral(
        "The quick brown fox jumps over the lazy dog while the editor saves rich text. ");
    const QColor colors[] = {QColor(200, 0, 0), QColor(0, 120, 0), QColor(0, 0, 180)};
    quint32 state = 12345;
    auto next = [&state](quint32 bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    };
    QTextCharFormat cjk;
    cjk.setFontFamilies({QStringLiteral("\u5B8B\u4F53")});
    QTextCharFormat western;
    western.setFontFamilies({QStringLiteral("Arial")});
    qint64 estimate = 0;
    int run = 0;
    while (estimate < targetRtfBytes) {
        const bool isChinese = withChinese && next(2) == 0;
        QTextCharFormat format = isChinese ? cjk : western;
        format.setFontPointSize(9 + next(4) * 1.5);
        if (next(4) == 0)
            format.setFontWeight(QFont::Bold);
        if (next(6) == 0)
            format.setFontItalic(true);
        if (next(5) == 0)
            format.setForeground(colors[next(3)]);
        const QString &source = isChinese ? chinese : latin;
        const int length = 10 + int(next(uint(source.size() - 10)));
        cursor.insertText(source.left(length), format);
        // \uN\'xx\'xx is about 13 bytes per Chinese character.
        estimate += isChinese ? length * 13 : length;
        estimate += 20; // the run's control words
        if (++run % 12 == 0) {
            cursor.insertBlock();
            estimate += 6;
        }
        if (run % 5000 == 0) {
            const QImage image = picture(160, 120, run / 5000);
            const char *kind = (run / 5000) % 2 ? "PNG" : "JPEG";
            const QByteArray bytes = encode(image, kind);
            const auto decoded = DocumentImages::fromBytes(bytes);
            cursor.insertImage(DocumentImages::add(document.get(), decoded->image, decoded->encoded,
                                                   decoded->format));
            estimate += bytes.size() * 2;
        }
    }
    cursor.endEditBlock();
    return document;
}

void addPair(std::vector<Phase> &phases, const QString &label,
             const std::shared_ptr<QTextDocument> &document)
{
    auto rtf = std::make_shared<QByteArray>(Rtf::write(*document, 936));
    const QString text = document->toRawText();
    phases.push_back({QStringLiteral("rtf write (%1)").arg(label), rtf->size(), [document, rtf] {
                          return Rtf::write(*document, 936).size() == rtf->size();
                      }});
    phases.push_back({QStringLiteral("rtf read (%1)").arg(label), rtf->size(), [rtf, text] {
                          QTextDocument copy;
                          copy.setUndoRedoEnabled(false);
                          QTextCursor cursor(&copy);
                          return Rtf::read(*rtf, cursor, 936).ok && copy.toRawText() == text;
                      }});
}

} // namespace

std::vector<Phase> rtfPhases()
{
    std::vector<Phase> phases;
    addPair(phases, QStringLiteral("mixed"), makeDocument(5'000'000, true));
    addPair(phases, QStringLiteral("latin"), makeDocument(5'000'000, false));
    return phases;
}

} // namespace Inkwell::Bench
