#include "frmmain.h"

#include "FrmConnect.h"
#include "RemoteListing.h"
#include "StatusLog.h"
#include "common/TextCodec.h"
#include "localpane/LocalPane.h"
#include "platform/AppContext.h"
#include "platform/Banner.h"
#include "platform/FileTypeIcons.h"
#include "platform/TextSortItem.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <array>

namespace quill {
namespace {

// The hourglass over the window while a blocking step runs.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Image list: 1..10 file types, 11 server root, 12 folder, 13 open folder.
QIcon imageListIcon(int index) {
    QStyle* style = QApplication::style();
    if (index >= 1 && index <= 10) {
        static const auto types = FileTypeIcons();
        return types[static_cast<std::size_t>(index)];
    }
    switch (index) {
        case 11:
            return style->standardIcon(QStyle::SP_DriveNetIcon);
        case 12:
            return style->standardIcon(QStyle::SP_DirClosedIcon);
        case 13:
            return style->standardIcon(QStyle::SP_DirOpenIcon);
        default:
            return style->standardIcon(QStyle::SP_FileIcon);
    }
}

QString display(const std::string& bytes) {
    return ToDisplay(bytes, DetectEncoding(bytes));
}

QByteArray bytesOf(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* buddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

frmmain::frmmain(AppContext& context, QWidget* parent) : QMainWindow(parent), m_context(context) {
    setObjectName(QStringLiteral("frmmain"));
    setWindowTitle(QStringLiteral("Tarnwick Ftp Client 1.0"));
    resize(1120, 760);
    // Load: FileMask is set by its initialiser; the local pane starts in the
    // program folder.
    m_localPane = new LocalPane(m_context, this);
    m_localPane->setFolder(m_context.programFolder);
    buildMenus();
    buildToolBar();
    setCentralWidget(buildCentral());
}

frmmain::~frmmain() {
    m_session.CloseHandles();
}

void frmmain::buildMenus() {
    auto action = [this](QMenu* menu, const char* name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    auto separator = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(name));
    };

    QMenu* zSoubor = menuBar()->addMenu(QStringLiteral("&File"));
    zSoubor->setObjectName(QStringLiteral("zSoubor"));
    connect(action(zSoubor, "zConnect", QStringLiteral("&Connect")), &QAction::triggered, this,
            &frmmain::zConnect_Click);
    connect(action(zSoubor, "zDisconnect", QStringLiteral("&Disconnect")), &QAction::triggered,
            this, &frmmain::zDisconnect_Click);
    separator(zSoubor, "zSep9");
    connect(action(zSoubor, "zEnd", QStringLiteral("E&xit")), &QAction::triggered, this,
            &QWidget::close);

    QMenu* option = menuBar()->addMenu(QStringLiteral("Option"));
    option->setObjectName(QStringLiteral("option"));
    option->addMenu(m_localPane->clientMenu());
    m_zRemote = option->addMenu(QStringLiteral("Server"));
    m_zRemote->setObjectName(QStringLiteral("zRemote"));
    connect(action(m_zRemote, "zRemRef", QStringLiteral("&Refresh")), &QAction::triggered, this,
            &frmmain::Refresh);
    separator(m_zRemote, "zSep7");
    // Transfers and remote file operations come with their own changes.
    action(m_zRemote, "zRemDown", QStringLiteral("&Download"))->setEnabled(false);
    action(m_zRemote, "zRemNF", QStringLiteral("&New Folder"))->setEnabled(false);
    action(m_zRemote, "zRemDF", QStringLiteral("Rem&ove Folder"))->setEnabled(false);
    action(m_zRemote, "zRemDS", QStringLiteral("&Delete File"))->setEnabled(false);
    action(m_zRemote, "zRemRS", QStringLiteral("Ren&ame File"))->setEnabled(false);

    QMenu* zNast = menuBar()->addMenu(QStringLiteral("&Tools"));
    zNast->setObjectName(QStringLiteral("zNast"));
    m_zPassive = action(zNast, "zPassive", QStringLiteral("&Passive mode"));
    m_zPassive->setCheckable(true);
    separator(zNast, "okala");
    action(zNast, "chmod", QStringLiteral("Properties"))->setEnabled(false);

    QMenu* zHilfe = menuBar()->addMenu(QStringLiteral("&Help"));
    zHilfe->setObjectName(QStringLiteral("zHilfe"));
    connect(action(zHilfe, "zAbout", QStringLiteral("&About")), &QAction::triggered, this,
            &frmmain::showForm1Requested);
}

void frmmain::buildToolBar() {
    m_toolbar1 = addToolBar(QStringLiteral("Tool bar"));
    m_toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    m_toolbar1->setMovable(false);
    struct Button {
        const char* key;
        const char* tip;
        QStyle::StandardPixmap icon;
        bool available;
    };
    // Upload, download, new folder and delete arrive with the transfer and
    // remote-operation changes; their buttons are in place but unavailable.
    static constexpr Button kButtons[] = {
        {"Connect", "Connect", QStyle::SP_DialogYesButton, true},
        {"Disconnect", "Disconnect", QStyle::SP_DialogNoButton, true},
        {"Reload2", "Reconnect", QStyle::SP_BrowserReload, true},
        {"Upload", "Upload", QStyle::SP_ArrowUp, false},
        {"NewFolder2", "Download", QStyle::SP_ArrowDown, false},
        {"DelFolder2", "Add folder", QStyle::SP_FileDialogNewFolder, false},
        {"Rename2", "Delete file", QStyle::SP_TrashIcon, false},
        {"DelFile2", "About", QStyle::SP_MessageBoxInformation, true},
    };
    for (const Button& button : kButtons) {
        const QString key = QString::fromLatin1(button.key);
        QAction* a = m_toolbar1->addAction(style()->standardIcon(button.icon),
                                           QString::fromLatin1(button.tip));
        a->setObjectName(key);
        a->setData(key);
        a->setToolTip(QString::fromLatin1(button.tip));
        a->setEnabled(button.available);
        connect(a, &QAction::triggered, this, [this, key] { Toolbar1_ButtonClick(key); });
    }
}

QWidget* frmmain::buildCentral() {
    auto* central = new QWidget(this);

    auto* banner = new Banner(QStringLiteral("Label13"), central);
    banner->setObjectName(QStringLiteral("Banner"));
    banner->label()->setText(Qs(app::kTitle));
    connect(banner, &Banner::clicked, this,
            [this] { m_context.shell.open(Qs(app::kProductPage)); });

    m_txtserver = new QLineEdit(central);
    m_txtserver->setObjectName(QStringLiteral("txtserver"));
    m_txtserver->setAccessibleName(QStringLiteral("Server address"));
    m_txtuser = new QLineEdit(central);
    m_txtuser->setObjectName(QStringLiteral("txtuser"));
    m_txtuser->setAccessibleName(QStringLiteral("Username"));
    m_txtpass = new QLineEdit(central);
    m_txtpass->setObjectName(QStringLiteral("txtpass"));
    m_txtpass->setAccessibleName(QStringLiteral("Password"));
    m_txtpass->setEchoMode(QLineEdit::Password);
    m_txtport = new QLineEdit(QStringLiteral("21"), central);
    m_txtport->setObjectName(QStringLiteral("txtport"));
    m_txtport->setAccessibleName(QStringLiteral("Port"));
    m_txtport->setMaximumWidth(70);
    m_command4 = new QPushButton(QStringLiteral("Connect"), central);
    m_command4->setObjectName(QStringLiteral("Command4"));
    connect(m_command4, &QPushButton::clicked, this, &frmmain::Command4_Click);
    // Enter in any quick-connect field connects, as the bar's button does.
    for (QLineEdit* field : {m_txtserver, m_txtuser, m_txtpass, m_txtport}) {
        connect(field, &QLineEdit::returnPressed, this, &frmmain::Command4_Click);
    }

    auto* quickBar = new QHBoxLayout;
    quickBar->addWidget(buddyLabel(QStringLiteral("FTP://"), m_txtserver, central));
    quickBar->addWidget(m_txtserver, 3);
    quickBar->addWidget(buddyLabel(QStringLiteral("Username :"), m_txtuser, central));
    quickBar->addWidget(m_txtuser, 2);
    quickBar->addWidget(buddyLabel(QStringLiteral("Password :"), m_txtpass, central));
    quickBar->addWidget(m_txtpass, 2);
    quickBar->addWidget(buddyLabel(QStringLiteral("Port :"), m_txtport, central));
    quickBar->addWidget(m_txtport);
    quickBar->addWidget(m_command4);

    m_label3 = new QLabel(central);
    m_label3->setObjectName(QStringLiteral("Label3"));
    m_label3->setAccessibleName(QStringLiteral("Remote folder"));
    m_tview1 = new QTreeWidget(central);
    m_tview1->setObjectName(QStringLiteral("TView1"));
    m_tview1->setAccessibleName(QStringLiteral("Remote folders"));
    m_tview1->setHeaderHidden(true);
    m_tview1->installEventFilter(this);
    connect(m_tview1, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        m_tview1->setCurrentItem(item);
        OpenFolder();
    });

    m_listView2 = new QTreeWidget(central);
    m_listView2->setObjectName(QStringLiteral("ListView2"));
    m_listView2->setAccessibleName(QStringLiteral("Remote files"));
    m_listView2->setColumnCount(4);
    m_listView2->setHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Date"), QString()});
    m_listView2->setColumnHidden(3, true);
    m_listView2->setColumnWidth(0, 235);
    m_listView2->setColumnWidth(1, 141);
    m_listView2->setRootIsDecorated(false);
    m_listView2->setUniformRowHeights(true);
    m_listView2->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_listView2->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    m_listView2->header()->setSectionsClickable(true);
    connect(m_listView2->header(), &QHeaderView::sectionClicked, this, &frmmain::Sort);
    m_listView2->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listView2, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        m_zRemote->popup(m_listView2->viewport()->mapToGlobal(pos));
    });

    auto* remotePane = new QWidget(central);
    auto* remoteLayout = new QVBoxLayout(remotePane);
    remoteLayout->setContentsMargins(0, 0, 0, 0);
    remoteLayout->addWidget(m_label3);
    auto* remoteSplit = new QSplitter(Qt::Vertical, remotePane);
    remoteSplit->addWidget(m_tview1);
    remoteSplit->addWidget(m_listView2);
    remoteSplit->setStretchFactor(1, 2);
    remoteLayout->addWidget(remoteSplit);

    auto* panes = new QSplitter(Qt::Horizontal, central);
    panes->addWidget(m_localPane);
    panes->addWidget(remotePane);
    panes->setChildrenCollapsible(false);
    panes->setStretchFactor(0, 1);
    panes->setStretchFactor(1, 1);
    panes->setSizes({10000, 10000});  // both sides start equally wide

    auto* picture1 = new QFrame(central);
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setFrameShape(QFrame::StyledPanel);
    picture1->setAccessibleName(QStringLiteral("Connection"));
    m_label6 = new QLabel(picture1);
    m_label6->setObjectName(QStringLiteral("Label6"));
    m_label7 = new QLabel(picture1);
    m_label7->setObjectName(QStringLiteral("Label7"));
    m_label8 = new QLabel(picture1);
    m_label8->setObjectName(QStringLiteral("Label8"));
    auto* panel = new QGridLayout(picture1);
    panel->addWidget(buddyLabel(QStringLiteral("Address : "), m_label6, picture1), 0, 0);
    panel->addWidget(m_label6, 0, 1);
    panel->addWidget(buddyLabel(QStringLiteral("Port : "), m_label7, picture1), 1, 0);
    panel->addWidget(m_label7, 1, 1);
    panel->addWidget(buddyLabel(QStringLiteral("Login : "), m_label8, picture1), 2, 0);
    panel->addWidget(m_label8, 2, 1);
    panel->setColumnStretch(1, 1);
    picture1->setMinimumWidth(220);

    m_txtInfo = new QPlainTextEdit(central);
    m_txtInfo->setObjectName(QStringLiteral("txtInfo"));
    m_txtInfo->setAccessibleName(QStringLiteral("Status log"));
    m_txtInfo->setReadOnly(true);
    m_txtInfo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_txtInfo->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(picture1);
    bottom->addWidget(m_txtInfo, 1);

    auto* layout = new QVBoxLayout(central);
    layout->addWidget(banner);
    layout->addLayout(quickBar);
    layout->addWidget(panes, 1);
    layout->addLayout(bottom);
    m_txtInfo->setMaximumHeight(170);

    setTabOrder(m_txtserver, m_txtuser);
    setTabOrder(m_txtuser, m_txtpass);
    setTabOrder(m_txtpass, m_txtport);
    setTabOrder(m_txtport, m_command4);
    // The local pane's lists come between the quick-connect bar and the server's.
    auto* drive1 = m_localPane->findChild<QWidget*>(QStringLiteral("Drive1"));
    auto* listView1 = m_localPane->findChild<QWidget*>(QStringLiteral("ListView1"));
    if (drive1 != nullptr && listView1 != nullptr) {
        setTabOrder(m_command4, drive1);
        setTabOrder(listView1, m_tview1);
    } else {
        setTabOrder(m_command4, m_tview1);
    }
    setTabOrder(m_tview1, m_listView2);
    setTabOrder(m_listView2, m_txtInfo);
    return central;
}

void frmmain::AppendLog(const QString& text) {
    // At the caret, wherever the user left it; it then sits behind the text.
    QTextCursor caret = m_txtInfo->textCursor();
    caret.insertText(ForTextBox(text));
    m_txtInfo->setTextCursor(caret);
}

void frmmain::LogEntry(const QString& message) {
    AppendLog(quill::LogEntry(LogTime(), message));
}

void frmmain::Connect(const ConnectRequest& request, const std::function<void()>& sessionOpened) {
    m_tview1->clear();
    m_txtInfo->clear();
    m_zPassive->setChecked(request.passive);
    // An earlier connection is closed before the new session opens.
    const bool opened = m_session.OpenSession(request);
    if (sessionOpened) {
        sessionOpened();
    }
    if (!opened) {
        m_context.dialogs.message(QStringLiteral("Connection to service failed!"),
                                  MessageIcon::Exclamation);
        AppendLog(QStringLiteral("Connection to service failed.\r\n"));
        m_session.CloseHandles();
        return;
    }
    AppendLog(
        ConnectHeading(LogDate(), LogTime(), Qs(request.siteName), Qs(m_session.ServerAddress)));
    FtpResult<std::string> loginFolder;
    {
        WaitCursor wait;
        loginFolder = m_session.ConnectServer();
    }
    if (!loginFolder) {
        m_context.dialogs.message(QStringLiteral("Connection to server failed"),
                                  MessageIcon::Exclamation);
        LogEntry(QStringLiteral(" > Connection to server failed."));
        LogEntry(QStringLiteral(" > ") + Qs(loginFolder.error().text));
        m_session.CloseHandles();
        return;
    }
    LogEntry(QStringLiteral(" > Connected to servise, looking for host."));
    m_label3->setText(display(*loginFolder));
    LogEntry(QStringLiteral(" > Connected to server."));
    auto* root = new QTreeWidgetItem(m_tview1, {QStringLiteral("..")});
    root->setData(0, kKeyRole, QByteArray("/"));
    root->setData(0, kImageRole, 11);
    root->setIcon(0, imageListIcon(11));
    m_session.RemotePath.assign(1, '/');  // "= \"/\"" trips a false -Wrestrict in g++ 12 -O3
    List();
    if (sessionOpened) {
        sessionOpened();
    }
}

QTreeWidgetItem* frmmain::nodeWithKey(const QByteArray& key) const {
    for (QTreeWidgetItemIterator it(m_tview1); *it; ++it) {
        if ((*it)->data(0, kKeyRole).toByteArray() == key) {
            return *it;
        }
    }
    return nullptr;
}

void frmmain::List() {
    if (!m_session.connected()) {
        m_context.dialogs.message(QStringLiteral("You are not connected to any server"),
                                  MessageIcon::Critical);
        return;
    }
    WaitCursor wait;
    m_listView2->clear();
    LogEntry(QStringLiteral(" > Transfering data..."));
    LogEntry(QStringLiteral(" > Opening folder: \"") + display(m_session.SearchPattern) +
             QStringLiteral("\""));
    auto found = m_session.ConnectionHandle->FindFiles(m_session.SearchPattern);
    if (found) {
        const RemoteListing listing = BuildRemoteListing(*found, m_session.RemotePath);
        if (QTreeWidgetItem* parent = nodeWithKey(bytesOf(m_session.RemotePath))) {
            for (const auto& folder : listing.folders) {
                auto* node = new QTreeWidgetItem(parent, {display(folder.name)});
                node->setData(0, kKeyRole, bytesOf(folder.key));
                node->setData(0, kNameRole, bytesOf(folder.name));
                node->setData(0, kImageRole, 12);
                node->setIcon(0, imageListIcon(12));
            }
            if (m_tview1->topLevelItemCount() > 0) {
                m_tview1->topLevelItem(0)->setExpanded(true);
            }
        }
        for (const auto& name : listing.unusableFolders) {
            LogEntry(QStringLiteral(" > Folder not shown, its name can not be opened: \"") +
                     display(name) + QStringLiteral("\""));
        }
        // Built in one go with painting off: a 20,000-entry folder fills fast.
        m_listView2->setUpdatesEnabled(false);
        QList<QTreeWidgetItem*> items;
        items.reserve(static_cast<qsizetype>(listing.files.size()));
        std::array<QIcon, 11> icons;
        for (std::size_t i = 1; i < icons.size(); ++i) {
            icons[i] = imageListIcon(static_cast<int>(i));
        }
        for (const auto& file : listing.files) {
            auto* item = new TextSortItem(QStringList{display(file.name), Qs(file.sizeText),
                                                      Qs(file.dateText), Qs(file.bytesText)});
            item->setData(0, kNameRole, bytesOf(file.name));
            item->setData(0, kImageRole, static_cast<int>(file.icon));
            if (file.icon > 0 && static_cast<std::size_t>(file.icon) < icons.size()) {
                item->setIcon(0, icons[static_cast<std::size_t>(file.icon)]);
            }
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            items.append(item);
        }
        m_listView2->addTopLevelItems(items);
        if (m_sorted) {
            m_listView2->sortItems(m_sortColumn, m_sortOrder);
        }
        m_listView2->setUpdatesEnabled(true);
    }
    LogEntry(QStringLiteral(" > Data transfer completed succesfully."));
    m_listView2->clearSelection();
    m_listView2->setCurrentItem(nullptr);
}

void frmmain::OpenFolder() {
    QTreeWidgetItem* node = m_tview1->currentItem();
    if (!node) {
        return;
    }
    node->setExpanded(true);
    m_session.RemotePath = node->text(0) == QStringLiteral("..")
                               ? std::string("/")
                               : node->data(0, kKeyRole).toByteArray().toStdString();
    m_session.SearchPattern = m_session.RemotePath + m_fileMask.toStdString();
    const QList<QTreeWidgetItem*> children = node->takeChildren();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        delete *it;
    }
    List();
    m_label3->setText(display(m_session.SearchPattern));
}

void frmmain::Refresh() {
    if (!m_session.connected()) {
        m_context.dialogs.message(QStringLiteral("Not connected to any server!"),
                                  MessageIcon::Critical);
        return;
    }
    if (m_tview1->currentItem() && m_tview1->currentItem()->isSelected()) {
        OpenFolder();
    }
}

void frmmain::Sort(int column) {
    m_sortColumn = column;
    m_sortOrder = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    m_sorted = true;
    m_listView2->header()->setSortIndicatorShown(true);
    m_listView2->header()->setSortIndicator(column, m_sortOrder);
    m_listView2->sortItems(column, m_sortOrder);
}

void frmmain::Command4_Click() {
    m_label6->setText(m_txtserver->text());
    m_label7->setText(m_txtport->text());
    m_label8->setText(m_txtuser->text());
    // The site manager is loaded but not shown; its timer unloads it.
    QPointer<FrmConnect> manager = new FrmConnect(m_context, *this, this);
    manager->setAttribute(Qt::WA_DeleteOnClose);
    manager->setConnectFields(m_txtserver->text(), m_txtuser->text(), m_txtpass->text(),
                              m_txtport->text());
    manager->Command3_Click();
    // The timer may already have unloaded it; otherwise an attempt that never
    // started the timer (refused fields) leaves it to be removed here.
    if (manager && !manager->Timer1()->isActive()) {
        manager->deleteLater();
    }
}

void frmmain::zConnect_Click() {
    FrmConnect manager(m_context, *this, this);
    manager.exec();
}

void frmmain::zDisconnect_Click() {
    m_session.CloseHandles();
    LogEntry(QStringLiteral(" > Server disconnected."));
}

void frmmain::Toolbar1_ButtonClick(const QString& key) {
    if (key == QStringLiteral("Connect")) {
        Command4_Click();
    } else if (key == QStringLiteral("Disconnect")) {
        zDisconnect_Click();
    } else if (key == QStringLiteral("Reload2")) {
        Refresh();
    } else if (key == QStringLiteral("DelFile2")) {
        Q_EMIT showForm1Requested();
    }
    // Upload, NewFolder2, DelFolder2 and Rename2 belong to transfers and
    // remote file operations.
}

void frmmain::closeEvent(QCloseEvent* event) {
    m_session.CloseHandles();
    event->accept();
    Q_EMIT showForm1Requested();
}

bool frmmain::eventFilter(QObject* watched, QEvent* event) {
    // Enter on a folder node opens it, as a click does.
    if (watched == m_tview1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_tview1->currentItem()) {
            OpenFolder();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace quill
