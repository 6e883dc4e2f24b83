#pragma once

#include "ResultScan.h"

#include <QPointer>
#include <QWidget>

#include <memory>
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
class ClassicSource;
class PublishFlow;
class QaSource;
class StackExchangeSource;

// The harvester window: search, result list, answer reading and bulk save.
// It is the home window; it hides rather than unloads, keeping its lists.
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

    // Hidden list of question addresses, in step with List1.
    const std::vector<std::string>& addresses() const { return m_list2; }
    int selectedAddressIndex() const { return m_list2Selected; }

Q_SIGNALS:
    // Next has written the hand-off page: the extractor window is to be shown.
    void showForm1Requested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void Form_Paint();
    void setList1Visible(bool visible);
    void selectFirstIfNone();
    int depthIndex() const;
    void showStatus();

    AppContext& m_context;
    std::unique_ptr<ClassicSource> m_classic;
    std::unique_ptr<StackExchangeSource> m_stackExchange;
    // The source whose search filled the lists: Next and Save all fetch from it.
    QaSource* m_listSource;
    std::vector<ResultEntry> m_found;  // what the last search found
    std::vector<std::string> m_list2;  // List2
    int m_list2Selected = -1;
    bool m_watchingWindow = false;

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
    QPointer<PublishFlow> m_publish;
};

}  // namespace quill
