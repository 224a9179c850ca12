#include "rtf/rtffonttable.h"

#include "platform/codepage.h"
#include "rtf/rtftextruns.h"

#include <QString>

#include <cctype>

namespace Inkwell::Rtf {

namespace {

// Font names are short; a hostile one is cut to a length that any of its
// written forms reads back whole, so that a second save is the same.
QString capped(QString name)
{
    constexpr qsizetype maxChars = 255;
    if (name.size() > maxChars) {
        name.truncate(maxChars);
        if (name.back().isHighSurrogate())
            name.chop(1);
    }
    return name;
}

} // namespace

void FontTableReader::begin()
{
    m_number = -1;
    m_part = Part::Name;
    m_name.clear();
    m_nameDecoded.clear();
}

bool FontTableReader::entry(int number, int documentCodePage)
{
    bool finished = false;
    if (!m_name.empty())
        finished = finish(documentCodePage);
    m_number = number;
    m_font = Font();
    m_part = Part::Name;
    m_alt.clear();
    m_altDecoded.clear();
    m_name.clear();
    m_nameDecoded.clear();
    return finished;
}

bool FontTableReader::byte(unsigned char byte, int documentCodePage)
{
    if (m_part == Part::Panose) {
        if (std::isxdigit(byte) && m_font.panose.size() < 64)
            m_font.panose.push_back(char(byte));
        return false;
    }
    if (m_part == Part::Alt) {
        if (byte != ';' && m_alt.size() < 1024)
            m_alt.push_back(char(byte));
        return false;
    }
    if (byte == ';')
        return finish(documentCodePage);
    if (m_name.size() < 1024)
        m_name.push_back(char(byte));
    return false;
}

void FontTableReader::hexByte(unsigned char byte)
{
    std::string &text = m_part == Part::Alt ? m_alt : m_name;
    if (m_part != Part::Panose && text.size() < 1024)
        text.push_back(char(byte));
}

void FontTableReader::unit(char16_t unit, int documentCodePage)
{
    if (m_part == Part::Panose)
        return;
    std::string &bytes = m_part == Part::Alt ? m_alt : m_name;
    std::u16string &decoded = m_part == Part::Alt ? m_altDecoded : m_nameDecoded;
    if (decoded.size() >= 1024)
        return;
    decoded += m_decoder.decodeWhole(bytes, entryCodePage(documentCodePage));
    bytes.clear();
    decoded.push_back(unit);
}

bool FontTableReader::groupEnd(bool entryGroup, int documentCodePage)
{
    if (entryGroup || !m_name.empty() || !m_nameDecoded.empty())
        return finish(documentCodePage);
    return false;
}

int FontTableReader::entryCodePage(int documentCodePage) const
{
    int codePage =
        m_font.codePage > 0 && CodePage::isSupported(m_font.codePage) ? m_font.codePage : 0;
    if (codePage == 0 && m_font.charset >= 0)
        codePage = CodePage::fromCharset(m_font.charset);
    return codePage != 0 ? codePage : documentCodePage;
}

bool FontTableReader::finish(int documentCodePage)
{
    bool finished = false;
    if (m_number >= 0) {
        Font font = m_font;
        font.alt = capped(QString::fromStdU16String(
                              m_altDecoded +
                              m_decoder.decodeWhole(m_alt, entryCodePage(documentCodePage))))
                       .trimmed();
        const QString name = capped(QString::fromStdU16String(
            m_nameDecoded + m_decoder.decodeWhole(m_name, entryCodePage(documentCodePage))));
        qsizetype begin = 0;
        qsizetype end = name.size();
        while (begin < end && name.at(begin) == u' ')
            ++begin;
        while (end > begin && name.at(end - 1) == u' ')
            --end;
        font.name = name.mid(begin, end - begin);
        m_tables.fonts[m_number] = font;
        finished = true;
    }
    m_number = -1;
    m_font = Font();
    m_part = Part::Name;
    m_alt.clear();
    m_altDecoded.clear();
    m_name.clear();
    m_nameDecoded.clear();
    return finished;
}

} // namespace Inkwell::Rtf
