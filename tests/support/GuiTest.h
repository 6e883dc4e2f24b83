#pragma once

#include <QAbstractButton>
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

}  // namespace quill::test
