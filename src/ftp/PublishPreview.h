#pragma once

#include "publish/Publisher.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace quill {

// What a publish will do, before it does it: a row per file, folder to
// create and problem, coloured and named by kind, the counts and bytes of
// each kind, and the choice to delete remote files removed here. Accepted by
// "&Publish"; "Cancel" and Escape reject it.
class PublishPreview final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PublishPreview)
public:
    // from and to name the local folder and the site's folder for the heading.
    PublishPreview(const PublishPlan& plan, const QString& from, const QString& to,
                   QWidget* parent = nullptr);
    ~PublishPreview() override;

    PublishOptions options() const;

private:
    void showChoice();

    bool m_hasWork = false;       // with deletions chosen
    bool m_hasOtherWork = false;  // without
    int m_deletions = 0;
    bool m_blocked = false;  // problems: no deletion would run
    std::int64_t m_deleteBytes = 0;
    std::int64_t m_sendBytes = 0;
    int m_sends = 0;
    QTreeWidget* m_lstSteps;
    QCheckBox* m_chkDelete;
    QLabel* m_lblDelete;
    QLabel* m_lblTotal;
    QLabel* m_lblNothing;
    QPushButton* m_cmdPublish;
};

}  // namespace quill
