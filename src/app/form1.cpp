#include "app/form1.h"

#include "app/documentcommands.h"
#include "commands/editcommands.h"
#include "commands/findcommands.h"
#include "commands/formatcommands.h"
#include "commands/insertcommands.h"
#include "commands/printcommands.h"
#include "controls/editortransfer.h"
#include "controls/richtextbox.h"
#include "core/clock.h"
#include "core/localpath.h"
#include "core/messagehost.h"
#include "core/product.h"
#include "document/documentstate.h"
#include "document/draftkeeper.h"
#include "platform/twips.h"
#include "shell/frmmain.h"
#include "shell/registry.h"
#include "shell/trueicon.h"
#include "skin/skincommand.h"
#include "skin/skinengine.h"
#include "skin/skinlocations.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QTimer>

namespace Inkwell {

namespace {

double logicalDpi(const QWidget *widget)
{
    const QScreen *screen = widget->screen();
    return screen ? screen->logicalDotsPerInchX() : 96.0;
}

} // namespace

Form1::Form1(Services services, QWidget *parent)
    : QMainWindow(parent), openuse(&services.dialogs), safeuse(&services.dialogs),
      puse(&services.dialogs), CommonDialog1(&services.dialogs), m_services(services)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Product::untitledCaption);
    Commands::useDefaultPage(m_printer);

    m_document = new DocumentState(this);
    Text1 = new RichTextBox(m_document->document(), this);
    // Coming back to the program from another one is when a change made
    // there to the file is told; nothing polls the disk.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    queueDiskCheck();
            });
    // The editor fills the client area; a row that tells how far a big file
    // has loaded sits beneath it only while one loads.
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(Text1, 1);
    m_loadRow = new QWidget(central);
    auto *row = new QHBoxLayout(m_loadRow);
    row->setContentsMargins(4, 2, 4, 2);
    m_loadLabel = new QLabel(m_loadRow);
    m_loadBar = new QProgressBar(m_loadRow);
    m_loadBar->setRange(0, 1000);
    m_loadBar->setTextVisible(false);
    row->addWidget(m_loadLabel);
    row->addWidget(m_loadBar, 1);
    m_loadRow->hide();
    column->addWidget(m_loadRow);
    // Drafts that cannot be written are told in a line of their own, not in
    // a box: typing goes on, and the line goes once a draft is written again.
    m_draftNotice = new QLabel(central);
    m_draftNotice->setObjectName(QStringLiteral("draftNotice"));
    m_draftNotice->setContentsMargins(4, 2, 4, 2);
    m_draftNotice->setWordWrap(true);
    m_draftNotice->hide();
    column->addWidget(m_draftNotice);
    setCentralWidget(central);

    showbar = new QStatusBar(this);
    showbar->setObjectName(QStringLiteral("showbar"));
    showbar->setSizeGripEnabled(false);
    setStatusBar(showbar);
    // The one panel the window is designed with; start-up puts two in front.
    auto *designed = new QLabel(showbar);
    designed->setFixedWidth(twipsToPixels(1440, logicalDpi(this)));
    m_panels << designed;
    showbar->addWidget(designed);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &Form1::ShowDateTime);

    openuse.FileName = QStringLiteral("*.txt");
    openuse.Filter = QStringLiteral(
        "文本文档(*.txt)|*.txt|加密文本文档(*.stx)|*.stx|RTF文档(*.rtf)|*.rtf|所有文件(*.*)|*.*");
    openuse.FontName = QStringLiteral("宋体");
    openuse.FontSize = 9;
    openuse.Color = 0xE0E0E0;
    safeuse.FileName = QStringLiteral("*.stx");
    safeuse.Filter = QStringLiteral("加密文本文档(*.stx)|*.stx|");
    puse.DialogTitle = QStringLiteral("载入图片");
    // PNG pictures load as well as JPEG and BMP ones, so the dialog offers them too.
    puse.Filter = QStringLiteral(
        "Jpg图片文件(*.jpg)|*.jpg|Bmp位图文件(*.bmp)|*.bmp|Png图片文件(*.png)|*.png|");
    CommonDialog1.DialogTitle = QStringLiteral("更换皮肤");
    CommonDialog1.FileName = QStringLiteral("*.she");
    CommonDialog1.Filter = QStringLiteral("SHE皮肤文件(*.she)|*.she");
    // The skin dialog opens on the skins that come with the program.
    CommonDialog1.InitDir = SkinLocations::shippedSkins();

    m_commands =
        std::make_unique<DocumentCommands>(*m_document, openuse, safeuse, services.messages);
    connectEditorToDocument();

    createMenus();
    createEditorKeys();
    setAcceptDrops(true);
    connect(Text1, &RichTextBox::fileDropped, this, &Form1::openDroppedFile);

    connect(Text1, &RichTextBox::keyReleased, this, &Form1::ShowCaretPos);
    connect(Text1, &RichTextBox::mousePressed, this, &Form1::ShowCaretPos);

    const double dpi = logicalDpi(this);
    resize(twipsToPixels(13890, dpi), twipsToPixels(7725, dpi) + menuBar()->sizeHint().height());
}

Form1::~Form1() = default;

void Form1::connectEditorToDocument()
{
    DocumentState *model = m_document;
    model->setPlainFormat(Text1->defaultCharFormat());
    connect(model, &DocumentState::captionChanged, this, &QWidget::setWindowTitle);
    connect(model, &DocumentState::kindChanged, Text1,
            [this](DocumentKind kind) { Text1->setView(RichTextBox::viewOf(kind)); });
    connect(model, &DocumentState::emptied, Text1, &RichTextBox::documentEmptied);
    connect(model, &DocumentState::aboutToReplace, Text1, &RichTextBox::detach);
    connect(model, &DocumentState::replaced, Text1, [this](DocumentKind kind) {
        Text1->attach(RichTextBox::viewOf(kind));
        Text1->setSelStart(0);
    });
    connect(model, &DocumentState::loadingChanged, Text1, [this](bool loading) {
        if (loading) {
            m_readOnlyBeforeLoad = Text1->isReadOnly();
            Text1->setReadOnly(true);
        } else {
            Text1->setReadOnly(m_readOnlyBeforeLoad);
        }
    });
    connect(model, &DocumentState::loadProgress, this, &Form1::showLoadProgress);
    // A big save is written in pieces: between them the window paints and
    // shows its progress, while the editor takes no edit until it is done.
    connect(model, &DocumentState::savingChanged, this, [this](bool saving) {
        if (saving) {
            m_readOnlyBeforeSave = Text1->isReadOnly();
            Text1->setReadOnly(true);
            m_saveStarted = m_services.clock.now();
        } else {
            Text1->setReadOnly(m_readOnlyBeforeSave);
            m_loadRow->hide();
            m_saveStarted = QDateTime();
        }
    });
    connect(model, &DocumentState::saveProgress, this, &Form1::showSaveProgress);
    connect(model, &DocumentState::loadFinished, this, [this] {
        m_loadRow->hide();
        m_loadStarted = QDateTime();
    });
}

void Form1::keepDrafts(const QString &directory, DraftTiming timing)
{
    m_drafts = std::make_unique<DraftKeeper>(*m_document, m_services.clock, directory, timing);
    connect(m_drafts.get(), &DraftKeeper::draftFailed, this, [this](const Error &error) {
        m_draftNotice->setText(
            QStringLiteral("无法保存草稿（%1），程序意外退出时未保存的修改可能丢失。请尽快保存文档。")
                .arg(error.why.isEmpty() ? error.what : error.why));
        m_draftNotice->show();
    });
    connect(m_drafts.get(), &DraftKeeper::draftWritten, m_draftNotice, &QWidget::hide);
}

bool Form1::recoverDrafts()
{
    if (!m_drafts)
        return false;
    const auto wantsBack = [this](const OrphanDraft &draft) {
        // Shown behind the question, so that the question is about a window
        // the user sees, and so that the editor has its width before a big
        // file arrives for the draft while the question waits: a new width
        // lays out every paragraph again, which costs a big file a second.
        if (!isVisible())
            show();
        // Named as the question names it, while the window shows the
        // document's file arriving.
        setWindowTitle(DocumentState::captionFor(draft.title));
        const QString question =
            QStringLiteral("发现上次未保存的文档“%1”（%2）。是否恢复？")
                .arg(draft.title,
                     draft.saved.toLocalTime().toString(QStringLiteral("yyyy年M月d日 HH:mm")));
        // Yes is the default: Enter must not throw away the only copy of the work.
        const bool yes = m_services.messages.askYesNo(question, Product::messageTitle,
                                                      MessageIcon::Information,
                                                      MessageAnswer::Yes) == MessageAnswer::Yes;
        if (!yes)
            setWindowTitle(m_document->caption());
        return yes;
    };
    const auto tellDamaged = [this](const DamagedDraft &draft) {
        const QString where = draft.renamedTo.isEmpty()
                                  ? QStringLiteral("草稿“%1”无法改名。").arg(draft.path)
                                  : QStringLiteral("草稿已改名为“%1”。").arg(draft.renamedTo);
        tellFailure(Error{QStringLiteral("上次未保存的文档草稿已损坏，无法恢复"),
                          QStringLiteral("%1。%2").arg(draft.why, where)});
    };
    // A draft of edits to a big text file is still being rebuilt when this
    // returns: the window shows the file as it arrives, and a draft found
    // damaged once it is in is told through `tellDamaged` then.
    if (!m_drafts->recoverOrphans(wantsBack, tellDamaged))
        return false;
    // The document is named once its edits are in; meanwhile the caption
    // says which one is coming back, not "无标题".
    if (m_drafts->isRecovering())
        setWindowTitle(DocumentState::captionFor(m_drafts->recoveringTitle()));
    // A recovered draft is read as a file is: pictures past the budget are
    // told once. A text file being read for a draft has nothing to tell.
    m_commands->tellLoadWarnings();
    return true;
}

QAction *Form1::addItem(QMenu *menu, const QString &name, const QString &caption,
                        const QKeySequence &shortcut)
{
    auto *item = menu->addAction(caption);
    item->setObjectName(name);
    if (!shortcut.isEmpty())
        item->setShortcut(shortcut);
    return item;
}

void Form1::createEditorKeys()
{
    const auto key = [this](const QString &name, const QList<QKeySequence> &keys,
                            auto slot) {
        auto *action = new QAction(this);
        action->setObjectName(name);
        action->setShortcuts(keys);
        // Window-wide, as the menus' keys are, but never shown in a menu.
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, Text1, slot);
    };
    key(QStringLiteral("redo"), {QKeySequence(Qt::CTRL | Qt::Key_Y)}, &RichTextBox::redo);
    key(QStringLiteral("zoomIn"),
        {QKeySequence(QKeySequence::ZoomIn), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
        [this] { Text1->zoomBy(1); });
    key(QStringLiteral("zoomOut"), {QKeySequence(QKeySequence::ZoomOut)},
        [this] { Text1->zoomBy(-1); });
    key(QStringLiteral("zoomReset"), {QKeySequence(Qt::CTRL | Qt::Key_0)},
        [this] { Text1->resetZoom(); });
}

void Form1::openDroppedFile(const QString &path)
{
    if (m_document->isSaving())
        return; // the document is being written

    tellFailure(m_commands->openDropped(path));
    ShowCaretPos();
}

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    // Files dropped on the menu bar or the status bar open as on the editor.
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    openDroppedFile(path);
}

void Form1::createMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("文件(&F)"));
    file->setObjectName(QStringLiteral("file"));
    connect(addItem(file, QStringLiteral("new"), QStringLiteral("新建(&N)"), QKeySequence(Qt::CTRL | Qt::Key_N)),
            &QAction::triggered, this, &Form1::new_Click);
    connect(addItem(file, QStringLiteral("open"), QStringLiteral("打开(&O)..."), QKeySequence(Qt::CTRL | Qt::Key_O)),
            &QAction::triggered, this, &Form1::open_Click);
    connect(addItem(file, QStringLiteral("opensafe"), QStringLiteral("打开加密文件(&O)...")),
            &QAction::triggered, this, &Form1::opensafe_Click);
    connect(addItem(file, QStringLiteral("skin"), QStringLiteral("更换皮肤(&S)...")),
            &QAction::triggered, this, &Form1::skin_Click);
    connect(addItem(file, QStringLiteral("reg"), QStringLiteral("关联txt文件(&R)")),
            &QAction::triggered, this, &Form1::reg_Click);
    connect(addItem(file, QStringLiteral("save"), QStringLiteral("保存(&S)"), QKeySequence(Qt::CTRL | Qt::Key_S)),
            &QAction::triggered, this, &Form1::save_Click);
    file->addSeparator()->setObjectName(QStringLiteral("d"));
    connect(addItem(file, QStringLiteral("printsetup"), QStringLiteral("页面设置(&U)...")),
            &QAction::triggered, this, &Form1::printsetup_Click);
    connect(addItem(file, QStringLiteral("print"), QStringLiteral("打印(&P)..."),
                    QKeySequence(Qt::CTRL | Qt::Key_P)),
            &QAction::triggered, this, &Form1::print_Click);
    file->addSeparator()->setObjectName(QStringLiteral("a"));
    connect(addItem(file, QStringLiteral("Esc"), QStringLiteral("退出(&X)")), &QAction::triggered,
            this, &Form1::Esc_Click);

    QMenu *edit = menuBar()->addMenu(QStringLiteral("编辑(&E)"));
    edit->setObjectName(QStringLiteral("edit"));
    // No shortcut of its own: Ctrl+Z stays the editor's.
    connect(addItem(edit, QStringLiteral("undo"), QStringLiteral("撤销(&U)")), &QAction::triggered,
            this, &Form1::undo_Click);
    edit->addSeparator()->setObjectName(QStringLiteral("e"));
    connect(addItem(edit, QStringLiteral("cut"), QStringLiteral("剪切(&T)"),
                    QKeySequence(Qt::CTRL | Qt::Key_X)),
            &QAction::triggered, this, &Form1::cut_Click);
    connect(addItem(edit, QStringLiteral("copy"), QStringLiteral("复制(&C)"),
                    QKeySequence(Qt::CTRL | Qt::Key_C)),
            &QAction::triggered, this, &Form1::copy_Click);
    connect(addItem(edit, QStringLiteral("paste"), QStringLiteral("粘贴(&P)"),
                    QKeySequence(Qt::CTRL | Qt::Key_V)),
            &QAction::triggered, this, &Form1::paste_Click);
    edit->addSeparator()->setObjectName(QStringLiteral("b"));
    connect(addItem(edit, QStringLiteral("find"), QStringLiteral("查找(&F)..."),
                    QKeySequence(Qt::CTRL | Qt::Key_F)),
            &QAction::triggered, this, &Form1::find_Click);
    connect(addItem(edit, QStringLiteral("findon"), QStringLiteral("查找下一个(&N)"),
                    QKeySequence(Qt::Key_F3)),
            &QAction::triggered, this, &Form1::findon_Click);
    edit->addSeparator()->setObjectName(QStringLiteral("c"));
    connect(addItem(edit, QStringLiteral("SelectAll"), QStringLiteral("全选(&A)"),
                    QKeySequence(Qt::CTRL | Qt::Key_A)),
            &QAction::triggered, this, &Form1::SelectAll_Click);
    connect(addItem(edit, QStringLiteral("date"), QStringLiteral("时间/日期(&D)"),
                    QKeySequence(Qt::Key_F5)),
            &QAction::triggered, this, &Form1::date_Click);

    QMenu *pattern = menuBar()->addMenu(QStringLiteral("格式(&O)"));
    pattern->setObjectName(QStringLiteral("pattern"));
    connect(addItem(pattern, QStringLiteral("font"), QStringLiteral("字体(&F)...")),
            &QAction::triggered, this, &Form1::font_Click);
    connect(addItem(pattern, QStringLiteral("color"), QStringLiteral("颜色(&C)...")),
            &QAction::triggered, this, &Form1::color_Click);
    connect(addItem(pattern, QStringLiteral("addpicture"), QStringLiteral("插入图片(&A)...")),
            &QAction::triggered, this, &Form1::addpicture_Click);

    QMenu *view = menuBar()->addMenu(QStringLiteral("查看(&V)"));
    view->setObjectName(QStringLiteral("view"));
    QAction *bar = addItem(view, QStringLiteral("bar"), QStringLiteral("状态栏(&S)"));
    bar->setCheckable(true);
    connect(bar, &QAction::triggered, this, &Form1::bar_Click);

    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->setObjectName(QStringLiteral("help"));
    connect(addItem(help, QStringLiteral("about"), QStringLiteral("关于记事本(&A)")),
            &QAction::triggered, this, &Form1::about_Click);
}

QAction *Form1::action(const QString &name) const
{
    return findChild<QAction *>(name);
}

QLabel *Form1::panel(int index) const
{
    return index >= 1 && index <= m_panels.size() ? m_panels.at(index - 1) : nullptr;
}

void Form1::Form_Load(const QStringList &arguments)
{
    // 1. The editor starts empty.
    m_document->clear();
    // A draft left by a window that did not close normally comes first; a
    // restored draft takes the place of the command-line file.
    const bool recovered = recoverDrafts();
    // 2. The file named on the command line.
    if (!recovered) {
        const std::optional<Error> failure = m_document->openCommandLine(arguments);
        if (failure) {
            tellFailure(failure);
        } else {
            // The save dialog can neither list nor type a name that is not
            // UTF-8: it offers this one, so that a save can go back to it.
            if (hasForeignBytes(m_document->lastPath()))
                openuse.FileName = m_document->lastPath();
            m_commands->tellLoadWarnings();
        }
    }
    // 3-5. Status bar panels, clock and caret texts.
    SetUpStatusBar();
    ShowDateTime();
    ShowCaretPos();
    Timer1->start();
    // 6. The window's icon: the program's own.
    QString iconFile;
    SetWindowIcon(this, iconFile, 0);
    // 7. The skin engine; a skin that cannot be applied leaves the plain look.
    bindSkinEngine(m_services.skins);
}

void Form1::showLoadProgress(qint64 done, qint64 total, bool first)
{
    // The caret shared the insertion point of the first slice and moved with
    // it; a loaded document starts with the caret at its beginning.
    if (first)
        Text1->setSelStart(0);
    // Only a load that takes a while is worth a progress row. The while is
    // the services' clock's, so that tests let time pass without waiting.
    const QDateTime now = m_services.clock.now();
    if (!m_loadStarted.isValid()) {
        m_loadStarted = now;
        return;
    }
    if (m_loadStarted.msecsTo(now) < loadProgressDelay.count() || total <= 0)
        return;
    // A draft coming back is named as the question named it.
    const QString recovering = m_drafts ? m_drafts->recoveringTitle() : QString();
    const QString title = recovering.isEmpty() ? m_document->shownTitle() : recovering;
    m_loadLabel->setText(QStringLiteral("正在载入 %1").arg(title));
    m_loadBar->setValue(int(done * 1000 / total));
    m_loadRow->show();
}

void Form1::showSaveProgress(qint64 done, qint64 total)
{
    if (m_saveStarted.isValid() &&
        m_saveStarted.msecsTo(m_services.clock.now()) >= loadProgressDelay.count() && total > 0) {
        m_loadLabel->setText(QStringLiteral("正在保存 %1").arg(m_document->savingTo()));
        m_loadBar->setValue(int(done * 1000 / total));
        m_loadRow->show();
    }
    // Paints and timers, but no key, click or drop: nothing may edit the
    // document while it is written (user input waits until the save is done).
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Form1::skin_Click()
{
    const Result<bool> change =
        SkinCommand(CommonDialog1, m_services.skins, m_services.skinLocations).run();
    if (!change.ok())
        tellFailure(Error{QStringLiteral("皮肤更换失败"), change.error().why});
    else if (change.value())
        m_services.messages.inform(QStringLiteral("皮肤更换成功"), Product::messageTitle,
                                   MessageIcon::Information);
}

void Form1::reg_Click()
{
    FrmMain dialog(m_services.registry, m_services.messages,
                   QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
                   m_services.systemDirectory, m_services.desktop, this);
    dialog.exec();
    // A damaged registry file was moved aside and started afresh: say so and
    // where the old one went, rather than only that a write failed.
    const std::u16string problem = m_services.registry.takeStorageProblem();
    if (!problem.empty())
        tellFailure(Error{QString::fromStdU16String(problem), QString()});
}

void Form1::SetUpStatusBar()
{
    const double dpi = logicalDpi(this);
    auto *first = new QLabel(showbar);
    auto *second = new QLabel(showbar);
    showbar->insertWidget(0, first);
    showbar->insertWidget(1, second);
    m_panels.insert(0, first);
    m_panels.insert(1, second);
    second->setFixedWidth(twipsToPixels(3000, dpi));
    first->setFixedWidth(twipsToPixels(3000, dpi));
    showbar->hide();
}

QString Form1::caretText(int line, int column)
{
    return QStringLiteral("第%1行            第%2列").arg(line).arg(column);
}

QString Form1::dateTimeText(const QDateTime &when, const QLocale &locale)
{
    const QDate date = when.date();
    return QStringLiteral("%1年%2月%3日 %4")
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day())
        .arg(timeOfDayText(when.time(), locale));
}

void Form1::ShowCaretPos()
{
    if (QLabel *p = panel(1)) {
        const auto pos = Text1->caretPosition();
        p->setText(caretText(pos.line, pos.column));
    }
}

void Form1::ShowDateTime()
{
    if (QLabel *p = panel(2))
        p->setText(dateTimeText(m_services.clock.now(), m_services.clock.locale()));
}

void Form1::bar_Click()
{
    // The check mark and the bar's visibility always change together; the
    // editor, as the central widget, takes the room the bar leaves at once.
    showbar->setVisible(action(QStringLiteral("bar"))->isChecked());
}

void Form1::new_Click()
{
    tellFailure(m_commands->new_());
}

void Form1::open_Click()
{
    tellFailure(m_commands->open());
}

void Form1::opensafe_Click()
{
    tellFailure(m_commands->opensafe());
}

void Form1::save_Click()
{
    tellFailure(m_commands->save().failure());
}

void Form1::Esc_Click()
{
    close();
}

void Form1::about_Click()
{
    m_services.messages.about(Product::aboutTitle, Product::name, programIcon());
}

void Form1::tellFailure(const std::optional<Error> &failure)
{
    if (!failure)
        return;
    const QString text = failure->why.isEmpty()
                             ? failure->what
                             : failure->what + QStringLiteral("：") + failure->why;
    m_services.messages.inform(text, Product::messageTitle, MessageIcon::Exclamation);
}

void Form1::undo_Click()
{
    Commands::undo(*Text1);
}

void Form1::cut_Click()
{
    tellFailure(Commands::cut(*Text1, m_services.clipboard));
}

void Form1::copy_Click()
{
    tellFailure(Commands::copy(*Text1, m_services.clipboard));
}

void Form1::paste_Click()
{
    Commands::paste(*Text1, m_services.clipboard);
}

void Form1::find_Click()
{
    Commands::find(*Text1, m_services.messages, SearchText);
}

void Form1::findon_Click()
{
    Commands::findon(*Text1, SearchText);
}

void Form1::SelectAll_Click()
{
    Commands::SelectAll(*Text1);
}

void Form1::date_Click()
{
    Commands::date(*Text1, m_services.clock);
}

void Form1::font_Click()
{
    Commands::font(*Text1, openuse);
}

void Form1::color_Click()
{
    Commands::color(*Text1, openuse);
}

void Form1::addpicture_Click()
{
    tellFailure(Commands::addpicture(*Text1, puse));
}

void Form1::printsetup_Click()
{
    Commands::printsetup(openuse, m_printer);
}

void Form1::print_Click()
{
    m_document->finishLoading(); // a big file still arriving prints whole
    tellFailure(Commands::print(*Text1, safeuse, m_printer, m_services.printers,
                                m_document->lastPath()));
}

void Form1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        queueDiskCheck();
}

void Form1::queueDiskCheck()
{
    // Asked once the activation is over, not inside it: the question is a
    // window of its own.
    if (!isActiveWindow() || m_diskCheckQueued)
        return;
    m_diskCheckQueued = true;
    QMetaObject::invokeMethod(this, &Form1::checkFileOnDisk, Qt::QueuedConnection);
}

void Form1::checkFileOnDisk()
{
    m_diskCheckQueued = false;
    // Back from a dialog or a question of a command still running (a save
    // asks about the change itself), or gone again before the check.
    if (QApplication::activeModalWidget() || !isActiveWindow())
        return;
    tellFailure(m_commands->offerReload());
}

void Form1::closeEvent(QCloseEvent *event)
{
    // Asked while a save writes the document: it closes once asked again.
    if (m_document->isSaving()) {
        event->ignore();
        return;
    }
    // Only an unchanged document, No, or a save that worked lets the window close.
    const Result<bool> discard = m_commands->mayDiscard();
    tellFailure(discard.failure());
    if (discard.ok() && discard.value()) {
        if (m_drafts)
            m_drafts->discard();
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace Inkwell
