#pragma once

// Answers the popup menus the code under test opens: chooses an item by its text or closes
// the menu, and remembers what the menu looked like.

#include "platform/gui/winapi.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>

struct SeenAction {
    QString text;
    bool separator = false;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    bool bold = false;
    bool exclusive = false;
};

class MenuAnswer {
public:
    // An empty choice closes the menu without choosing.
    explicit MenuAnswer(QString choice = {}) : choice_(std::move(choice)) {
        previous_ = vestrel::win::SetPopupMenuObserver(
            [this](QMenu& menu, QPoint at) { answer(menu, at); });
    }
    ~MenuAnswer() { vestrel::win::SetPopupMenuObserver(std::move(previous_)); }
    MenuAnswer(const MenuAnswer&) = delete;
    MenuAnswer& operator=(const MenuAnswer&) = delete;

    void choose(QString choice) { choice_ = std::move(choice); }
    int shown() const { return shown_; }
    QPoint lastPoint() const { return at_; }
    const QList<SeenAction>& lastActions() const { return actions_; }
    // Called when the menu opens, before it is answered.
    std::function<void()> onShow;

private:
    void answer(QMenu& menu, QPoint at) {
        ++shown_;
        at_ = at;
        actions_.clear();
        for (QAction* a : menu.actions()) {
            actions_.append({a->text(), a->isSeparator(), a->isEnabled(), a->isCheckable(),
                             a->isChecked(), a->font().bold(),
                             a->actionGroup() && a->actionGroup()->isExclusive()});
        }
        if (onShow)
            onShow();
        QPointer<QMenu> target(&menu);
        const QString choice = choice_;
        QTimer::singleShot(0, &menu, [target, choice] {
            if (!target)
                return;
            if (choice.isEmpty()) {
                QTest::keyClick(target, Qt::Key_Escape);
                return;
            }
            for (QAction* a : target->actions()) {
                if (a->text() == choice) {
                    target->setActiveAction(a);
                    QTest::keyClick(target, Qt::Key_Return);
                    // A disabled item ignores the key: the menu is still open.
                    if (target && target->isVisible())
                        QTest::keyClick(target, Qt::Key_Escape);
                    return;
                }
            }
            QTest::keyClick(target, Qt::Key_Escape);
        });
    }

    QString choice_;
    int shown_ = 0;
    QPoint at_;
    QList<SeenAction> actions_;
    vestrel::win::PopupMenuObserver previous_;
};
