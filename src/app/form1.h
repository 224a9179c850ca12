// The main window: the editor, the status bar, the clock, the four dialog
// objects and the menu. Each menu item's handler is named after the item.
#pragma once

#include "app/services.h"
#include "controls/commondialog.h"
#include "core/error.h"
#include "document/draftkeeper.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPrinter>

#include <chrono>
#include <memory>
#include <optional>

class QAction;
class QProgressBar;
class QLabel;
class QStatusBar;
class QTimer;

namespace Inkwell {

class DocumentCommands;
class DocumentState;
class RichTextBox;

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(Services services, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up, in its fixed order; `commandLine` is everything after the
    // program's own path, as one string.
    // The arguments after the program's own path (see DocumentState::openCommandLine).
    void Form_Load(const QStringList &arguments);
    void Form_Load(const QString &commandLine) { Form_Load(QStringList{commandLine}); }

    RichTextBox *Text1 = nullptr;
    QStatusBar *showbar = nullptr;
    QTimer *Timer1 = nullptr;
    CommonDialog openuse;
    CommonDialog safeuse;
    CommonDialog puse;
    CommonDialog CommonDialog1;
    QPrinter *printer() { return &m_printer; }
    // The text last asked for by find, searched again by find next.
    QString SearchText;

    // The document model, and the file commands that ask for it.
    DocumentState &document() { return *m_document; }
    DocumentCommands &commands() { return *m_commands; }
    // Keeps drafts of the unsaved document in `directory` and offers those of
    // windows that did not close normally at Form_Load. Call before Form_Load.
    void keepDrafts(const QString &directory, DraftTiming timing = DraftTiming());
    // Offers each orphaned draft, newest first, and tells of damaged ones;
    // true when one became the document. Form_Load calls it.
    bool recoverDrafts();
    DraftKeeper *drafts() const { return m_drafts.get(); }
    // The menu item of that name ("new", "open", "bar", ...), or null.
    QAction *action(const QString &name) const;
    QLabel *panel(int index) const; // panels count from 1

    // Status bar and caret display.
    void SetUpStatusBar();
    void ShowCaretPos();
    void ShowDateTime();
    static QString caretText(int line, int column);
    static QString dateTimeText(const QDateTime &when, const QLocale &locale);
    // How long a file may take to load before the progress row shows.
    static constexpr std::chrono::milliseconds loadProgressDelay{500};

public slots:
    void new_Click();
    void open_Click();
    void opensafe_Click();
    void save_Click();
    void Esc_Click();
    void bar_Click();
    void about_Click();
    void undo_Click();
    void cut_Click();
    void copy_Click();
    void paste_Click();
    void find_Click();
    void findon_Click();
    void SelectAll_Click();
    void date_Click();
    void font_Click();
    void color_Click();
    void addpicture_Click();
    void printsetup_Click();
    void print_Click();
    void skin_Click();
    void reg_Click();

private slots:
    void showLoadProgress(qint64 done, qint64 total, bool first);
    void showSaveProgress(qint64 done, qint64 total);
    // The window is active again: a change to its file on disk is told.
    void checkFileOnDisk();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void createMenus();
    // Keys with no menu item of their own: redo and the view's zoom.
    void createEditorKeys();
    void openDroppedFile(const QString &path);
    void queueDiskCheck();
    // Lets Text1 show the model's document and follow its kind and loads.
    void connectEditorToDocument();
    // A command's failure, told to the user: "what：why" or just "what".
    void tellFailure(const std::optional<Error> &failure);
    QAction *addItem(QMenu *menu, const QString &name, const QString &caption,
                     const QKeySequence &shortcut = {});

    Services m_services;
    DocumentState *m_document = nullptr;
    std::unique_ptr<DocumentCommands> m_commands;
    bool m_readOnlyBeforeLoad = false;
    bool m_readOnlyBeforeSave = false;
    std::unique_ptr<DraftKeeper> m_drafts; // destroyed before the editor it watches
    QPrinter m_printer;
    QList<QLabel *> m_panels;
    QWidget *m_loadRow = nullptr;
    QLabel *m_loadLabel = nullptr;
    QLabel *m_draftNotice = nullptr; // shown while drafts cannot be written
    QProgressBar *m_loadBar = nullptr;
    QDateTime m_loadStarted; // the first slice of the load in progress
    QDateTime m_saveStarted; // the save in progress began
    bool m_diskCheckQueued = false;
};

} // namespace Inkwell
