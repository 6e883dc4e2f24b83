#pragma once

#include <QWidget>

#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWebEngineView;

namespace quill {

struct AppContext;

// The harvester window: search, result list, answer reading and bulk save.
// It is the home window; it hides rather than unloads, keeping its lists.
class Form6 final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form6)
public:
    explicit Form6(AppContext& context, QWidget* parent = nullptr);

    void Command1_Click();  // Go
    void Command2_Click();  // result-page scan
    void Command3_Click();  // Next
    void Command4_Click();  // Read the answer
    void Command5_Click();  // Save all
    void List1_Click();
    void Picture1_Click();

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

    AppContext& m_context;
    std::vector<std::string> m_list2;  // List2
    int m_list2Selected = -1;
    std::string m_text2;  // result-page text
    std::string m_text3;  // question-page text
    bool m_watchingWindow = false;

    QLabel* m_label1;
    QLineEdit* m_text1;
    QPushButton* m_command1;
    QGroupBox* m_frame1;
    QRadioButton* m_option1;
    QRadioButton* m_option2;
    QRadioButton* m_option3;
    QListWidget* m_list1;
    QWebEngineView* m_webBrowserx;
    QPushButton* m_command5;
    QPushButton* m_command4;
    QPushButton* m_command3;
};

}  // namespace quill
