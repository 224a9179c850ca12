// Puts a text file's bytes into a document. A big file goes in slices of
// whole lines from the event loop, so the first screen shows at once and the
// window keeps answering; a small one goes in at once. No widget: whoever
// edits the document keeps it read-only while a load runs.
#pragma once

#include "core/textbaseline.h"
#include "core/textencoding.h"

#include <QObject>
#include <QPointer>
#include <QTextCharFormat>
#include <optional>

class QTextDocument;

namespace Inkwell {

class TextLoader : public QObject {
    Q_OBJECT
public:
    explicit TextLoader(QObject *parent = nullptr);

    // Files up to this size go in at once.
    static constexpr qsizetype sliceBytes = 1024 * 1024;

    // Appends the decoded bytes to the (empty) document, in `format`. For a
    // small file finished() is emitted before this returns.
    void start(const QByteArray &bytes, QTextDocument &document, const QTextCharFormat &format);
    bool isLoading() const { return m_load.has_value(); }
    // Appends what is left now (before a save or a print).
    void finish();
    // Stops a load; what is in the document stays.
    void cancel();

    // What the finished load decoded, handed over once.
    struct Loaded {
        TextBaseline baseline; // of the decoded text
        // The text held characters a document takes as paragraph or frame
        // marks, so it reports a different text than the one decoded.
        bool hadMarks = false;
        bool clean = true; // every byte decoded
        TextEncoding encoding;
    };
    Loaded take() { return std::exchange(m_loaded, Loaded{}); }

signals:
    // Emitted after each slice; `first` for the first one.
    void progress(qint64 done, qint64 total, bool first);
    void finished();

private:
    void appendNextSlice();

    struct Load {
        TextFileDecoder decoder;
        QPointer<QTextDocument> document;
        QTextCharFormat format;
    };
    std::optional<Load> m_load;
    Loaded m_loaded;
    quint64 m_generation = 0;
};

} // namespace Inkwell
