// What the view works out from a document in one pass over it (where the
// parts of long lists stand, where text boxes are), kept from one paint to
// the next until the document changes.
#pragma once

#include <QObject>
#include <QString>
#include <QTextDocument>

#include <optional>

namespace Inkwell {

// `make`'s value for `document`, made again after any change of it. `name`
// tells the values of one document apart: one name, one type.
template <class T>
const T &keptUntilChange(const QTextDocument &document, const QString &name,
                         T (*make)(const QTextDocument &))
{
    class Kept : public QObject {
    public:
        Kept(QTextDocument &document, const QString &name) : QObject(&document)
        {
            setObjectName(name);
            connect(&document, &QTextDocument::contentsChange, this, [this] { value.reset(); });
        }
        std::optional<T> value;
    };
    auto *kept =
        static_cast<Kept *>(document.findChild<QObject *>(name, Qt::FindDirectChildrenOnly));
    if (!kept)
        kept = new Kept(const_cast<QTextDocument &>(document), name);
    if (!kept->value)
        kept->value.emplace(make(document));
    return *kept->value;
}

} // namespace Inkwell
