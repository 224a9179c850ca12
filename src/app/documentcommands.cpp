#include "app/documentcommands.h"

#include "controls/commondialog.h"
#include "core/product.h"
#include "document/documentstate.h"
#include "document/saverequest.h"

namespace Inkwell {

DocumentCommands::DocumentCommands(DocumentState &document, CommonDialog &fileDialog,
                                   CommonDialog &scrambledFileDialog, MessageHost &messages)
    : m_document(document), m_fileDialog(fileDialog), m_scrambledFileDialog(scrambledFileDialog),
      m_messages(messages)
{
}

bool DocumentCommands::DocumentChanged() const
{
    return m_document.DocumentChanged();
}

MessageAnswer DocumentCommands::ask(const Question &question)
{
    if (question.withCancel)
        return m_messages.askYesNoCancel(question.text, Product::messageTitle);
    return m_messages.askYesNo(question.text, Product::messageTitle, question.icon,
                               question.defaultAnswer);
}

MessageAnswer DocumentCommands::SaveChangesPrompt()
{
    return ask(DocumentState::saveChangesQuestion());
}

Result<bool> DocumentCommands::mayDiscard()
{
    if (!DocumentChanged())
        return true;
    switch (SaveChangesPrompt()) {
    case MessageAnswer::Yes:
        return save();
    case MessageAnswer::No:
        return true;
    default:
        return false;
    }
}

Result<bool> DocumentCommands::save()
{
    if (m_fileDialog.ShowSave() == cdlCancel)
        return false;
    return saveTo(m_fileDialog.FileName, m_fileDialog.FileTitle());
}

Result<bool> DocumentCommands::saveTo(const QString &path, const QString &fileTitle)
{
    SaveRequest request(path, fileTitle);
    for (;;) {
        Result<std::optional<Question>> step = m_document.save(request);
        if (!step.ok())
            return step.error();
        const std::optional<Question> &question = step.value();
        if (!question)
            return true;
        if (ask(*question) != MessageAnswer::Yes)
            return false;
        request.agree(question->topic);
    }
}

std::optional<Error> DocumentCommands::new_()
{
    // Yes saves first, and the document is emptied only once that worked.
    const Result<bool> discard = mayDiscard();
    if (!discard.ok() || !discard.value())
        return discard.failure();
    m_document.new_();
    return std::nullopt;
}

std::optional<Error> DocumentCommands::open()
{
    const Result<bool> discard = mayDiscard();
    if (!discard.ok() || !discard.value())
        return discard.failure();
    if (m_fileDialog.ShowOpen() == cdlCancel)
        return std::nullopt;
    return openFile(m_fileDialog.FileName, ReadMode::Text);
}

std::optional<Error> DocumentCommands::opensafe()
{
    const Result<bool> discard = mayDiscard();
    if (!discard.ok() || !discard.value())
        return discard.failure();
    if (m_scrambledFileDialog.ShowOpen() == cdlCancel)
        return std::nullopt;
    return openFile(m_scrambledFileDialog.FileName, ReadMode::Scrambled);
}

std::optional<Error> DocumentCommands::openDropped(const QString &path)
{
    const Result<bool> discard = mayDiscard();
    if (!discard.ok() || !discard.value())
        return discard.failure();
    // The next save dialog offers the dropped file, as after a dialog choice.
    m_fileDialog.FileName = path;
    return openFile(path, ReadMode::Text);
}

} // namespace Inkwell

namespace Inkwell {

std::optional<Error> DocumentCommands::openFile(const QString &path, ReadMode mode)
{
    if (auto error = m_document.openFile(path, mode))
        return error;
    tellLoadWarnings();
    return std::nullopt;
}

std::optional<Error> DocumentCommands::offerReload()
{
    const std::optional<Question> question = m_document.reloadQuestion();
    if (!question || ask(*question) != MessageAnswer::Yes)
        return std::nullopt;
    const Result<bool> discard = mayDiscard();
    if (!discard.ok() || !discard.value())
        return discard.failure();
    if (auto error = m_document.reload())
        return error;
    tellLoadWarnings();
    return std::nullopt;
}

void DocumentCommands::tellLoadWarnings()
{
    for (const QString &warning : m_document.loadWarnings())
        m_messages.inform(warning, Product::messageTitle, MessageIcon::Exclamation);
}

} // namespace Inkwell
