// The readers of list definitions: the list table with its override table,
// and the older paragraph numbering of a {\*\pn ...} group.
#pragma once

#include "rtf/rtfstructure.h"

#include <array>
#include <string>

namespace Inkwell::Rtf {

// The Unicode character of a bullet written with a symbol font's code.
char16_t unicodeBullet(char16_t c);
// What a bullet level whose text is `c` shows: its style, and the bullet
// itself where no style draws it (empty otherwise).
struct BulletLook {
    QTextListFormat::Style style = QTextListFormat::ListDisc;
    QString own;
    bool operator==(const BulletLook &) const = default;
};
BulletLook bulletLook(char16_t c);

// {\*\listtable {\list {\listlevel ...}... \listidN}} and
// {\*\listoverridetable {\listoverride \listidN \lsM}}.
class ListTableReader {
public:
    explicit ListTableReader(ListDefinitions &lists) : m_lists(lists) {}

    void list();          // {\list: its levels follow
    void listOverride();  // {\listoverride
    void overrideLevel(); // {\lfolevel: the override's next level
    void listId(int id) { m_listId = id; }
    void overrideNumber(int number) { m_overrideNumber = number; }
    void level(); // {\listlevel: the next level
    void startAt(int number);
    void follow(int what);
    void font(const QString &name); // \fN in a level
    void numberFormat(int nfc);
    void levelText() { m_levelText.clear(); } // {\leveltext
    // A character of the level text (\'xx bytes are characters too).
    void levelTextUnit(char16_t unit)
    {
        if (m_levelText.size() < 256)
            m_levelText.push_back(unit);
    }
    // The groups opened by the calls above close.
    void endLevelText();
    void endList();
    void endOverride();

private:
    ListLevel *current();

    ListDefinitions &m_lists;
    std::array<ListLevel, 9> m_levels;
    int m_levelIndex = -1; // the \listlevel being read
    int m_listId = 0;
    int m_overrideNumber = 0;
    bool m_inOverride = false;
    int m_overrideLevel = -1; // the \lfolevel being read
    std::array<int, 9> m_overrideStarts{};
    std::u16string m_levelText;
};

// {\*\pn \pnlvlN \pndec {\pntxtb (}{\pntxta )}}: one level carried by the
// paragraph it stands in.
class OldNumberingReader {
public:
    void begin();
    void level(int level, bool bullet);
    void style(QTextListFormat::Style style) { m_style = style; }
    void start(int number) { m_numbering.look.start = std::clamp(number, 0, 32767); }
    void font(const QString &name) { m_font = name; } // \pnf
    // A character of {\pntxta} (after the number) or {\pntxtb} (before it).
    void text(bool after, char16_t c);
    // The group closes: the numbering it defined.
    OldNumbering finish() const;

private:
    OldNumbering m_numbering;
    QTextListFormat::Style m_style = QTextListFormat::ListDecimal;
    bool m_bullet = false;
    QString m_font;
};

} // namespace Inkwell::Rtf
