#pragma once

#include "HarvestEngine.h"
#include "ResultScan.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <string>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWebEngineView;

namespace quill {

struct AppContext;
class PublishFlow;

// The harvester window: search, result list, answer reading and bulk save.
// It is the home window; it hides rather than unloads, keeping its lists.
// Its network work runs on a HarvestEngine: the window shows the progress
// and offers Stop; hiding or destroying it stops the work.
class Form6 final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form6)
public:
    explicit Form6(AppContext& context, QWidget* parent = nullptr);
    ~Form6() override;

    void Command1_Click();  // Go
    void Command2_Click();  // fills the lists with what the search found
    void Command3_Click();  // Next
    void Command4_Click();  // Read the answer
    void Command5_Click();  // Save all
    void List1_Click();
    void Picture1_Click();
    // Publishes the articles folder to a saved site; while that runs, stops it.
    void cmdPublish_Click();
    void cmdStop_Click();

    // Go, Next or Save all is at work.
    bool busy() const { return m_engine.busy(); }

    // Hidden list of question addresses, in step with List1.
    const std::vector<std::string>& addresses() const { return m_list2; }
    int selectedAddressIndex() const { return m_list2Selected; }

Q_SIGNALS:
    // Next has written the hand-off page: the extractor window is to be shown.
    void showForm1Requested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void Form_Paint();
    void setList1Visible(bool visible);
    void selectFirstIfNone();
    int depthIndex() const;
    // While work runs, the commands that would start more are held disabled;
    // endWork gives them back the state they had.
    void beginWork(const QString& progress);
    void endWork(const QString& progress);
    void showProgress(const QString& text);
    void searched(const SearchOutcome& outcome, bool stopped);
    void fetched(const FetchOutcome& outcome, bool stopped);
    void savingQuestion(int n, int count);
    void questionSaved(const SavedQuestion& saved);
    void savedAll(bool stopped);

    AppContext& m_context;
    std::vector<ResultEntry> m_found;  // what the last search found
    std::vector<std::string> m_list2;  // List2
    int m_list2Selected = -1;
    bool m_watchingWindow = false;
    struct Held {
        QPushButton* button;
        bool enabled;
    };
    std::vector<Held> m_held;
    // What one Save all gathers for its closing message.
    struct SaveRun {
        QString term;
        QString problem;
        QStringList notDownloaded;
        bool savedAny = false;
    } m_save;

    QLabel* m_label1;
    QLineEdit* m_text1;
    QPushButton* m_command1;
    QGroupBox* m_frame1;
    QRadioButton* m_option1;
    QRadioButton* m_option2;
    QRadioButton* m_option3;
    QGroupBox* m_frame2;
    QRadioButton* m_option4;
    QRadioButton* m_option5;
    QLabel* m_label3;
    QComboBox* m_combo1;
    QLabel* m_label4;
    QListWidget* m_list1;
    QWebEngineView* m_webBrowserx;
    QPushButton* m_command5;
    QPushButton* m_command4;
    QPushButton* m_command3;
    QPushButton* m_cmdPublish;
    QLabel* m_lblProgress;
    QPushButton* m_cmdStop;
    QPointer<PublishFlow> m_publish;
    // Its jobs touch only the engine; going, it stops them and drops their results.
    HarvestEngine m_engine;
};

}  // namespace quill
