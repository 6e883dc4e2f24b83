#pragma once

#include "FtpSession.h"
#include "RemoteListing.h"
#include "TransferPlan.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QToolBar;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace quill {

struct AppContext;
class FileListModel;
class FileListView;
class FrmConnect;
class LocalPane;
class PublishFlow;
struct RemoteFiles;

// The FTP client window: quick-connect bar, local pane, the server's folder
// tree and file list, the connection panel and the status log. Every FTP
// operation runs on the session's engine; while one runs the FTP commands
// wait and "&Stop" ends it. Closing the window ends the FTP session and asks
// for the startup window again.
class frmmain final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmmain)
public:
    explicit frmmain(AppContext& context, QWidget* parent = nullptr);
    ~frmmain() override;

    // Item data roles of TView1 (ListView2 keeps names under kFileNameRole).
    static constexpr int kKeyRole = Qt::UserRole;        // node key, remote path bytes
    static constexpr int kImageRole = Qt::UserRole + 1;  // image list index

    FtpSession& session() { return m_session; }
    LocalPane* localPane() const { return m_localPane; }
    const QString& FileMask() const { return m_fileMask; }
    // An FTP operation or a publish is running.
    bool busy() const { return m_session.engine.busy() || !m_publish.isNull(); }

    // Inserts text at the log's caret.
    void AppendLog(const QString& text);
    // Appends a timed entry: time of day, message (" > ..."), CR LF.
    void LogEntry(const QString& message);

    // A connection attempt with checked fields (ConnectRequestFor).
    // sessionOpened is emitted once the session is open and again after a
    // successful connection.
    void Connect(const ConnectRequest& request);
    void List();
    void OpenFolder();
    void Refresh();
    void Sort(int column);
    // Backspace: lists the folder above the current one.
    void openParentFolder();

    void Command4_Click();
    void cmdStop_Click();
    void zConnect_Click();
    void zDisconnect_Click();
    void zRemNF_Click();
    void zRemDF_Click();
    void zRemDS_Click();
    void zRemRS_Click();
    void zLokUp_Click();
    void zRemDown_Click();
    void chmod_Click();
    // Publishes the local pane's folder to the server's current folder:
    // plans, shows the preview, then the transfer window.
    void zPublish_Click();
    void ListView2_AfterLabelEdit(const std::string& oldName, const QString& newText);
    void Toolbar1_ButtonClick(const QString& key);

Q_SIGNALS:
    void showForm1Requested();
    // The site manager's timer starts on these.
    void sessionOpened();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildToolBar();
    QWidget* buildCentral();
    void connectFinished(const FtpResult<std::string>& loginFolder);
    // The server showed a key not trusted yet (or a changed one): ask, and
    // connect again once if the user trusts it.
    void askTrust(const FtpServerKey& key);
    // A saved site reopens the remote and local folders last in use there.
    void openRememberedFolders();
    // Keeps the local folder, and a saved site's folders, for next time.
    void rememberFolders();
    // The folder the next listing shows, with the file mask; Label3 shows it.
    void setRemoteFolder(const std::string& folder);
    void addLoginFolderNodes();
    QTreeWidgetItem* nodeWithKey(const QByteArray& key) const;
    QTreeWidgetItem* selectedNode() const;
    // Adds a listing's folders below the tree node of remotePath.
    void showFolders(const std::string& remotePath, const std::vector<RemoteFolderNode>& folders);
    const std::string& rowName(int row) const;
    // The list's sort column and whether it is descending, once sorted.
    std::optional<std::pair<int, bool>> sortKey() const;
    void showListing(FtpResult<FtpListing> result);
    // A remote operation failed: the message box and log entry of its step;
    // when the connection broke the command may have run, so list again.
    void reportFailure(const FtpError& error, const QString& message, const QString& logEntry);
    bool checkConnected(const QString& message);
    bool checkTypedName(const QString& text);
    // A file or folder of that name is shown in the current folder.
    bool listedName(const std::string& name) const;
    void setBusy(bool busy);
    // Files dropped on the server's panes upload into remoteFolder; the
    // server's rows dropped on the local pane download into localFolder.
    void uploadDropped(const std::vector<std::string>& paths, const std::string& remoteFolder);
    void downloadDropped(const std::string& localFolder, const RemoteFiles& files);
    // Logs the plan's files and runs it in a new transfer window.
    void startBatch(TransferPlan plan);
    void batchEnded(TransferDirection direction);

    AppContext& m_context;
    FtpSession m_session;
    QString m_fileMask = QStringLiteral("*.*");
    int m_sortColumn = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_sorted = false;

    LocalPane* m_localPane = nullptr;
    QToolBar* m_toolbar1 = nullptr;
    QComboBox* m_cboProtocol = nullptr;
    QLineEdit* m_txtserver = nullptr;
    QLineEdit* m_txtuser = nullptr;
    QLineEdit* m_txtpass = nullptr;
    QLineEdit* m_txtport = nullptr;
    QPushButton* m_command4 = nullptr;
    QPushButton* m_cmdStop = nullptr;
    QTreeWidget* m_tview1 = nullptr;
    FileListModel* m_remoteFiles = nullptr;
    FileListView* m_listView2 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label6 = nullptr;
    QLabel* m_label7 = nullptr;
    QLabel* m_label8 = nullptr;
    QPlainTextEdit* m_txtInfo = nullptr;
    QAction* m_zPassive = nullptr;
    QMenu* m_zRemote = nullptr;
    // FTP commands that wait while an operation runs.
    std::vector<QAction*> m_ftpCommands;
    std::string m_siteName;
    // The saved site whose folders are remembered, while connected to it.
    std::string m_rememberedSite;
    // While a remembered folder is listed first: the login folder.
    std::string m_loginFolder;
    bool m_rememberFailed = false;
    // Planning, previewing or running a publish.
    QPointer<PublishFlow> m_publish;
};

}  // namespace quill
