// Real rich documents (Word, WordPad, LibreOffice) opened and saved as RTF:
// LibreOffice, as an outside reader, must find at least as much structure in
// the saved copy as in the original, and the copy must read back to the same
// text. The structure counts come from the corpus's own structure.sh, run
// once over every original and every copy (soffice starts slowly).
#include "core/documenttext.h"
#include "core/textencoding.h"
#include "document/documentfile.h"
#include "support/files.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

// The keys structure.sh prints, in its order.
const QStringList structureKeys = {
    QStringLiteral("table"),   QStringLiteral("cell"),   QStringLiteral("list-item"),
    QStringLiteral("centred"), QStringLiteral("right"),  QStringLiteral("picture"),
    QStringLiteral("header"),  QStringLiteral("footer"), QStringLiteral("bold"),
    QStringLiteral("italic"),
};

using Counts = QHash<QString, int>;

QString richCorpusDir()
{
    const QString shared = qEnvironmentVariable("INKWELL_SHARED_DIR");
    if (shared.isEmpty())
        return {};
    const QDir dir(shared + QStringLiteral("/corpus/rtf-rich"));
    return dir.exists() ? dir.absolutePath() : QString();
}

// What a save of the file writes, after opening it as the editor does.
QByteArray savedCopyOf(const QByteArray &original)
{
    QTextDocument document;
    parseRtf(original, document);
    return serialize(document, TextEncoding::forNewDocument(), FileFormat::Rtf).bytes;
}

QString textOf(const QByteArray &rtf)
{
    QTextDocument document;
    parseRtf(rtf, document);
    return plainTextOf(document);
}

// Parses structure.sh's output for many files: "# PATH" then "key count"
// lines, or "error: not loaded".
QHash<QString, Counts> parseStructure(const QString &output)
{
    QHash<QString, Counts> result;
    QString current;
    const QStringList lines = output.split(u'\n');
    for (const QString &line : lines) {
        if (line.startsWith(QStringLiteral("# "))) {
            current = QFileInfo(line.mid(2).trimmed()).absoluteFilePath();
            continue;
        }
        const QStringList parts = line.split(u' ', Qt::SkipEmptyParts);
        bool ok = false;
        const int count = parts.size() == 2 ? parts[1].toInt(&ok) : 0;
        if (!current.isEmpty() && ok && structureKeys.contains(parts[0]))
            result[current].insert(parts[0], count);
    }
    return result;
}

// Occurrences of a control word (not a longer word that begins with it).
int controlWordCount(const QByteArray &rtf, const char *word)
{
    const QRegularExpression pattern(QStringLiteral("\\\\%1(?![a-zA-Z])").arg(QLatin1String(word)));
    const QString text = QString::fromLatin1(rtf);
    int count = 0;
    for (auto it = pattern.globalMatch(text); it.hasNext(); it.next())
        ++count;
    return count;
}

// Header and footer groups before the first \sect; -1 when there is none.
int headersBeforeFirstSection(const QByteArray &rtf)
{
    static const QRegularExpression sect(QStringLiteral("\\\\sect(?![a-zA-Z])"));
    static const QRegularExpression group(
        QStringLiteral("\\{\\\\(header|footer)[lrf]?(?![a-zA-Z])"));
    const QString text = QString::fromLatin1(rtf);
    const qsizetype end = text.indexOf(sect);
    if (end < 0)
        return -1;
    int count = 0;
    for (auto it = group.globalMatch(text.left(end)); it.hasNext(); it.next())
        ++count;
    return count;
}

int justifiedParagraphs(const QByteArray &rtf)
{
    QTextDocument document;
    parseRtf(rtf, document);
    int count = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        count += (block.blockFormat().alignment() & Qt::AlignHorizontal_Mask) == Qt::AlignJustify;
    return count;
}

// The colour table's entries as "#rrggbb", entry 0 "auto".
QStringList colourTable(const QByteArray &rtf)
{
    QStringList colours;
    const qsizetype start = rtf.indexOf("{\\colortbl");
    const qsizetype end = start < 0 ? -1 : rtf.indexOf('}', start);
    if (end < 0)
        return colours;
    static const QRegularExpression value(QStringLiteral(R"(\\(red|green|blue)(\d+))"));
    const QStringList entries =
        QString::fromLatin1(rtf.mid(start + 10, end - start - 10)).split(u';');
    for (qsizetype i = 0; i + 1 < entries.size(); ++i) {
        int rgb[3] = {0, 0, 0};
        bool any = false;
        for (auto it = value.globalMatch(entries[i]); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            const int channel = match.captured(1) == QLatin1String("red")     ? 0
                                : match.captured(1) == QLatin1String("green") ? 1
                                                                              : 2;
            rgb[channel] = match.captured(2).toInt();
            any = true;
        }
        colours << (any ? QColor(rgb[0], rgb[1], rgb[2]).name() : QStringLiteral("auto"));
    }
    return colours;
}

// Each different look of a cell's border lines: its style word and colour.
QSet<QString> cellBorderLooks(const QByteArray &rtf)
{
    const QStringList colours = colourTable(rtf);
    static const QRegularExpression line(
        QStringLiteral(R"(\\clbrdr[tlbr]((?:\\brdr[a-z]+-?\d*)+))"));
    static const QRegularExpression style(QStringLiteral(R"(\\(brdr(?!w|cf)[a-z]+))"));
    static const QRegularExpression colour(QStringLiteral(R"(\\brdrcf(\d+))"));
    QSet<QString> looks;
    const QString text = QString::fromLatin1(rtf);
    for (auto it = line.globalMatch(text); it.hasNext();) {
        const QString words = it.next().captured(1);
        const QString name = style.match(words).captured(1);
        if (name.isEmpty() || name == QLatin1String("brdrnone") || name == QLatin1String("brdrtbl"))
            continue;
        const QRegularExpressionMatch index = colour.match(words);
        const int at = index.hasMatch() ? index.captured(1).toInt() : 0;
        looks << name + u' ' + (at < colours.size() ? colours[at] : QStringLiteral("auto"));
    }
    return looks;
}

} // namespace

class TestRichCorpus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void structure_data();
    void structure();
    void text_data();
    void text();
    void uncounted_data();
    void uncounted();
    void resave_data();
    void resave();
    void fontCharsets_data();
    void fontCharsets();
    void cellBorders_data();
    void cellBorders();

private:
    void addFileRows();
    QString copyPath(const QString &original) const;

    QString m_corpus;
    QStringList m_originals;
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/tst_richcorpus-XXXXXX")};
    QString m_structureSkip; // why the LibreOffice counts are not available
    QString m_structureError;
    QHash<QString, Counts> m_counts;
};

QString TestRichCorpus::copyPath(const QString &original) const
{
    // A different base name from the original's: structure.sh converts every
    // file into one folder, named after the base name. INKWELL_CORPUS_COPIES
    // names a folder that keeps the copies, to compare them by eye.
    const QString kept = qEnvironmentVariable("INKWELL_CORPUS_COPIES");
    return QDir(kept.isEmpty() ? m_dir.path() : kept)
        .filePath(QFileInfo(original).completeBaseName() + QStringLiteral(".saved.rtf"));
}

void TestRichCorpus::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_corpus = richCorpusDir();
    if (m_corpus.isEmpty())
        return; // every test skips, saying so
    const QDir dir(m_corpus);
    for (const QString &name : dir.entryList({QStringLiteral("*.rtf")}, QDir::Files, QDir::Name))
        m_originals << dir.absoluteFilePath(name);

    QStringList files;
    for (const QString &original : std::as_const(m_originals)) {
        const QByteArray bytes = fileBytes(original);
        QVERIFY2(!bytes.isEmpty(), qPrintable(original));
        QFile copy(copyPath(original));
        QVERIFY(copy.open(QIODevice::WriteOnly));
        QVERIFY(copy.write(savedCopyOf(bytes)) > 0);
        copy.close();
        files << original << copy.fileName();
    }

    const QString script = dir.filePath(QStringLiteral("structure.sh"));
    const QString bash = QStandardPaths::findExecutable(QStringLiteral("bash"));
    if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
        m_structureSkip = QStringLiteral("soffice (LibreOffice) is not installed: the structure "
                                         "of the saved copies is not compared");
    else if (!QFile::exists(script) || bash.isEmpty())
        m_structureSkip = QStringLiteral("structure.sh or bash is missing: the structure of the "
                                         "saved copies is not compared");
    if (!m_structureSkip.isEmpty() || files.isEmpty())
        return;

    QProcess process;
    process.start(bash, QStringList{script} + files);
    if (!process.waitForFinished(240000)) {
        process.kill();
        process.waitForFinished();
        m_structureError = QStringLiteral("structure.sh did not finish within 4 minutes");
        return;
    }
    // Exit status 2 only says that some file did not load; that file has no
    // counts and its row fails.
    m_counts = parseStructure(QString::fromUtf8(process.readAllStandardOutput()));
    if (m_counts.isEmpty())
        m_structureError = QStringLiteral("structure.sh printed no counts: ") +
                           QString::fromLocal8Bit(process.readAllStandardError());
}

void TestRichCorpus::addFileRows()
{
    QTest::addColumn<QString>("original");
    if (m_corpus.isEmpty())
        QSKIP("INKWELL_SHARED_DIR/corpus/rtf-rich is missing: the rich-document corpus is not "
              "available");
    if (m_originals.isEmpty())
        QSKIP("the rich-document corpus folder holds no .rtf files");
    for (const QString &original : std::as_const(m_originals))
        QTest::newRow(qPrintable(QFileInfo(original).completeBaseName())) << original;
}

void TestRichCorpus::structure_data()
{
    if (!m_structureSkip.isEmpty())
        QSKIP(qPrintable(m_structureSkip));
    addFileRows();
}

// Every count LibreOffice takes of the saved copy is at least the
// original's; counts may rise (a writer may split runs into more <b>).
void TestRichCorpus::structure()
{
    QFETCH(QString, original);
    QVERIFY2(m_structureError.isEmpty(), qPrintable(m_structureError));
    const QString copy = copyPath(original);
    QVERIFY2(m_counts.contains(original), "LibreOffice did not load the original");
    QVERIFY2(m_counts.contains(copy), "LibreOffice did not load the saved copy");
    const Counts before = m_counts.value(original);
    const Counts after = m_counts.value(copy);
    QStringList lost;
    for (const QString &key : structureKeys) {
        QVERIFY2(before.contains(key) && after.contains(key), qPrintable(key));
        if (after.value(key) < before.value(key))
            lost << QStringLiteral("%1 %2 -> %3")
                        .arg(key)
                        .arg(before.value(key))
                        .arg(after.value(key));
    }
    QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("lost by the save: ") + lost.join(u", ")));
}

void TestRichCorpus::text_data()
{
    addFileRows();
}

// The saved copy, opened again, holds the same characters in the same places.
void TestRichCorpus::text()
{
    QFETCH(QString, original);
    const QByteArray bytes = fileBytes(original);
    QVERIFY(!bytes.isEmpty());
    const QString expected = textOf(bytes);
    // A copy of nothing would compare equal: where LibreOffice finds text,
    // the reader must too.
    const QString libreOfficeText =
        QString::fromUtf8(fileBytes(original.chopped(4) + QStringLiteral(".expected.txt")));
    if (!libreOfficeText.trimmed().isEmpty())
        QVERIFY2(!expected.trimmed().isEmpty(), "the original read as empty text");
    QCOMPARE(textOf(fileBytes(copyPath(original))), expected);
}

void TestRichCorpus::uncounted_data()
{
    addFileRows();
}

// What LibreOffice's HTML does not count: footnotes and fields, which a save
// writes back as RTF destinations; section breaks with their columns and
// the lines above footnotes, which LibreOffice lays out from the RTF; and
// justified paragraphs, as the reader finds them in the copy.
void TestRichCorpus::uncounted()
{
    QFETCH(QString, original);
    const QByteArray bytes = fileBytes(original);
    const QByteArray copy = fileBytes(copyPath(original));
    QVERIFY(!copy.isEmpty());
    QStringList lost;
    for (const char *word : {"footnote", "fldinst", "fldrslt", "sect", "cols", "linebetcol",
                             "ftnsep", "ftnsepc", "aftnsep", "aftnsepc", "ftncn", "aftncn"}) {
        const int before = controlWordCount(bytes, word);
        const int after = controlWordCount(copy, word);
        if (after < before)
            lost << QStringLiteral("\\%1 %2 -> %3").arg(QLatin1String(word)).arg(before).arg(after);
    }
    // A later section's header shown from the first page on: the copy has
    // no more headers and footers before its first section break.
    const int headersBefore = headersBeforeFirstSection(bytes);
    const int headersAfter = headersBeforeFirstSection(copy);
    if (headersAfter > headersBefore)
        lost << QStringLiteral("headers before the first \\sect %1 -> %2")
                    .arg(headersBefore)
                    .arg(headersAfter);
    const int justifiedBefore = justifiedParagraphs(bytes);
    const int justifiedAfter = justifiedParagraphs(copy);
    if (justifiedAfter < justifiedBefore)
        lost << QStringLiteral("justified %1 -> %2").arg(justifiedBefore).arg(justifiedAfter);
    QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("lost by the save: ") + lost.join(u", ")));
}

void TestRichCorpus::resave_data()
{
    addFileRows();
}

// Saving the saved copy again writes the same bytes: a save loses or moves
// nothing the reader keeps.
void TestRichCorpus::resave()
{
    QFETCH(QString, original);
    const QByteArray copy = fileBytes(copyPath(original));
    QVERIFY(!copy.isEmpty());
    const QByteArray again = savedCopyOf(copy);
    if (again != copy) {
        qsizetype at = 0;
        while (at < copy.size() && at < again.size() && copy[at] == again[at])
            ++at;
        QFAIL(qPrintable(
            QStringLiteral("the second save differs at byte %1: %2 | %3")
                .arg(at)
                .arg(QString::fromLatin1(copy.mid(std::max<qsizetype>(at - 40, 0), 120)),
                     QString::fromLatin1(again.mid(std::max<qsizetype>(at - 40, 0), 120)))));
    }
}

// The font table's entries: name → the charsets the file gives it. Names
// written as \'xx or \u are left out (their form depends on the code page).
QHash<QString, QSet<int>> charsetsByFont(const QByteArray &rtf)
{
    QHash<QString, QSet<int>> fonts;
    const qsizetype table = rtf.indexOf("{\\fonttbl");
    if (table < 0)
        return fonts;
    static const QRegularExpression entry(
        QStringLiteral(R"re(\{\\f\d+((?:\\[a-z]+-?\d*|\{\\\*\\panose [0-9a-fA-F]*\}| )*))re"
                       R"re(([^\\;{}]+?)(?:\{\\\*\\falt[^}]*\})?;\})re"));
    static const QRegularExpression charset(QStringLiteral(R"(\\fcharset(\d+))"));
    const QString text = QString::fromLatin1(rtf.mid(table, 200000));
    for (auto it = entry.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QRegularExpressionMatch found = charset.match(match.captured(1));
        if (found.hasMatch())
            fonts[match.captured(2).trimmed()].insert(found.captured(1).toInt());
    }
    return fonts;
}

void TestRichCorpus::fontCharsets_data()
{
    addFileRows();
}

// Every font of the saved copy that the original has keeps a charset the
// original gave it: other readers decode the font's bytes with it.
void TestRichCorpus::fontCharsets()
{
    QFETCH(QString, original);
    const QHash<QString, QSet<int>> before = charsetsByFont(fileBytes(original));
    const QHash<QString, QSet<int>> after = charsetsByFont(fileBytes(copyPath(original)));
    QStringList changed;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const auto read = before.constFind(it.key());
        if (read == before.cend())
            continue;
        for (int charset : it.value())
            if (!read->contains(charset))
                changed << QStringLiteral("%1 \\fcharset%2").arg(it.key()).arg(charset);
    }
    QVERIFY2(changed.isEmpty(), qPrintable(changed.join(QStringLiteral(", "))));
}

void TestRichCorpus::cellBorders_data()
{
    addFileRows();
}

// Every look of the original's cell borders (double, dotted, coloured) is
// in the saved copy: a grey double line does not become a single black one.
void TestRichCorpus::cellBorders()
{
    QFETCH(QString, original);
    const QSet<QString> before = cellBorderLooks(fileBytes(original));
    const QSet<QString> after = cellBorderLooks(fileBytes(copyPath(original)));
    QStringList lost;
    for (const QString &look : before)
        if (!after.contains(look))
            lost << look;
    lost.sort();
    QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QStringLiteral(", "))));
}

QTEST_MAIN(TestRichCorpus)
#include "tst_richcorpus.moc"
