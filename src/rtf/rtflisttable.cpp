#include "rtf/rtflisttable.h"

#include <algorithm>
#include <string_view>

using namespace std::string_view_literals;

namespace Inkwell::Rtf {

// Bullets drawn from a symbol font (Symbol, Wingdings) are stored as the
// font's byte, or that byte in the private use area (U+F0xx): the Unicode
// character each stands for, for the bullets word processors offer.
char16_t unicodeBullet(char16_t c)
{
    const char16_t code = (c >= 0xF000 && c <= 0xF0FF) ? char16_t(c - 0xF000) : c;
    if (code != c || code == 0xB7) {
        switch (code) {
        case 0xB7:         // Symbol
            return 0x2022; // •
        case 0xA7:         // Wingdings from here on
            return 0x25AA; // ▪
        case 0xFC:
            return 0x2713; // ✓
        case 0xD8:
            return 0x27A2; // ➢
        case 0x76:
            return 0x2756; // ❖
        case 0x6E:
            return 0x25A0; // ■
        case 0x71:
            return 0x2751; // ❑
        case 0x6C:
            return 0x25CF; // ●
        case 0x6F:
            return 0x25A1; // □
        default:
            break;
        }
    }
    return c;
}

BulletLook bulletLook(char16_t c)
{
    BulletLook look;
    if (c == u'o' || c == 0x25E6 || c == 0x25CB)
        look.style = QTextListFormat::ListCircle;
    else if (c == 0xF0A7 || c == 0x25AA || c == 0x25A0 || c == 0xA7)
        look.style = QTextListFormat::ListSquare;
    // Any other bullet is kept as its character.
    const char16_t shown = unicodeBullet(c);
    if (shown != 0x2022 && shown != 0x25AA && shown != 0x25E6 && shown != u'o' && shown != 0x25CB &&
        shown != 0x25A0)
        look.own = QString(QChar(shown));
    return look;
}

void ListTableReader::list()
{
    m_levels = {};
    m_levelIndex = -1;
    m_listId = 0;
}

void ListTableReader::listOverride()
{
    m_listId = 0;
    m_overrideNumber = 0;
    m_inOverride = true;
    m_overrideLevel = -1;
    m_overrideStarts.fill(-1);
}

void ListTableReader::overrideLevel()
{
    if (m_inOverride)
        ++m_overrideLevel;
}

ListLevel *ListTableReader::current()
{
    return m_levelIndex >= 0 && m_levelIndex <= 8 ? &m_levels[size_t(m_levelIndex)] : nullptr;
}

void ListTableReader::level()
{
    ++m_levelIndex;
    if (ListLevel *level = current())
        *level = ListLevel();
}

void ListTableReader::startAt(int number)
{
    if (m_inOverride) {
        if (m_overrideLevel >= 0 && m_overrideLevel <= 8)
            m_overrideStarts[size_t(m_overrideLevel)] = std::clamp(number, 0, 32767);
        return;
    }
    if (ListLevel *level = current())
        level->start = std::clamp(number, 0, 32767);
}

void ListTableReader::follow(int what)
{
    if (ListLevel *level = current())
        level->follow = what == 1 || what == 2 ? what : 0;
}

void ListTableReader::font(const QString &name)
{
    if (ListLevel *level = current(); level && !m_inOverride)
        level->font = name;
}

void ListTableReader::numberFormat(int nfc)
{
    ListLevel *level = current();
    if (!level)
        return;
    QTextListFormat::Style style = QTextListFormat::ListDecimal;
    switch (nfc) {
    case 1:
        style = QTextListFormat::ListUpperRoman;
        break;
    case 2:
        style = QTextListFormat::ListLowerRoman;
        break;
    case 3:
        style = QTextListFormat::ListUpperAlpha;
        break;
    case 4:
        style = QTextListFormat::ListLowerAlpha;
        break;
    case 23:
        style = QTextListFormat::ListDisc;
        break;
    case 255: // no number: the level text alone, which a list cannot show
        style = QTextListFormat::ListStyleUndefined;
        break;
    default:
        break; // other counting systems are shown as decimal numbers
    }
    level->style = style;
}

// The level text: its length, then the text with the numbers of the levels
// as characters 0 to 8. What stands before the first number is the prefix,
// what follows the last the suffix; a bullet's text is the bullet.
void ListTableReader::endLevelText()
{
    ListLevel *level = current();
    if (!level || m_levelText.empty())
        return;
    const size_t length = std::min(size_t(m_levelText.front()), m_levelText.size() - 1);
    const std::u16string_view text = std::u16string_view(m_levelText).substr(1, length);
    if (level->style == QTextListFormat::ListDisc) {
        const char16_t bullet = text.empty() ? u'\x2022' : text.front();
        if (!text.empty())
            level->bulletRead = bullet;
        const BulletLook look = bulletLook(bullet);
        level->style = look.style;
        if (!look.own.isEmpty())
            level->bullet = look.own;
        return;
    }
    const size_t first = text.find_first_of(u"\x00\x01\x02\x03\x04\x05\x06\x07\x08"sv);
    if (first == std::u16string_view::npos) {
        level->prefix = QString::fromStdU16String(std::u16string(text));
        level->suffix.clear();
        return;
    }
    const size_t last = text.find_last_of(u"\x00\x01\x02\x03\x04\x05\x06\x07\x08"sv);
    level->prefix = QString::fromStdU16String(std::u16string(text.substr(0, first)));
    level->suffix = QString::fromStdU16String(std::u16string(text.substr(last + 1)));
}

void ListTableReader::endList()
{
    if (m_lists.lists.size() < 4096)
        m_lists.lists[m_listId] = m_levels;
}

void ListTableReader::endOverride()
{
    m_inOverride = false;
    if (m_lists.overrides.size() >= 4096)
        return;
    m_lists.overrides[m_overrideNumber] = m_listId;
    if (std::any_of(m_overrideStarts.begin(), m_overrideStarts.end(),
                    [](int start) { return start >= 0; }))
        m_lists.overrideStarts[m_overrideNumber] = m_overrideStarts;
}

void OldNumberingReader::begin()
{
    m_numbering = OldNumbering();
    m_style = QTextListFormat::ListDecimal;
    m_bullet = false;
    m_font.clear();
}

void OldNumberingReader::level(int level, bool bullet)
{
    if (level < 0 || level > 8)
        return;
    m_numbering.valid = true;
    m_numbering.level = level;
    m_bullet = bullet;
}

void OldNumberingReader::text(bool after, char16_t c)
{
    QString &text = after ? m_numbering.look.suffix : m_numbering.look.prefix;
    if (c >= 0x20 && text.size() < 32)
        text.append(QChar(c));
}

OldNumbering OldNumberingReader::finish() const
{
    OldNumbering numbering = m_numbering;
    if (numbering.valid) {
        numbering.look.style = m_bullet ? QTextListFormat::ListDisc : m_style;
        if (m_bullet) {
            // The bullet's character in its font (\pnf), written back so
            // where read back it shows as this numbering's dot does.
            if (!m_font.isEmpty() && !numbering.look.prefix.isEmpty() &&
                bulletLook(numbering.look.prefix.front().unicode()) == BulletLook()) {
                numbering.look.font = m_font;
                numbering.look.bulletRead = numbering.look.prefix.front().unicode();
            }
            numbering.look.prefix = numbering.look.suffix = QString();
        }
    }
    return numbering;
}

} // namespace Inkwell::Rtf
