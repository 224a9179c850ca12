// Every property Inkwell keeps in a QTextFormat beyond Qt's own, in one
// place, so that no two share a number. Each says which format holds it and
// the type of its value.
#pragma once

#include <QTextFormat>

namespace Inkwell {

// QTextListFormat (int): the number a list counts from when it is not 1:
// Qt 6.4's list format has no start of its own.
inline constexpr int listStartProperty = QTextFormat::UserProperty + 0x101;
// QTextListFormat (int): the items other readers count before the list's
// first one: Word and LibreOffice count a level whose first item follows
// items of a deeper level of the same list from its second number, as if
// those items had a parent. Shown, not written: the file says so already.
inline constexpr int listImpliedItemsProperty = QTextFormat::UserProperty + 0x104;
// QTextListFormat (QString): a bullet list's own bullet character when it is
// not the one its style draws ("–", "✓"), written back as read.
inline constexpr int listBulletProperty = QTextFormat::UserProperty + 0x102;
// QTextListFormat (int): what follows a level's number (\levelfollow): 1 a
// space, 2 nothing; unset, a tab. Written back as read.
inline constexpr int listFollowProperty = QTextFormat::UserProperty + 0x103;
// QTextListFormat (int): the chain a long list's part belongs to. Qt marks
// every item of a list changed each time an item joins it, so a list of n
// items costs n² to build: a long list is held as parts of a few hundred
// items, one QTextList each, that share this number (unique in the
// process). The parts number on as one list and are written as one.
inline constexpr int listChainProperty = QTextFormat::UserProperty + 0x105;
// QTextListFormat (QString): a bullet level's font (\fN in its
// \listlevel) followed by its bullet character as the file has it (a symbol
// font's code, U+F0B7 or the byte 0xB7), written back: other readers
// draw Symbol's and Wingdings' bullets from those fonts. The window shows
// the Unicode character the code stands for.
inline constexpr int listBulletAsReadProperty = QTextFormat::UserProperty + 0x106;

// QTextBlockFormat (QString): the lines of a paragraph's box (\brdrt, \brdrl,
// \brdrb, \brdrr), which Qt cannot draw, written back as read: per side
// "<t|l|b|r><style>,<twips>,<#rrggbb or nothing>,<space twips>" joined by ";" (see
// rtf/rtfstructure.h for the styles).
inline constexpr int paragraphBordersProperty = QTextFormat::UserProperty + 0x121;
// QTextBlockFormat (bool): no space between this paragraph and one of the
// same style (\contextualspace), written back as read.
inline constexpr int contextualSpaceProperty = QTextFormat::UserProperty + 0x122;

// QTextBlockFormat (QByteArray): the section break before this paragraph as
// read: \sect, then the new section's words (columns, page, break kind) and
// its headers and footers, in the kept groups' numbering (see rtf/rtfkept.h),
// written back before the paragraph. The window shows a section as one column.
inline constexpr int sectionBreakProperty = QTextFormat::UserProperty + 0x123;
// QTextBlockFormat (int): which section break of the file read that is,
// counted from 1. A paragraph split off a section's first one (Enter) takes
// its format along; the break is written before the first of them only.
inline constexpr int sectionNumberProperty = QTextFormat::UserProperty + 0x124;

// QTextBlockFormat (QString, int): the font family and the size in
// half-points of an empty paragraph's mark as read, which give the empty line
// its height in other readers: written back while the paragraph is empty.
inline constexpr int markFamilyProperty = QTextFormat::UserProperty + 0x125;
inline constexpr int markHalfPointsProperty = QTextFormat::UserProperty + 0x126;
// QTextBlockFormat (bool): an empty paragraph the file had right before a
// table that begins the document or a cell. Qt keeps an empty paragraph
// there in any case, which is not written; this one is.
inline constexpr int ownParagraphProperty = QTextFormat::UserProperty + 0x127;
// QTextBlockFormat (QByteArray): RTF kept as read (see rtf/rtfkept.h) that
// no character followed, in a last paragraph with none: hidden text, for one.
// Written back before the paragraph's mark.
inline constexpr int keptMarkProperty = QTextFormat::UserProperty + 0x128;
// QTextBlockFormat (QString): a list item's own left and first-line indents
// in twips as the file stated them ("<li>,<fi>"), which other readers take
// over those of its level. The window indents the item by its level;
// written back as read.
inline constexpr int listItemIndentsProperty = QTextFormat::UserProperty + 0x129;
// QTextBlockFormat (int): the paragraph style (\s) of the file's style sheet
// the paragraph named, other than style 0. Other readers compare it for
// contextual spacing and take some words from the style: written back while
// the style sheet is kept.
inline constexpr int paragraphStyleProperty = QTextFormat::UserProperty + 0x12a;
// QTextBlockFormat (QString): the space before and after the paragraph in
// twips as the file stated them ("<sb>,<sa>"), where the window shows less:
// other readers leave it out next to a paragraph of the same style when the
// paragraph asks for contextual spacing, which Qt cannot. Written back.
inline constexpr int statedSpacingProperty = QTextFormat::UserProperty + 0x12b;

// QTextBlockFormat (int): a paragraph that continues the line of the one
// before it, held in pieces (see documenttext.h).
inline constexpr int softBreakProperty = QTextFormat::UserProperty + 0x120;

// QTextTableCellFormat (int): the width in twips a cell's top, left, bottom
// and right border had in the file (\brdrw), at this number and the three
// after it, in that order; 0: none stated. The line shown is at least a
// pixel wide, a double one three.
inline constexpr int cellBorderTwipsProperty = QTextFormat::UserProperty + 0x140;
// QTextTableFormat (int): the width in twips every line of a table drawn as
// a whole grid had in the file (\brdrw10, Word's half point, say): the grid
// is shown a pixel wide and written back as stated.
inline constexpr int tableBorderTwipsProperty = QTextFormat::UserProperty + 0x144;

// QTextTableCellFormat (bool): a place of the table's grid past the end of
// its row: the file's row has no cell there (its rows end at different
// boundaries). Written back as no cell while it stays empty.
inline constexpr int cellOutsideRowProperty = QTextFormat::UserProperty + 0x148;

// QTextTableCellFormat (int): the height of the row the cell begins in, in
// twips, as the file gave it (\trrh): more than 0 at least that high, less
// than 0 exactly that high. Each cell that begins in the row holds it, so
// that it stays with the row while cells are edited; the first one's is
// written back. The window shows the row at least that high, and higher
// where its content needs more: Qt cannot cut a row off.
inline constexpr int rowHeightProperty = QTextFormat::UserProperty + 0x149;
// QTextTableCellFormat (double): the padding below the cell's text as the
// file gave it, in pixels, where the window shows more so that the row is as
// high as its height asks (see rowHeightProperty); less than 0: the cell had
// none of its own. The writer writes this one.
inline constexpr int statedBottomPaddingProperty = QTextFormat::UserProperty + 0x14a;

// QTextTableFormat (double): what the window added to the table's bottom
// margin for the empty line after it, which Qt does not show (see
// core/tablegaps.h). Not the file's: never written.
inline constexpr int tableGapProperty = QTextFormat::UserProperty + 0x14e;

// QTextCharFormat (int): how far the text is raised (\up, > 0) or lowered
// (\dn, < 0), in half-points. The window shows it as a baseline offset,
// a share of the font's height, which does not give the half-points back.
inline constexpr int charRaiseProperty = QTextFormat::UserProperty + 0x150;
// QTextCharFormat (int): the run's language (\lang) and its East-Asian
// text's (\langfe), Windows language ids, written back as read: other
// readers choose fonts for the text by them (Japanese text in a Japanese
// font's shapes, not Chinese ones) and check its spelling.
inline constexpr int charLanguageProperty = QTextFormat::UserProperty + 0x152;
inline constexpr int charEastAsianLanguageProperty = QTextFormat::UserProperty + 0x153;
// QTextCharFormat or QTextBlockFormat (QStringList): the text boxes of the
// shapes a character's kept groups (or a paragraph mark's) hold, as the view
// draws them (see core/textboxes.h). Worked out after a read; the shapes
// themselves are written from the kept groups.
inline constexpr int textBoxProperty = QTextFormat::UserProperty + 0x151;

// QTextCharFormat: RTF kept as read and written back (see rtf/rtfkept.h).
// Raw RTF written before the character that carries it (QByteArray).
inline constexpr int keptBeforeProperty = QTextFormat::UserProperty + 0x301;
// A field's {\*\fldinst ...} group on each character of its result (QByteArray).
inline constexpr int keptFieldProperty = QTextFormat::UserProperty + 0x302;
// Raw RTF written after the character: groups nothing followed (QByteArray).
inline constexpr int keptAfterProperty = QTextFormat::UserProperty + 0x303;
// The number shown for an automatic footnote mark (QString); the writer
// writes the mark itself, so that the number follows the footnotes.
inline constexpr int footnoteMarkProperty = QTextFormat::UserProperty + 0x304;
// An int made from the values above. QTextFormat hashes a QByteArray
// property by its type alone, so without it every character holding a
// different group would share one hash and each new format would be
// compared with all of them: reading thousands of bookmarks took minutes.
inline constexpr int keptHashKeyProperty = QTextFormat::UserProperty + 0x305;

} // namespace Inkwell
