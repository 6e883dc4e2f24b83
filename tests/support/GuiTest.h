#pragma once

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace quill::test {

// Runs the event loop until condition holds or timeoutMs passes; returns the
// condition's last value.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QTest::qWait(10);
    }
    return true;
}

// The child of root with this objectName; a missing one fails the test.
template <typename T>
T* FindNamed(const QObject& root, const char* name) {
    auto* object = root.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(object, nullptr) << "no child named " << name;
    return object;
}

// Chooses a button the way a screen reader does: through its accessible
// action (toggle for check and option buttons, press for others), with no
// mouse or key event.
inline void ChooseAccessibly(QAbstractButton& button) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&button);
    ASSERT_NE(accessible, nullptr);
    QAccessibleActionInterface* actions = accessible->actionInterface();
    ASSERT_NE(actions, nullptr);
    const QString toggle = QAccessibleActionInterface::toggleAction();
    actions->doAction(actions->actionNames().contains(toggle)
                          ? toggle
                          : QAccessibleActionInterface::pressAction());
}

// The texts of one column of a list view, top to bottom.
inline QStringList ColumnTexts(const QAbstractItemView& view, int column) {
    QStringList texts;
    for (int row = 0; row < view.model()->rowCount(); ++row) {
        texts << view.model()->index(row, column).data().toString();
    }
    return texts;
}

// The first column's cell that shows text, or an invalid index.
inline QModelIndex RowNamed(const QAbstractItemView& view, const QString& text) {
    const QModelIndexList found =
        view.model()->match(view.model()->index(0, 0), Qt::DisplayRole, text, 1, Qt::MatchExactly);
    return found.isEmpty() ? QModelIndex() : found.front();
}

// Selects the rows showing these names, as a user would one after another;
// the last becomes the current row.
inline void SelectRows(QAbstractItemView& view, const QStringList& names) {
    view.clearSelection();
    for (const QString& name : names) {
        const QModelIndex row = RowNamed(view, name);
        ASSERT_TRUE(row.isValid()) << name.toStdString();
        view.selectionModel()->setCurrentIndex(
            row, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

}  // namespace quill::test
