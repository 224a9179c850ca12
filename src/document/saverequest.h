// One save of the document to a file, carried through the questions it
// raises: the window asks each question the save returns, agrees to it
// here, and saves again with the same request.
#pragma once

#include "document/documentfile.h"
#include "document/documentquestion.h"

#include <QString>

#include <optional>
#include <set>

namespace Inkwell {

class SaveRequest {
public:
    SaveRequest(QString path, QString fileTitle)
        : m_path(std::move(path)), m_fileTitle(std::move(fileTitle))
    {
    }

    const QString &path() const { return m_path; }
    const QString &fileTitle() const { return m_fileTitle; }

    void agree(Question::Topic topic) { m_agreed.insert(topic); }
    bool agreed(Question::Topic topic) const { return m_agreed.count(topic) != 0; }

private:
    friend class DocumentState;
    QString m_path;
    QString m_fileTitle;
    std::set<Question::Topic> m_agreed;
    // The bytes made for a question that needed them, written once it is
    // agreed to: a big document is serialised once.
    std::optional<Serialized> m_file;
    int m_revision = -1; // of the document the bytes were made from
};

} // namespace Inkwell
