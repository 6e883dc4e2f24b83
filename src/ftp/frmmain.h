#pragma once

#include "FtpSession.h"

#include <QMainWindow>
#include <QString>

#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace quill {

struct AppContext;
class LocalPane;

// The FTP client window: quick-connect bar, local pane, the server's folder
// tree and file list, the connection panel and the status log. Closing it
// ends the FTP session and asks for the startup window again.
class frmmain final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmmain)
public:
    explicit frmmain(AppContext& context, QWidget* parent = nullptr);
    ~frmmain() override;

    // Item data roles of TView1 and ListView2.
    static constexpr int kKeyRole = Qt::UserRole;        // node key, remote path bytes
    static constexpr int kImageRole = Qt::UserRole + 1;  // image list index
    static constexpr int kNameRole = Qt::UserRole + 2;   // name bytes as listed

    FtpSession& session() { return m_session; }
    LocalPane* localPane() const { return m_localPane; }
    const QString& FileMask() const { return m_fileMask; }

    // Inserts text at the log's caret.
    void AppendLog(const QString& text);
    // Appends a timed entry: time of day, message (" > ..."), CR LF.
    void LogEntry(const QString& message);

    // Steps of a connection attempt after the site manager has checked its
    // fields. sessionOpened runs once the session is open and again after a
    // successful connection (the site manager starts its timer there).
    void Connect(const ConnectRequest& request, const std::function<void()>& sessionOpened);
    void List();
    void OpenFolder();
    void Refresh();
    void Sort(int column);

    void Command4_Click();
    void zConnect_Click();
    void zDisconnect_Click();
    void Toolbar1_ButtonClick(const QString& key);

Q_SIGNALS:
    void showForm1Requested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildToolBar();
    QWidget* buildCentral();
    QTreeWidgetItem* nodeWithKey(const QByteArray& key) const;

    AppContext& m_context;
    FtpSession m_session;
    QString m_fileMask = QStringLiteral("*.*");
    int m_sortColumn = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_sorted = false;

    LocalPane* m_localPane = nullptr;
    QToolBar* m_toolbar1 = nullptr;
    QLineEdit* m_txtserver = nullptr;
    QLineEdit* m_txtuser = nullptr;
    QLineEdit* m_txtpass = nullptr;
    QLineEdit* m_txtport = nullptr;
    QPushButton* m_command4 = nullptr;
    QTreeWidget* m_tview1 = nullptr;
    QTreeWidget* m_listView2 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label6 = nullptr;
    QLabel* m_label7 = nullptr;
    QLabel* m_label8 = nullptr;
    QPlainTextEdit* m_txtInfo = nullptr;
    QAction* m_zPassive = nullptr;
    QMenu* m_zRemote = nullptr;
};

}  // namespace quill
