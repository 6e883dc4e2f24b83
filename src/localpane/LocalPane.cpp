#include "LocalPane.h"

#include "platform/FileDrops.h"
#include "platform/FileListModel.h"
#include "platform/FileTypeIcons.h"

#include "LocalFileOps.h"
#include "LocalListing.h"
#include "common/TextCodec.h"
#include "common/WorkerQueue.h"
#include "platform/AppContext.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <system_error>

namespace quill {
namespace fs = std::filesystem;

namespace {

constexpr int kNameRole = kFileNameRole;
constexpr int kParentRole = Qt::UserRole + 1;

constexpr int kName = kNameColumn;
constexpr int kSize = kSizeColumn;

// A folder of up to this many entries is read and measured at once on the
// window thread (a few milliseconds); a larger one on the worker, so the
// window never stalls for it.
constexpr std::size_t kReadHere = 2000;

std::string NameOf(const QModelIndex& index) {
    return index.siblingAtColumn(kName).data(kNameRole).toByteArray().toStdString();
}

bool IsReadableFolder(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    return !ec;
}

// The nearest folder at or above folder that still exists.
fs::path ExistingFolder(fs::path folder) {
    std::error_code ec;
    while (!fs::is_directory(folder, ec) && folder.has_relative_path()) {
        folder = folder.parent_path();
    }
    return FolderListPath(folder);
}

}  // namespace

LocalPane::LocalPane(AppContext& context, QWidget* parent, const fs::path& startFolder)
    : QWidget(parent),
      m_context(context),
      m_drive1(new QComboBox(this)),
      m_dir1(new QListWidget(this)),
      m_label1(new QLabel(this)),
      m_files(new FileListModel(
          {[](std::int64_t bytes) { return LocalSizeText(static_cast<std::uintmax_t>(bytes)); },
           [formatDate = LocalDateFormatter()](std::int64_t ms) { return formatDate(ms); }},
          FileTypeIcons(), this)),
      m_listView1(new FileListView(this)),
      m_measurer(new WorkerQueue(QStringLiteral("Local folder"), this)),
      m_zLocal(new QMenu(QStringLiteral("Client"), this)),
      m_zLokRef(new QAction(QStringLiteral("&Refresh"), this)),
      m_zLokUp(new QAction(QStringLiteral("&Upload"), this)),
      m_zLokNF(new QAction(QStringLiteral("&New Folder"), this)),
      m_zLokDF(new QAction(QStringLiteral("&Remove Folder"), this)),
      m_zLokDS(new QAction(QStringLiteral("&Delete File"), this)),
      m_zLokRS(new QAction(QStringLiteral("Rename &File"), this)) {
    setObjectName(QStringLiteral("LocalPane"));

    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_drive1->setAccessibleName(QStringLiteral("Local drive"));
    m_dir1->setObjectName(QStringLiteral("Dir1"));
    m_dir1->setAccessibleName(QStringLiteral("Local folders"));
    m_dir1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setTextFormat(Qt::PlainText);
    m_label1->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_listView1->setObjectName(QStringLiteral("ListView1"));
    m_listView1->setAccessibleName(QStringLiteral("Local files"));
    SetUpFileListView(m_listView1, m_files);
    // Widths from the layout in twips, 15 to a pixel.
    m_listView1->setColumnWidth(kName, 3528 / 15);
    m_listView1->setColumnWidth(kSize, 2117 / 15);
    m_listView1->setColumnWidth(kDateColumn, 2117 / 15);
    m_listView1->setEditTriggers(QAbstractItemView::EditKeyPressed);
    m_listView1->setItemDelegate(new RenameDelegate(
        [this](const QModelIndex& index, const QString& text) {
            // Runs after the editor has closed, so the refresh may rebuild the list.
            QMetaObject::invokeMethod(
                this, [this, name = NameOf(index), text] { ListView1_AfterLabelEdit(name, text); },
                Qt::QueuedConnection);
        },
        m_listView1));
    m_listView1->setDragEnabled(true);
    m_listView1->setDragDropMode(QAbstractItemView::DragOnly);
    m_listView1->setDefaultDropAction(Qt::CopyAction);
    // Only the server's rows drop here: they download.
    const auto remoteRows = [](const Dropped& drop) { return drop.remoteFiles.has_value(); };
    AcceptDrops(m_listView1->viewport(), remoteRows, [this](const Dropped& drop) {
        Q_EMIT downloadDropped(m_localPath, *drop.remoteFiles);
    });
    AcceptDrops(m_dir1->viewport(), remoteRows, [this](const Dropped& drop) {
        Q_EMIT downloadDropped(LocalPathOf(dropFolder(drop.position)), *drop.remoteFiles);
    });
    m_listView1->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* driveLabel = new QLabel(QStringLiteral("Dri&ve:"), this);
    driveLabel->setBuddy(m_drive1);
    auto* folderLabel = new QLabel(QStringLiteral("F&olders:"), this);
    folderLabel->setBuddy(m_dir1);
    auto* fileLabel = new QLabel(QStringLiteral("Fi&les:"), this);
    fileLabel->setBuddy(m_listView1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(driveLabel);
    driveRow->addWidget(m_drive1, 1);
    layout->addLayout(driveRow);
    layout->addWidget(folderLabel);
    layout->addWidget(m_dir1, 1);
    layout->addWidget(m_label1);
    layout->addWidget(fileLabel);
    layout->addWidget(m_listView1, 2);
    setTabOrder(m_drive1, m_dir1);
    setTabOrder(m_dir1, m_listView1);

    m_zLocal->setObjectName(QStringLiteral("zLocal"));
    m_zLokRef->setObjectName(QStringLiteral("zLokRef"));
    m_zLokUp->setObjectName(QStringLiteral("zLokUp"));
    m_zLokNF->setObjectName(QStringLiteral("zLokNF"));
    m_zLokDF->setObjectName(QStringLiteral("zLokDF"));
    m_zLokDS->setObjectName(QStringLiteral("zLokDS"));
    m_zLokRS->setObjectName(QStringLiteral("zLokRS"));
    // The upload batch is not built yet; the window frame will connect it.
    connect(m_zLokUp, &QAction::triggered, this, &LocalPane::uploadRequested);
    m_zLocal->addAction(m_zLokRef);
    m_zLocal->addSeparator()->setObjectName(QStringLiteral("zSep6"));
    m_zLocal->addAction(m_zLokUp);
    m_zLocal->addAction(m_zLokNF);
    m_zLocal->addAction(m_zLokDF);
    m_zLocal->addAction(m_zLokDS);
    m_zLocal->addAction(m_zLokRS);

    // The keys act while the focus is in this pane; the menus show them.
    for (const auto& [action, key] :
         {std::pair{m_zLokRef, QKeySequence(Qt::Key_F5)},
          std::pair{m_zLokNF, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N)},
          std::pair{m_zLokRS, QKeySequence(Qt::Key_F2)}}) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
    }
    connect(m_zLokRef, &QAction::triggered, this, [this] { RefreshLocalList(); });
    connect(m_zLokNF, &QAction::triggered, this, [this] { zLokNF_Click(); });
    connect(m_zLokDF, &QAction::triggered, this, [this] { zLokDF_Click(); });
    connect(m_zLokDS, &QAction::triggered, this, [this] { zLokDS_Click(); });
    connect(m_zLokRS, &QAction::triggered, this, [this] { zLokRS_Click(); });
    connect(m_drive1, &QComboBox::activated, this, [this](int index) { Drive1_Change(index); });
    connect(m_dir1, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { Dir1_Activated(item); });
    connect(m_listView1->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { ListView1_ColumnClick(column); });
    connect(m_listView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { showListMenu(position); });
    m_listView1->installEventFilter(this);
    m_listView1->viewport()->installEventFilter(this);
    m_dir1->installEventFilter(this);

    std::error_code error;
    setFolder(!startFolder.empty() && fs::is_directory(startFolder, error)
                  ? startFolder
                  : m_context.programFolder);
}

LocalPane::~LocalPane() {
    // A folder still being measured stops at its next check; its result is
    // dropped with the queue.
    ++*m_latestListing;
    m_measurer->shutdown();
}

void LocalPane::setFolder(const fs::path& folder) {
    m_folder = ExistingFolder(FolderListPath(folder));
    RefreshLocalList();
}

void LocalPane::RefreshLocalList() {
    // The folder may have been removed from outside since it was listed.
    m_folder = ExistingFolder(m_folder);
    LocalFolderContents contents = ReadLocalFolder(m_folder, kReadHere);
    fillDriveList();

    const std::string previous = m_localPath;
    m_localPath = LocalPathOf(m_folder);
    m_files->setDragFolder(m_localPath);
    m_label1->setText(LocalPathLabel(m_localPath));
    m_label1->setToolTip(DisplayName(m_localPath));
    fillLists(contents);
    if (m_localPath != previous) {
        Q_EMIT localPathChanged(DisplayName(m_localPath));
    }
}

void LocalPane::fillDriveList() {
    QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    std::sort(volumes.begin(), volumes.end(), [](const QStorageInfo& a, const QStorageInfo& b) {
        const bool aRoot = a.isRoot();
        const bool bRoot = b.isRoot();
        return aRoot != bRoot ? aRoot : a.rootPath() < b.rootPath();
    });
    const QSignalBlocker blocker(m_drive1);
    m_drive1->clear();
    if (volumes.isEmpty() || !volumes.front().isRoot()) {
        m_drive1->addItem(QStringLiteral("/"), QStringLiteral("/"));
    }
    for (const QStorageInfo& volume : volumes) {
        const QString name = volume.name();
        m_drive1->addItem(name.isEmpty() || volume.isRoot()
                              ? volume.rootPath()
                              : QStringLiteral("%1 [%2]").arg(volume.rootPath(), name),
                          volume.rootPath());
    }
    // Show the volume that holds the current folder: the longest matching root.
    const QString folder = DisplayName(m_localPath.empty() ? LocalPathOf(m_folder) : m_localPath);
    int best = 0;
    qsizetype bestLength = 0;
    for (int i = 0; i < m_drive1->count(); ++i) {
        QString root = m_drive1->itemData(i).toString();
        if (!root.endsWith(QLatin1Char('/'))) {
            root += QLatin1Char('/');
        }
        if (folder.startsWith(root) && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    m_drive1->setCurrentIndex(best);
}

void LocalPane::fillFolderList(const LocalFolderContents& contents) {
    const QStyle* style = m_dir1->style();
    m_dir1->setUpdatesEnabled(false);
    m_dir1->clear();
    if (m_folder.has_relative_path()) {
        auto* parent = new QListWidgetItem(style->standardIcon(QStyle::SP_FileDialogToParent),
                                           QStringLiteral(".."), m_dir1);
        parent->setData(kParentRole, true);
        parent->setToolTip(QStringLiteral("Parent folder"));
    }
    const QIcon folderIcon = style->standardIcon(QStyle::SP_DirIcon);
    for (const std::string& name : contents.folders) {
        auto* item = new QListWidgetItem(folderIcon, DisplayName(name), m_dir1);
        item->setData(kNameRole, ByteArrayOf(name));
    }
    m_dir1->setUpdatesEnabled(true);
}

void LocalPane::refreshFolderList() {
    fillFolderList(ReadLocalFolder(m_folder));
}

void LocalPane::fillLists(LocalFolderContents& contents) {
    const std::uint64_t listing = ++*m_latestListing;
    if (contents.complete) {
        fillFolderList(contents);
        MeasureLocalFiles(m_folder, contents.files);
        showFiles(std::move(contents.files));
        return;
    }
    // Both lists wait, empty, while a large folder is read and measured.
    m_measuring = true;
    fillFolderList({});
    m_files->setRows({});
    m_listView1->viewport()->setCursor(Qt::BusyCursor);
    m_measurer->submit<LocalFolderContents>(
        [latest = m_latestListing, listing, folder = m_folder] {
            LocalFolderContents read = ReadLocalFolder(folder);
            MeasureLocalFiles(folder, read.files, [&] { return latest->load() != listing; });
            return read;
        },
        [this, listing](LocalFolderContents read) {
            if (listing == m_latestListing->load()) {
                fillFolderList(read);
                showFiles(std::move(read.files));
            }
        });
}

void LocalPane::showFiles(std::vector<FileListRow> files) {
    if (m_sorted) {
        SortFileRows(files, m_sortKey, m_sortOrder == Qt::DescendingOrder);
    }
    m_measuring = false;
    m_listView1->viewport()->unsetCursor();
    m_files->setRows(std::move(files));
    m_listView1->clearSelection();
    m_listView1->setCurrentIndex({});
    Q_EMIT fileListShown();
}

std::vector<std::string> LocalPane::selectedFileNames() const {
    std::vector<std::string> names;
    for (auto& file : selectedFilesWithSizes()) {
        names.push_back(std::move(file.first));
    }
    return names;
}

std::vector<std::pair<std::string, std::int64_t>> LocalPane::selectedFilesWithSizes() const {
    std::vector<std::pair<std::string, std::int64_t>> files;
    for (const int row : SelectedFileRows(*m_listView1)) {
        const FileListRow& file = m_files->rows()[static_cast<std::size_t>(row)];
        files.emplace_back(file.name, file.bytes);
    }
    return files;
}

bool LocalPane::hasCurrentFile() const {
    return m_listView1->currentIndex().isValid();
}

void LocalPane::warn(const QString& text) {
    m_context.dialogs.message(text, MessageIcon::Exclamation);
}

void LocalPane::Drive1_Change(int index) {
    const QString root = m_drive1->itemData(index).toString();
    const fs::path folder(root.toUtf8().toStdString());
    // A volume that cannot be read is ignored; the folder list keeps its folder.
    if (root.isEmpty() || !IsReadableFolder(folder)) {
        fillDriveList();
        return;
    }
    setFolder(folder);
}

void LocalPane::Dir1_Activated(QListWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    const bool toParent = item->data(kParentRole).toBool();
    const std::string name = item->data(kNameRole).toByteArray().toStdString();
    const fs::path target = toParent ? m_folder.parent_path() : m_folder / name;
    if (!IsReadableFolder(target)) {
        warn(Qs("The folder \"") + DisplayName(FolderListPath(target).string()) +
             Qs("\" can't be opened."));
        return;
    }
    const fs::path previous = m_folder;
    setFolder(target);
    if (toParent) {
        // Keep the folder just left under the cursor, as a folder list does.
        const QString left = DisplayName(previous.filename().string());
        for (int i = 0; i < m_dir1->count(); ++i) {
            if (m_dir1->item(i)->text() == left) {
                m_dir1->setCurrentRow(i);
                break;
            }
        }
    } else if (m_dir1->count() > 0) {
        m_dir1->setCurrentRow(0);
    }
}

fs::path LocalPane::dropFolder(const QPoint& position) const {
    const QListWidgetItem* item = m_dir1->itemAt(position);
    if (item == nullptr) {
        return m_folder;
    }
    return item->data(kParentRole).toBool()
               ? m_folder.parent_path()
               : m_folder / item->data(kNameRole).toByteArray().toStdString();
}

void LocalPane::openParentFolder() {
    if (m_dir1->count() > 0 && m_dir1->item(0)->data(kParentRole).toBool()) {
        Dir1_Activated(m_dir1->item(0));
    }
}

void LocalPane::zLokNF_Click() {
    const std::optional<QString> answer = m_context.dialogs.input(
        Qs(localtext::kNewFolderPrompt), Qs(localtext::kNewFolderTitle), QString());
    if (!answer || answer->isEmpty()) {
        return;
    }
    const LocalOpResult result = CreateLocalFolder(m_localPath, answer->toUtf8().toStdString());
    refreshFolderList();
    if (!result.ok && !result.message.isEmpty()) {
        warn(result.message);
    }
}

void LocalPane::zLokDF_Click() {
    if (const auto refusal = FolderRemovalRefusal(m_folder, m_context.programFolder)) {
        warn(*refusal);
        return;
    }
    if (!m_context.dialogs.askYesNo(RemoveFolderQuestion(m_folder))) {
        return;
    }
    const LocalOpResult result = RemoveLocalFolder(m_folder);
    if (!result.ok) {
        warn(result.message);
        return;
    }
    setFolder(m_folder.parent_path());
}

void LocalPane::zLokDS_Click() {
    if (!hasCurrentFile()) {
        warn(Qs(localtext::kNothingToDelete));
        return;
    }
    LocalOpResult result{true, {}};
    if (m_context.dialogs.askYesNo(Qs(localtext::kDeleteQuestion))) {
        result = DeleteLocalFiles(m_localPath, selectedFileNames());
    }
    RefreshLocalList();
    if (!result.ok) {
        warn(result.message);
    }
}

void LocalPane::zLokRS_Click() {
    const QModelIndex current = m_listView1->currentIndex().siblingAtColumn(kName);
    if (!current.isValid()) {
        warn(Qs(localtext::kNothingToRename));
        return;
    }
    m_listView1->scrollTo(current);
    m_listView1->edit(current);
}

void LocalPane::ListView1_AfterLabelEdit(const std::string& oldName, const QString& newText) {
    const std::string newName = newText.toUtf8().toStdString();
    // An edit that ends with no text, or the same text, changes nothing.
    if (newName.empty() || newName == oldName) {
        return;
    }
    if (!IsPlainName(newName)) {
        warn(Qs(localtext::kBadName));
        return;
    }
    if (const auto question = ExtensionChangeQuestion(oldName, newName)) {
        if (!m_context.dialogs.askYesNo(*question)) {
            return;
        }
    }
    const LocalOpResult result = RenameLocalFile(m_localPath, oldName, newName);
    if (!result.ok) {
        warn(result.message);
        return;
    }
    RefreshLocalList();
}

void LocalPane::OpenLocalFile() {
    if (!hasCurrentFile()) {
        warn(Qs(localtext::kNothingToOpen));
        return;
    }
    m_context.shell.open(DisplayName(m_localPath + NameOf(m_listView1->currentIndex())));
}

void LocalPane::ListView1_ColumnClick(int column) {
    if (column < kName || column > kBytesColumn) {
        return;
    }
    m_sortKey = column;
    m_sortOrder = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    m_sorted = true;
    m_listView1->header()->setSortIndicatorShown(true);
    m_listView1->header()->setSortIndicator(m_sortKey, m_sortOrder);
    m_files->sort(m_sortKey, m_sortOrder);
}

void LocalPane::showListMenu(const QPoint& position) {
    m_zLocal->popup(m_listView1->viewport()->mapToGlobal(position));
}

bool LocalPane::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->isAutoRepeat() || key->modifiers() & ~Qt::KeypadModifier) {
            return QWidget::eventFilter(watched, event);
        }
        if (key->key() == Qt::Key_Backspace &&
            (watched == m_dir1 || (watched == m_listView1 && !m_listView1->isEditing()))) {
            openParentFolder();
            return true;
        }
        if (watched == m_dir1 && key->key() == Qt::Key_Delete) {
            zLokDF_Click();
            return true;
        }
        if (watched == m_listView1 && !m_listView1->isEditing()) {
            if (key->key() == Qt::Key_Delete) {
                zLokDS_Click();
                return true;
            }
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                OpenLocalFile();
                return true;
            }
        }
    } else if (event->type() == QEvent::MouseButtonDblClick && watched == m_listView1->viewport()) {
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            OpenLocalFile();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace quill
