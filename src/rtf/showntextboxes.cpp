#include "rtf/showntextboxes.h"

#include "core/formatproperties.h"
#include "rtf/rtfdecoder.h"
#include "rtf/rtftokenizer.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <string>

namespace Inkwell::Rtf {

namespace {

constexpr size_t maxBoxes = 8;
constexpr qsizetype maxBoxText = 4000;

bool holdsShape(const QByteArray &raw)
{
    return raw.contains("{\\shp");
}

// One pass over kept groups, collecting what each shape with text says of
// its place and the text of its {\shptxt}.
class ShapeScan {
public:
    explicit ShapeScan(int codePage) : m_codePage(codePage) {}

    std::vector<TextBox> run(QByteArrayView raw)
    {
        Tokenizer tokens(raw);
        for (Token token = tokens.next(); token.type != Token::Type::End; token = tokens.next()) {
            switch (token.type) {
            case Token::Type::GroupStart:
                ++m_depth;
                m_groupStart = true;
                m_starred = false;
                continue;
            case Token::Type::GroupEnd:
                groupEnd();
                break;
            case Token::Type::ControlWord:
                word(token);
                break;
            case Token::Type::ControlSymbol:
                if (token.symbol == '*' && m_groupStart) {
                    m_starred = true;
                    continue; // the destination word follows
                }
                if (inText())
                    symbol(token.symbol);
                break;
            case Token::Type::Hex:
                if (inText() && !skipped() && token.value >= 0)
                    m_bytes.push_back(char(token.value));
                break;
            case Token::Type::Text:
                if (inText())
                    for (char c : token.text)
                        if (!skipped())
                            m_bytes.push_back(c);
                break;
            case Token::Type::Binary:
            case Token::Type::End:
                break;
            }
            m_groupStart = false;
            m_starred = false;
        }
        return std::move(m_boxes);
    }

private:
    bool inText() const { return m_textDepth >= 0 && m_skipDepth < 0; }

    // A \uN's fallback characters are not text.
    bool skipped()
    {
        if (m_skipChars <= 0)
            return false;
        --m_skipChars;
        return true;
    }

    void append(QStringView text)
    {
        flushBytes();
        if (m_box.text.size() < maxBoxText)
            m_box.text += text.left(maxBoxText - m_box.text.size());
    }

    void flushBytes()
    {
        if (m_bytes.empty())
            return;
        const std::u16string &decoded = m_decoder.decode(m_bytes, m_codePage);
        m_bytes.clear();
        append(QStringView(decoded.data(), qsizetype(decoded.size())));
    }

    void groupEnd()
    {
        // (A "}" too many takes the depth below 0, where no group is open.)
        if (m_skipDepth >= 0 && m_depth == m_skipDepth)
            m_skipDepth = -1;
        if (m_textDepth >= 0 && m_depth == m_textDepth) {
            flushBytes();
            m_textDepth = -1;
        }
        if (m_shapeDepth >= 0 && m_depth == m_shapeDepth) {
            m_shapeDepth = -1;
            if (!m_byParagraph) {
                // Placed on the page: the window has none, and shows it at
                // its paragraph.
                m_box.bottom -= m_box.top;
                m_box.top = 0;
            }
            while (m_box.text.endsWith(u'\n'))
                m_box.text.chop(1);
            if (m_hasText && m_box.right > m_box.left && m_box.bottom > m_box.top &&
                m_boxes.size() < maxBoxes)
                m_boxes.push_back(m_box);
        }
        --m_depth;
    }

    void word(const Token &token)
    {
        const std::string_view word = token.text;
        if (m_shapeDepth < 0) {
            if (m_groupStart && word == "shp") {
                m_shapeDepth = m_depth;
                m_box = TextBox();
                m_byParagraph = false;
                m_hasText = false;
            }
            return;
        }
        if (m_skipDepth >= 0)
            return;
        if (m_textDepth < 0) {
            if (m_groupStart && word == "shptxt") {
                m_textDepth = m_depth;
                m_hasText = true;
                m_uc = 1;
            } else if (word == "shpleft") {
                m_box.left = token.value;
            } else if (word == "shptop") {
                m_box.top = token.value;
            } else if (word == "shpright") {
                m_box.right = token.value;
            } else if (word == "shpbottom") {
                m_box.bottom = token.value;
            } else if (word == "shpbypara") {
                m_byParagraph = true;
            } else if (word == "shpbypage" || word == "shpbymargin") {
                m_byParagraph = false;
            } else if (m_groupStart && word != "shpinst") {
                m_skipDepth = m_depth; // the shape's result, its properties
            }
            return;
        }
        if (m_groupStart && m_starred) {
            m_skipDepth = m_depth; // a destination of its own: no text
            return;
        }
        if (word == "par" || word == "line") {
            append(u"\n");
        } else if (word == "tab") {
            append(u"\t");
        } else if (word == "u" && token.hasParam) {
            const char16_t unit = char16_t(std::uint16_t(token.value));
            append(QStringView(&unit, 1));
            m_skipChars = m_uc;
        } else if (word == "uc" && token.hasParam) {
            m_uc = std::clamp(token.value, 0, 8);
        } else if (word == "fs" && token.hasParam && m_box.halfPoints == 0) {
            m_box.halfPoints = std::clamp(token.value, 0, 3276);
        } else if (m_groupStart && (word == "pict" || word == "fldinst" || word == "shp")) {
            m_skipDepth = m_depth;
        }
    }

    void symbol(char symbol)
    {
        if (skipped())
            return;
        switch (symbol) {
        case '\\':
        case '{':
        case '}':
            m_bytes.push_back(symbol);
            break;
        case '~':
            append(u"\u00a0");
            break;
        case '_':
            append(u"-");
            break;
        default:
            break;
        }
    }

    int m_codePage;
    Decoder m_decoder;
    std::vector<TextBox> m_boxes;
    TextBox m_box;
    std::string m_bytes; // \'xx and text bytes waiting to be decoded
    int m_depth = 0;
    int m_shapeDepth = -1; // the {\shp group being read
    int m_textDepth = -1;  // its {\shptxt group
    int m_skipDepth = -1;  // a group inside either that holds no text
    int m_uc = 1;
    int m_skipChars = 0;
    bool m_groupStart = false; // the token before was "{" (or "{\*")
    bool m_starred = false;
    bool m_byParagraph = false;
    bool m_hasText = false;
};

} // namespace

std::vector<TextBox> textBoxesIn(QByteArrayView raw, int codePage)
{
    return ShapeScan(codePage).run(raw);
}

void showTextBoxes(QTextDocument &document, int from, int to, int codePage)
{
    const QList<QTextFormat> formats = document.allFormats();
    if (std::none_of(formats.begin(), formats.end(), [](const QTextFormat &format) {
            return holdsShape(format.property(keptBeforeProperty).toByteArray()) ||
                   holdsShape(format.property(keptAfterProperty).toByteArray()) ||
                   holdsShape(format.property(keptMarkProperty).toByteArray());
        }))
        return;
    struct Range {
        int from;
        int to; // == from: the paragraph mark of the block at `from`
        QStringList boxes;
    };
    std::vector<Range> ranges;
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const QByteArray mark = block.blockFormat().property(keptMarkProperty).toByteArray();
        if (holdsShape(mark))
            if (const auto boxes = textBoxesIn(mark, codePage); !boxes.empty())
                ranges.push_back({block.position(), block.position(), describeTextBoxes(boxes)});
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            const QByteArray raw = format.property(keptBeforeProperty).toByteArray() +
                                   format.property(keptAfterProperty).toByteArray();
            if (!holdsShape(raw))
                continue;
            if (const auto boxes = textBoxesIn(raw, codePage); !boxes.empty())
                ranges.push_back({fragment.position(), fragment.position() + fragment.length(),
                                  describeTextBoxes(boxes)});
        }
    }
    QTextCursor cursor(&document);
    for (const Range &range : ranges) {
        if (range.to == range.from) {
            QTextBlockFormat shown;
            shown.setProperty(textBoxProperty, range.boxes);
            QTextCursor(document.findBlock(range.from)).mergeBlockFormat(shown);
            continue;
        }
        cursor.setPosition(range.from);
        cursor.setPosition(range.to, QTextCursor::KeepAnchor);
        QTextCharFormat shown;
        shown.setProperty(textBoxProperty, range.boxes);
        cursor.mergeCharFormat(shown);
    }
}

} // namespace Inkwell::Rtf
