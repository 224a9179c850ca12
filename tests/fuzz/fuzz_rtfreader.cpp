// libFuzzer entry point: any bytes through the RTF reader, then the
// document through the writer and back through the reader.
#include "core/documentimages.h"
#include "core/documenttext.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"

#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QGuiApplication *application = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Pictures in a QTextDocument need a GUI application; offscreen keeps
    // it headless.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application = new QGuiApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QTextDocument document;
    QTextCursor cursor(&document);
    const Inkwell::Rtf::ReadResult result = Inkwell::Rtf::read(bytes, cursor, 936);
    if (result.ok != Inkwell::Rtf::looksLikeRtf(bytes))
        std::abort();
    if (!result.ok)
        return 0;

    // What we read, we must be able to write and read again to the same text.
    const QByteArray written = Inkwell::Rtf::write(document, 936);
    if (written != Inkwell::Rtf::write(document, 936))
        std::abort(); // the writer must be deterministic
    // Written a paragraph or table at a time, as drafts are: the same bytes.
    Inkwell::Rtf::SlicedWriter sliced(document, 936);
    while (!sliced.writeSome(QDeadlineTimer(0))) {
    }
    if (sliced.take() != written)
        std::abort();
    QTextDocument again;
    QTextCursor againCursor(&again);
    if (!Inkwell::Rtf::read(written, againCursor, 936).ok)
        std::abort();
    if (again.toRawText() != document.toRawText())
        std::abort();
    // A second save of what the first save wrote loses nothing more: the
    // writer writes everything the reader keeps, so the bytes are the same.
    if (Inkwell::Rtf::write(again, 936) != written)
        std::abort();

    // With no picture budget every picture the reader cannot or may not
    // decode is held back: none is lost, and what a save writes of them
    // reads back to the same save.
    QTextDocument held;
    QTextCursor heldCursor(&held);
    const Inkwell::Rtf::ReadResult heldRead = Inkwell::Rtf::read(bytes, heldCursor, 936, 0);
    if (held.toRawText() != document.toRawText())
        std::abort();
    const Inkwell::DocumentImages::BudgetUse use = heldRead.pictures;
    if (use.tooLarge + use.undecodable > use.heldBack ||
        (use.heldBack > 0) == Inkwell::DocumentImages::heldBackMessage(use).isEmpty())
        std::abort();
    const QByteArray heldWritten = Inkwell::Rtf::write(held, 936);
    if (heldWritten.count("{\\pict") != written.count("{\\pict"))
        std::abort();
    QTextDocument heldAgain;
    QTextCursor heldAgainCursor(&heldAgain);
    if (!Inkwell::Rtf::read(heldWritten, heldAgainCursor, 936, 0).ok ||
        Inkwell::Rtf::write(heldAgain, 936) != heldWritten)
        std::abort();

    // A long paragraph held in pieces (short ones here, so that fuzzed
    // documents have them) is still one paragraph: in its text and in
    // what the writer writes.
    const QString text = Inkwell::plainTextOf(document);
    const QString exported = Inkwell::exportPlainText(document);
    if (Inkwell::breakLongParagraphs(document, 16)) {
        if (Inkwell::plainTextOf(document) != text ||
            Inkwell::exportPlainText(document) != exported)
            std::abort();
        QTextDocument joined;
        QTextCursor joinedCursor(&joined);
        if (!Inkwell::Rtf::read(Inkwell::Rtf::write(document, 936), joinedCursor, 936).ok ||
            joined.toRawText() != again.toRawText())
            std::abort();
    }
    return 0;
}
