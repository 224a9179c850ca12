#include "rtf/rtffonttable.h"

#include "platform/codepage.h"
#include "rtf/rtftextruns.h"

#include <QString>

namespace Inkwell::Rtf {

void FontTableReader::begin()
{
    m_number = -1;
    m_name.clear();
    m_nameDecoded.clear();
}

bool FontTableReader::entry(int number, int documentCodePage)
{
    bool finished = false;
    if (!m_name.empty())
        finished = finish(documentCodePage);
    m_number = number;
    m_charset = -1;
    m_name.clear();
    m_nameDecoded.clear();
    return finished;
}

bool FontTableReader::byte(unsigned char byte, int documentCodePage)
{
    if (byte == ';')
        return finish(documentCodePage);
    if (m_name.size() < 1024)
        m_name.push_back(char(byte));
    return false;
}

void FontTableReader::unit(char16_t unit, int documentCodePage)
{
    if (m_nameDecoded.size() >= 1024)
        return;
    m_nameDecoded += m_decoder.decodeWhole(m_name, entryCodePage(documentCodePage));
    m_name.clear();
    m_nameDecoded.push_back(unit);
}

bool FontTableReader::groupEnd(bool entryGroup, int documentCodePage)
{
    if (entryGroup || !m_name.empty() || !m_nameDecoded.empty())
        return finish(documentCodePage);
    return false;
}

int FontTableReader::entryCodePage(int documentCodePage) const
{
    const int codePage = m_charset >= 0 ? CodePage::fromCharset(m_charset) : 0;
    return codePage != 0 ? codePage : documentCodePage;
}

bool FontTableReader::finish(int documentCodePage)
{
    bool finished = false;
    if (m_number >= 0) {
        Font font;
        font.charset = m_charset;
        const QString name = QString::fromStdU16String(
            m_nameDecoded + m_decoder.decodeWhole(m_name, entryCodePage(documentCodePage)));
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
    m_charset = -1;
    m_name.clear();
    m_nameDecoded.clear();
    return finished;
}

} // namespace Inkwell::Rtf
