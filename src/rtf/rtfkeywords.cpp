// Every keyword the reader acts on, bound to its handler in one table.
#include "rtf/rtfreaderimpl.h"

namespace Inkwell::Rtf::Reading {

// Every keyword the reader acts on, with its handler. Words not here are
// ignored, and so is the group of one that follows "\*". \bin never comes
// here: the tokenizer takes its data.
const std::unordered_map<std::string_view, const Reader::Keyword *> &Reader::keywords()
{
    // Short entries share a line.
    // clang-format off
    constexpr Handler underline = toggle<&CharProps::underline>;
    using Kind = Kept::Collector::Kind;
    constexpr Handler document = kept<Kind::Document>;
    constexpr Handler inlined = kept<Kind::Inline>;
    constexpr auto starredRead = Starred::Read;
    constexpr Handler listTable = [](Reader &r, Word) { r.m_state.dest = Dest::ListTable; };
    constexpr Handler levelNumberFormat = [](Reader &r, Word w) {
        if (r.inLists())
            r.m_listTable.numberFormat(w.param);
    };
    static const Keyword table[] = {
        // Destinations.
        {"fonttbl", [](Reader &r, Word) { r.fontTable(); }},
        {"colortbl", [](Reader &r, Word) { r.colorTable(); }},
        {"pict", [](Reader &r, Word) { r.picture(); }, Starred::Read},
        {"shppict", keep, Starred::Read}, {"fldrslt", keep, Starred::Read},
        {"field", [](Reader &r, Word) { r.m_kept.field(r.m_tokens.position()); }},
        {"object", keep}, {"result", keep},
        // Destinations whose text is not part of the document body. These
        // are kept and written back: the document's own, and those in the text.
        {"stylesheet", document}, {"info", document}, {"header", document},
        {"headerl", document}, {"headerr", document}, {"headerf", document},
        {"footer", document}, {"footerl", document}, {"footerr", document},
        {"footerf", document}, {"generator", document, starredRead},
        {"footnote", kept<Kind::Footnote>, starredRead}, {"bkmkstart", inlined, starredRead},
        {"bkmkend", inlined, starredRead}, {"fldinst", kept<Kind::FieldInstruction>, starredRead},
        {"shp", inlined},
        {"pntext", [](Reader &r, Word) { r.label(); }},
        {"listtext", [](Reader &r, Word) { r.label(); }}, {"objdata", skip},
        {"objclass", skip},
        {"objname", skip}, {"template", skip}, {"xe", skip}, {"tc", skip}, {"txe", skip},
        {"rxe", skip},
        // The lines above footnotes and endnotes, and what a note continued
        // on the next page says.
        {"ftnsep", document, starredRead}, {"ftnsepc", document, starredRead},
        {"ftncn", document, starredRead}, {"aftnsep", document, starredRead},
        {"aftnsepc", document, starredRead}, {"aftncn", document, starredRead},
        {"listtable", listTable, Starred::Read},
        {"listoverridetable", listTable, Starred::Read},
        {"revtbl", skip}, {"rsidtbl", skip}, {"nonshppict", skip}, {"nonesttables", skip},
        {"themedata", skip}, {"colorschememapping", skip}, {"latentstyles", skip},
        {"datastore", skip}, {"xmlnstbl", skip},
        {"annotation", skip}, {"atnid", skip}, {"atnauthor", skip}, {"atrfstart", skip},
        {"atrfend", skip}, {"atndate", skip}, {"atnref", skip},
        {"pgdsctbl", skip}, {"filetbl", skip}, {"mmathPr", skip}, {"author", skip}, {"title", skip},
        {"subject", skip}, {"operator", skip}, {"keywords", skip}, {"comment", skip},
        {"doccomm", skip}, {"company", skip}, {"manager", skip}, {"category", skip},
        {"userprops", skip}, {"docvar", skip}, {"fchars", skip}, {"lchars", skip}, {"pgptbl", skip},
        {"protusertbl", skip}, {"pnseclvl", skip},
        {"listpicture", skip}, {"shpinst", skip}, {"sp", skip}, {"sn", skip}, {"sv", skip},
        {"fname", skip},
        {"shprslt", skip}, {"do", skip}, {"blipuid", skip}, {"picprop", skip},
        // The font table inside {\upr} is read from its Unicode form.
        {"upr", [](Reader &r, Word) { if (r.inBody()) r.m_state.dest = Dest::Upr; }},
        {"ud", [](Reader &r, Word) { if (r.m_state.dest == Dest::Upr) r.m_state.dest = Dest::Body; },
         Starred::Read}, {"passwordhash", skip}, {"wgrffmtfilter", skip}, {"mmath", skip},
        {"ftnalt", skip}, {"fontemb", skip}, {"fontfile", skip}, {"private", skip},
        {"printim", skip}, {"buptim", skip}, {"creatim", skip}, {"revtim", skip},
        {"hlinkbase", skip}, {"linkval", skip}, {"oleclsid", skip}, {"ebcstart", skip},
        {"ebcend", skip}, {"formfield", skip}, {"gridtbl", skip},
        {"nesttableprops", [](Reader &r, Word) { r.m_state.nestProps = true; }, Starred::Read},
        // The header, the font and colour tables.
        {"ansicpg", [](Reader &r, Word w) { r.ansiCodePage(w.param); }},
        {"ansi", charset<1252>}, {"mac", charset<10000>}, {"pc", charset<437>},
        {"pca", charset<850>},
        {"deff", [](Reader &r, Word w) { r.m_tables.deff = w.param; }},
        {"fnil", fontFamily<"fnil">}, {"froman", fontFamily<"froman">},
        {"fswiss", fontFamily<"fswiss">}, {"fmodern", fontFamily<"fmodern">},
        {"fscript", fontFamily<"fscript">}, {"fdecor", fontFamily<"fdecor">},
        {"ftech", fontFamily<"ftech">}, {"fbidi", fontFamily<"fbidi">},
        {"fprq", [](Reader &r, Word w) {
             if (r.m_state.dest == Dest::FontTable)
                 r.m_fontTable.pitch(std::clamp(w.param, 0, 2));
         }},
        {"cpg", [](Reader &r, Word w) {
             if (r.m_state.dest == Dest::FontTable)
                 r.m_fontTable.codePage(std::clamp(w.param, 0, 65535));
         }},
        {"falt", fontPart<FontTableReader::Part::Alt>, Starred::Read},
        {"panose", fontPart<FontTableReader::Part::Panose>, Starred::Read},
        {"fcharset", [](Reader &r, Word w) {
             if (r.m_state.dest == Dest::FontTable)
                 r.m_fontTable.charset(w.param);
         }},
        {"red", [](Reader &r, Word w) { r.m_red = std::clamp(w.param, 0, 255); }},
        {"green", [](Reader &r, Word w) { r.m_green = std::clamp(w.param, 0, 255); }},
        {"blue", [](Reader &r, Word w) { r.m_blue = std::clamp(w.param, 0, 255); }},
        // Character formatting.
        {"f", [](Reader &r, Word w) { r.fontNumber(w.param); }},
        {"fs", [](Reader &r, Word w) { r.fontSize(w); }},
        {"b", toggle<&CharProps::bold>}, {"i", toggle<&CharProps::italic>},
        {"strike", toggle<&CharProps::strike>}, {"v", toggle<&CharProps::hidden>}, {"striked", toggle<&CharProps::strike>},
        {"super", [](Reader &r, Word) { r.props().script = 1; }},
        {"sub", [](Reader &r, Word) { r.props().script = -1; }},
        {"nosupersub", [](Reader &r, Word) { r.props().script = 0; }},
        // Raised and lowered text, 6 half-points when no number is given.
        {"up", [](Reader &r, Word w) {
             r.props().raise = short(std::clamp(w.hasParam ? w.param : 6, 0, maxRaise));
         }},
        {"dn", [](Reader &r, Word w) {
             r.props().raise = short(-std::clamp(w.hasParam ? w.param : 6, 0, maxRaise));
         }},
        {"lang", [](Reader &r, Word w) {
             r.props().language = w.hasParam ? std::clamp(w.param, 0, 0xffff) : -1;
         }},
        {"langfe", [](Reader &r, Word w) {
             r.props().eastAsianLanguage = w.hasParam ? std::clamp(w.param, 0, 0xffff) : -1;
         }},
        {"charscalex", [](Reader &r, Word w) {
             r.props().scale = short(w.param > 0 ? std::min(w.param, 600) : 100);
         }},
        {"ul", underline}, {"uld", underline}, {"uldb", underline}, {"ulw", underline},
        {"ulwave", underline}, {"uldash", underline}, {"uldashd", underline},
        {"uldashdd", underline}, {"ulth", underline}, {"ulthd", underline}, {"ulthdash", underline},
        {"ulthdashd", underline}, {"ulthdashdd", underline}, {"ulhwave", underline},
        {"ululdbwave", underline}, {"ulldash", underline}, {"ulthldash", underline},
        {"ulnone", [](Reader &r, Word) { r.props().underline = false; }},
        // \cf0 is the automatic colour, whatever entry 0 of the table says.
        {"cf", [](Reader &r, Word w) { r.props().color = w.param > 0 ? w.param : -1; }},
        {"plain", [](Reader &r, Word) { r.props() = CharProps(); }},
        // A run's background: \highlight (Word), \cb and \chcbpat (others).
        {"highlight", [](Reader &r, Word w) { r.props().highlight = w.param > 0 ? w.param : -1; }},
        {"cb", [](Reader &r, Word w) { r.props().highlight = w.param > 0 ? w.param : -1; }},
        {"chcbpat", [](Reader &r, Word w) { r.props().highlight = w.param > 0 ? w.param : -1; }},
        {"contextualspace", [](Reader &r, Word w) {
             r.para().contextualSpace = w.on();
             r.para().stated |= StyledContextual;
         }},
        {"cbpat", [](Reader &r, Word w) { r.para().shading = w.param > 0 ? w.param : -1; }},
        {"loch", runType<RunType::Loch>}, {"hich", runType<RunType::Hich>},
        {"dbch", runType<RunType::Dbch>},
        {"af", [](Reader &r, Word w) { r.associatedFont(w.param); }},
        // The associated size, bold and italic of \dbch text: what LibreOffice
        // writes for a Chinese heading.
        {"afs", [](Reader &r, Word w) { if (r.dbch()) r.fontSize(w); }},
        {"ab", [](Reader &r, Word w) { if (r.dbch()) r.props().bold = w.on(); }},
        {"ai", [](Reader &r, Word w) { if (r.dbch()) r.props().italic = w.on(); }},
        {"uc", [](Reader &r, Word w) { r.m_state.uc = std::clamp(w.param, 0, 100); }},
        {"u", [](Reader &r, Word w) { r.unicode(w.param); }},
        // Breaks and special characters.
        {"par", paragraphEnd}, {"sect", sectionBreak<true>}, {"page", sectionBreak<false>},
        {"sbknone", [](Reader &r, Word w) {
             r.m_pageBreak = false;
             if (r.inBody())
                 r.m_kept.documentWord("sbknone", w.param, w.hasParam);
         }},
        {"pagebb", [](Reader &r, Word w) { r.para().pageBreakBefore = w.on(); }},
        {"cell", cellEnd<false>}, {"nestcell", cellEnd<true>}, {"row", rowEnd<false>},
        {"nestrow", rowEnd<true>},
        // Paragraph formatting.
        {"pard", [](Reader &r, Word) {
             r.para() = ParaProps();
             r.paragraphStyle(0);
         }},
        {"s", [](Reader &r, Word w) { r.paragraphStyle(w.param); }},
        {"ql", alignment<Qt::AlignLeft>}, {"qc", alignment<Qt::AlignHCenter>},
        {"qr", alignment<Qt::AlignRight>}, {"qj", alignment<Qt::AlignJustify>},
        {"rtlpar", [](Reader &r, Word) { r.para().rightToLeft = true; }},
        {"ltrpar", [](Reader &r, Word) { r.para().rightToLeft = false; }},
        {"li", indent<&ParaProps::leftIndent>}, {"lin", indent<&ParaProps::leftIndent>},
        {"ri", paraValue<&ParaProps::rightIndent>}, {"rin", paraValue<&ParaProps::rightIndent>},
        {"fi", indent<&ParaProps::firstIndent>}, {"sb", paraValue<&ParaProps::spaceBefore>},
        {"sa", paraValue<&ParaProps::spaceAfter>},
        {"sl", [](Reader &r, Word w) {
             paraValue<&ParaProps::lineSpacing>(r, w);
             r.para().stated |= StyledLine;
         }},
        {"slmult", [](Reader &r, Word w) {
             r.para().lineMultiple = w.on();
             r.para().stated |= StyledLine;
         }},
        // A cell's paragraph in a table with a table style takes what it
        // does not state from that style, not from style 0 (so Word's
        // tables stand single-spaced under a Normal style that is not).
        {"yts", [](Reader &r, Word w) { r.tableStyled(w.param); }},
        {"tx", [](Reader &r, Word w) { r.tabStop(w.param, false); }},
        {"tb", [](Reader &r, Word w) { r.tabStop(w.param, true); }},
        {"tqr", tabType<QTextOption::RightTab>}, {"tqc", tabType<QTextOption::CenterTab>},
        {"tqdec", tabType<QTextOption::DelimiterTab>},
        {"intbl", [](Reader &r, Word w) { r.para().inTable = w.on(); }},
        {"itap", [](Reader &r, Word w) { r.para().nesting = std::clamp(w.param, 0, 1000); }},
        {"ls", [](Reader &r, Word w) {
             if (r.inLists())
                 r.m_listTable.overrideNumber(w.param);
             else
                 r.para().listOverride = std::max(w.param, 0);
         }},
        {"ilvl", [](Reader &r, Word w) { r.para().listLevel = std::clamp(w.param, 0, 8); }},
        // Lists.
        {"list", [](Reader &r, Word) {
             if (r.inLists()) {
                 r.m_state.ownsList = true;
                 r.m_listTable.list();
             }
         }},
        {"listoverride", [](Reader &r, Word) {
             if (r.inLists()) {
                 r.m_state.ownsOverride = true;
                 r.m_listTable.listOverride();
             }
         }},
        {"listid", [](Reader &r, Word w) { if (r.inLists()) r.m_listTable.listId(w.param); }},
        {"lfolevel", [](Reader &r, Word) { if (r.inLists()) r.m_listTable.overrideLevel(); }},
        {"listlevel", [](Reader &r, Word) { if (r.inLists()) r.m_listTable.level(); }},
        {"levelnfc", levelNumberFormat}, {"levelnfcn", levelNumberFormat},
        {"levelstartat", [](Reader &r, Word w) { if (r.inLists()) r.m_listTable.startAt(w.param); }},
        {"levelfollow", [](Reader &r, Word w) { if (r.inLists()) r.m_listTable.follow(w.param); }},
        {"leveltext", [](Reader &r, Word) {
             if (r.inLists()) {
                 r.m_state.dest = Dest::LevelText;
                 r.m_state.ownsLevelText = true;
                 r.m_listTable.levelText();
             }
         }},
        {"pn", [](Reader &r, Word) { r.oldNumberingGroup(); }, Starred::Read},
        {"pntxta", pnText<true>}, {"pntxtb", pnText<false>},
        {"pnlvlblt", [](Reader &r, Word) { pnLevel(r, 0, true); }},
        {"pnlvlbody", [](Reader &r, Word) { pnLevel(r, 0, false); }},
        {"pnlvl", [](Reader &r, Word w) { pnLevel(r, w.param > 0 ? w.param - 1 : -1, false); }},
        {"pndec", pnStyle<QTextListFormat::ListDecimal>},
        {"pnf", [](Reader &r, Word w) {
             if (r.m_state.dest != Dest::PnDef)
                 return;
             const auto font = r.m_tables.fonts.find(w.param);
             r.m_pn.font(font != r.m_tables.fonts.end() ? font->second.name : QString());
         }},
        {"pnucltr", pnStyle<QTextListFormat::ListUpperAlpha>},
        {"pnlcltr", pnStyle<QTextListFormat::ListLowerAlpha>},
        {"pnucrm", pnStyle<QTextListFormat::ListUpperRoman>},
        {"pnlcrm", pnStyle<QTextListFormat::ListLowerRoman>},
        {"pnstart", [](Reader &r, Word w) {
             if (r.m_state.dest == Dest::PnDef)
                 r.m_pn.start(w.param);
         }},
        // Table rows.
        {"trowd", [](Reader &r, Word) { r.rowDefinition(); }},
        {"cellx", [](Reader &r, Word w) { r.cellBoundary(w.param); }},
        {"trgaph", [](Reader &r, Word w) { r.rowDef().gap = w.param; }},
        {"trleft", [](Reader &r, Word w) { r.rowDef().left = w.param; }},
        {"trrh", [](Reader &r, Word w) {
             r.rowDef().height = std::clamp(w.param, -maxRowTwips, maxRowTwips);
         }},
        {"clmgf", [](Reader &r, Word) { r.rowDef().next.hmerge = 1; }},
        {"clmrg", [](Reader &r, Word) { r.rowDef().next.hmerge = 2; }},
        {"clvmgf", [](Reader &r, Word) { r.rowDef().next.vmerge = 1; }},
        {"clvmrg", [](Reader &r, Word) { r.rowDef().next.vmerge = 2; }},
        {"clcbpat", cellValue<&CellDef::pattern>}, {"clshdng", cellValue<&CellDef::shading>},
        {"clvertalt", cellAlignment<0>}, {"clvertalc", cellAlignment<1>},
        {"clvertalb", cellAlignment<2>},
        // Word writes a cell's left padding as \clpadt and its top padding
        // as \clpadl, and every reader that matters (Word, LibreOffice)
        // reads them so: the padding sides are 0 top, 1 left, 2 bottom,
        // 3 right.
        {"clpadt", cellPadding<1>}, {"clpadl", cellPadding<0>}, {"clpadb", cellPadding<2>},
        {"clpadr", cellPadding<3>}, {"clpadft", cellPaddingUnit<1>},
        {"clpadfl", cellPaddingUnit<0>}, {"clpadfb", cellPaddingUnit<2>},
        {"clpadfr", cellPaddingUnit<3>},
        {"clbrdrt", borderOf<BorderOf::Cell, TopSide>},
        {"clbrdrl", borderOf<BorderOf::Cell, LeftSide>},
        {"clbrdrb", borderOf<BorderOf::Cell, BottomSide>},
        {"clbrdrr", borderOf<BorderOf::Cell, RightSide>},
        {"trbrdrt", borderOf<BorderOf::Row, TopSide>},
        {"trbrdrl", borderOf<BorderOf::Row, LeftSide>},
        {"trbrdrb", borderOf<BorderOf::Row, BottomSide>},
        {"trbrdrr", borderOf<BorderOf::Row, RightSide>},
        {"trbrdrh", borderOf<BorderOf::Row, InsideHorizontal>},
        {"trbrdrv", borderOf<BorderOf::Row, InsideVertical>},
        {"brdrt", borderOf<BorderOf::Paragraph, TopSide>},
        {"brdrb", borderOf<BorderOf::Paragraph, BottomSide>},
        {"brdrl", borderOf<BorderOf::Paragraph, LeftSide>},
        {"brdrr", borderOf<BorderOf::Paragraph, RightSide>},
        {"box", borderOf<BorderOf::Paragraph, AllSides>},
        {"brdrbox", borderOf<BorderOf::Other>},
        {"brdrbtw", borderOf<BorderOf::Other>}, {"brdrbar", borderOf<BorderOf::Other>},
        {"chbrdr", borderOf<BorderOf::Other>},
        {"brdrnone", [](Reader &r, Word) { r.borderStyle(false); }},
        {"brdrs", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrth", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrsh", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrdb", [](Reader &r, Word) { r.borderStyle(true, LineStyle::Double); }},
        {"brdrdot", [](Reader &r, Word) { r.borderStyle(true, LineStyle::Dotted); }},
        {"brdrdash", [](Reader &r, Word) { r.borderStyle(true, LineStyle::Dashed); }},
        {"brdrw", [](Reader &r, Word w) {
             r.changeLines([&](BorderLine &line) {
                 line.width = std::clamp(w.param, 0, maxBorderTwips);
             });
         }},
        {"brsp", [](Reader &r, Word w) {
             r.changeLines([&](BorderLine &line) { line.space = std::clamp(w.param, 0, 1440); });
         }},
        {"brdrcf", [](Reader &r, Word w) {
             r.changeLines([&](BorderLine &line) { line.colour = std::max(w.param, 0); });
         }},
        {"brdrhair", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrtriple", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdrinset", [](Reader &r, Word) { r.borderStyle(true); }},
        {"brdroutset", [](Reader &r, Word) { r.borderStyle(true); }},
        {"chftn", [](Reader &r, Word) { r.footnoteMark(); }},
        {"line", put<0x2028>}, {"tab", put<u'\t'>}, {"emdash", put<0x2014>},
        {"endash", put<0x2013>}, {"emspace", put<0x2003>}, {"enspace", put<0x2002>},
        {"qmspace", put<0x2005>}, {"bullet", put<0x2022>}, {"lquote", put<0x2018>},
        {"rquote", put<0x2019>}, {"ldblquote", put<0x201C>}, {"rdblquote", put<0x201D>},
        {"zwj", put<0x200D>}, {"zwnj", put<0x200C>}, {"ltrmark", put<0x200E>},
        {"rtlmark", put<0x200F>}, {"zwbo", put<0x200B>}, {"zwnbo", put<0xFEFF>},
        // Pictures.
        {"pngblip", pictKind<PictKind::Png>}, {"jpegblip", pictKind<PictKind::Jpeg>},
        {"dibitmap", pictKind<PictKind::Dib>}, {"wbitmap", pictKind<PictKind::Wbitmap>},
        {"wmetafile", metafile<"wmetafile">}, {"emfblip", metafile<"emfblip">},
        {"macpict", metafile<"macpict">}, {"pmmetafile", metafile<"pmmetafile">},
        {"picw", pictValue<&Pict::picw>}, {"pich", pictValue<&Pict::pich>},
        {"picwgoal", pictValue<&Pict::goalw>}, {"pichgoal", pictValue<&Pict::goalh>},
        {"picscalex", pictValue<&Pict::scalex>}, {"picscaley", pictValue<&Pict::scaley>},
        {"wbmbitspixel", pictValue<&Pict::bitsPixel>},
        {"wbmwidthbytes", pictValue<&Pict::widthBytes>},
    };
    // clang-format on
    static const auto byWord = [] {
        std::unordered_map<std::string_view, const Keyword *> map;
        for (const Keyword &keyword : table)
            map.emplace(keyword.word, &keyword);
        return map;
    }();
    return byWord;
}

} // namespace Inkwell::Rtf::Reading
