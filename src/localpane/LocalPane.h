#pragma once

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;

namespace quill {

struct AppContext;
class FileListModel;
class FileListView;
class WorkerQueue;
struct FileListRow;
struct LocalFolderContents;
struct RemoteFiles;

// The left half of the FTP client: drive, folder list, current folder label
// and the file list with its "Client" menu. Every operation acts on the disk
// at once; nothing is kept between commands beyond the current folder.
class LocalPane final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalPane)
public:
    // Starts in startFolder when it is a folder, else in the program folder.
    explicit LocalPane(AppContext& context, QWidget* parent = nullptr,
                       const std::filesystem::path& startFolder = {});
    ~LocalPane() override;

    // Opens the nearest existing folder at or above folder and lists it.
    void setFolder(const std::filesystem::path& folder);
    void RefreshLocalList();
    // The current folder, always ending in "/".
    std::string LocalPath() const { return m_localPath; }
    // The folder list's path: no trailing "/" except for the root.
    const std::filesystem::path& folderPath() const { return m_folder; }
    // The "Client" menu, also popped up by a right click in the file list.
    QMenu* clientMenu() const { return m_zLocal; }
    // Names (bytes) of the selected files, top to bottom.
    std::vector<std::string> selectedFileNames() const;
    // The selected files, top to bottom, with the size in bytes the list
    // shows for each (unknown for a file not measured).
    std::vector<std::pair<std::string, std::int64_t>> selectedFilesWithSizes() const;
    // A large folder is still being read off the window thread; the lists
    // are empty until fileListShown.
    // The file list has a current item (the upload batch's selection test).
    bool hasCurrentFile() const;
    bool measuring() const { return m_measuring; }

    void zLokNF_Click();
    void zLokDF_Click();
    void zLokDS_Click();
    void zLokRS_Click();
    void OpenLocalFile();
    // Header click: this column becomes the key and the order flips.
    void ListView1_ColumnClick(int column);
    // End of an in-place edit of the item named oldName.
    void ListView1_AfterLabelEdit(const std::string& oldName, const QString& newText);
    int sortKey() const { return m_sortKey; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

Q_SIGNALS:
    void localPathChanged(const QString& localPath);
    // "&Upload" in the Client menu; the FTP client runs the batch.
    void uploadRequested();
    // The file list holds the current folder's files, measured.
    void fileListShown();
    // The server's rows were dropped on the file list (into the current
    // folder) or on a folder of the folder list (into that one).
    void downloadDropped(const std::string& localFolder, const quill::RemoteFiles& files);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fillDriveList();
    void fillFolderList(const LocalFolderContents& contents);
    // Shows the folders and files read (all of them, or on the worker when
    // the read stopped early).
    void fillLists(LocalFolderContents& contents);
    void showFiles(std::vector<FileListRow> files);
    void refreshFolderList();
    void Drive1_Change(int index);
    void Dir1_Activated(QListWidgetItem* item);
    // Backspace: the folder above, as the folder list's ".." does.
    void openParentFolder();
    void showListMenu(const QPoint& position);
    // The folder that a drop at position in the folder list goes into.
    std::filesystem::path dropFolder(const QPoint& position) const;
    void warn(const QString& text);

    AppContext& m_context;
    std::filesystem::path m_folder;
    std::string m_localPath;
    int m_sortKey = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_sorted = false;
    bool m_measuring = false;
    // Counts listings, so a measure that a later listing overtook stops and
    // is dropped.
    std::shared_ptr<std::atomic<std::uint64_t>> m_latestListing =
        std::make_shared<std::atomic<std::uint64_t>>(0);

    QComboBox* m_drive1;
    QListWidget* m_dir1;
    QLabel* m_label1;
    FileListModel* m_files;
    FileListView* m_listView1;
    WorkerQueue* m_measurer;
    QMenu* m_zLocal;
    QAction* m_zLokRef;
    QAction* m_zLokUp;
    QAction* m_zLokNF;
    QAction* m_zLokDF;
    QAction* m_zLokDS;
    QAction* m_zLokRS;
};

}  // namespace quill
