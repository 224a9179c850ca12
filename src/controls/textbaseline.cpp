#include "controls/textbaseline.h"

namespace Inkwell {

namespace {
constexpr auto algorithm = QCryptographicHash::Blake2b_256;
}

QByteArray TextBaseline::digestOf(QStringView text)
{
    QCryptographicHash hash(algorithm);
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(text.utf16()), text.size() * 2));
    return hash.result();
}

TextBaseline &TextBaseline::operator=(const QString &text)
{
    m_building.reset();
    m_length = text.size();
    m_whole = m_length <= keptWhole;
    m_text = m_whole ? text : QString();
    m_digest = m_whole ? QByteArray() : digestOf(text);
    return *this;
}

void TextBaseline::begin()
{
    *this = QString();
    m_building = std::make_unique<QCryptographicHash>(algorithm);
}

void TextBaseline::append(QStringView piece)
{
    if (!m_building)
        begin();
    m_building->addData(QByteArrayView(reinterpret_cast<const char *>(piece.utf16()), piece.size() * 2));
    m_length += piece.size();
    if (m_whole) {
        if (m_length <= keptWhole)
            m_text.append(piece);
        else
            m_whole = false, m_text.clear();
    }
}

void TextBaseline::finish()
{
    if (m_building)
        m_digest = m_whole ? QByteArray() : m_building->result();
    m_building.reset();
    if (!m_whole)
        m_text.clear();
}

bool TextBaseline::matches(const QString &text) const
{
    if (text.size() != m_length)
        return false;
    return m_whole ? text == m_text : digestOf(text) == m_digest;
}

} // namespace Inkwell
