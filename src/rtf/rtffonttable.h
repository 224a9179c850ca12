// The reader of the font table: one {\fN ... name;} entry after another.
// Each entry's name is decoded in the code page its \fcharset names.
#pragma once

#include "rtf/rtfdecoder.h"
#include "rtf/rtftextruns.h"

#include <cstdint>

#include <string>

namespace Inkwell::Rtf {

class FontTableReader {
public:
    FontTableReader(Tables &tables, Decoder &decoder) : m_tables(tables), m_decoder(decoder) {}

    // {\fonttbl: no entry is open.
    void begin();
    // \fN inside the table: a new entry. `documentCodePage` decodes a name
    // whose charset says nothing; returns true when an entry was finished.
    bool entry(int number, int documentCodePage);
    void charset(int charset) { m_font.charset = charset; }
    void family(const char *word) { m_font.family = word; }
    void pitch(int pitch) { m_font.pitch = pitch; }
    void codePage(int codePage) { m_font.codePage = codePage; }
    // {\*\falt} and {\*\panose} inside an entry: their text is theirs
    // until the group ends.
    enum class Part : std::uint8_t { Name, Alt, Panose };
    void beginPart(Part part) { m_part = part; }
    void endPart() { m_part = Part::Name; }
    // A byte of the name; ';' ends the entry (true: one was finished).
    bool byte(unsigned char byte, int documentCodePage);
    void hexByte(unsigned char byte);
    // A \uN in a name: what its bytes said so far is decoded first.
    void unit(char16_t unit, int documentCodePage);
    // An entry's group closes: what was read of it is an entry. True when
    // one was finished.
    bool groupEnd(bool entryGroup, int documentCodePage);

private:
    bool finish(int documentCodePage);
    int entryCodePage(int documentCodePage) const;

    Tables &m_tables;
    Decoder &m_decoder;
    int m_number = -1;
    Font m_font; // what the entry said besides its name
    Part m_part = Part::Name;
    std::string m_alt; // the alternative's bytes since its last \uN
    std::u16string m_altDecoded;
    std::string m_name;           // the entry's bytes since its last \uN
    std::u16string m_nameDecoded; // what came before them, decoded
};

} // namespace Inkwell::Rtf
