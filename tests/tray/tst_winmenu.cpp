#include "menuanswer.h"
#include "platform/error.h"
#include "tray/cmenu.h"

#include <QCursor>
#include <QTest>
#include <QWidget>
#include <cstring>

using namespace vestrel;
using namespace vestrel::win;
using namespace Qt::StringLiterals;

namespace {

struct ItemInfo {
    BOOL ok = FALSE;
    UINT fType = 0;
    UINT fState = 0;
    UINT wID = 0;
    HMENU hSubMenu = 0;
    QByteArray text;
};

ItemInfo itemAt(HMENU hMenu, UINT index) {
    char buffer[128] = {};
    MENUITEMINFOA mii{};
    mii.cbSize = MENUITEMINFOA_SIZE;
    mii.fMask = MIIM_TYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU;
    mii.dwTypeData = buffer;
    mii.cch = sizeof buffer;
    ItemInfo info;
    info.ok = GetMenuItemInfoA(hMenu, index, TRUE, &mii);
    info.fType = mii.fType;
    info.fState = mii.fState;
    info.wID = mii.wID;
    info.hSubMenu = mii.hSubMenu;
    if (!(mii.fType & MFT_SEPARATOR))
        info.text = QByteArray(buffer);
    return info;
}

QList<UINT> ids(HMENU hMenu) {
    QList<UINT> out;
    for (int i = 0; i < GetMenuItemCount(hMenu); ++i)
        out.append(itemAt(hMenu, UINT(i)).wID);
    return out;
}

HMENU menuWith(CMenu& m, std::initializer_list<int> itemIds) {
    const HMENU h = m.CreatePopMenu();
    for (int id : itemIds) {
        std::int32_t position = -1;
        m.mnuAddItem(h, id, position, u"Item %1"_s.arg(id));
    }
    return h;
}

class CommandRecorder final : public IWindowMessageHook {
public:
    CommandRecorder() : previous_(SetWindowMessageHook(this)) {}
    ~CommandRecorder() override { SetWindowMessageHook(previous_); }
    void WindowMessage(win::HWND hwnd, UINT msg, WPARAM wParam, LPARAM) override {
        messages.append({hwnd, msg, wParam});
    }
    void WindowDestroyed(win::HWND) override {}
    struct Message {
        win::HWND hwnd;
        UINT msg;
        WPARAM wParam;
    };
    QList<Message> messages;

private:
    IWindowMessageHook* previous_;
};

} // namespace

class TestWinMenu : public QObject {
    Q_OBJECT
private slots:
    void handlesThatAreNoMenu() {
        CMenu m;
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        MENUITEMINFOA mii{};
        mii.cbSize = MENUITEMINFOA_SIZE;
        mii.fMask = MIIM_ID;
        QCOMPARE(GetMenuItemCount(12345), -1);
        QCOMPARE(DestroyMenu(12345), FALSE);
        QCOMPARE(m.DestroyCreateMenu(0), 0);
        QCOMPARE(InsertMenuItemA(12345, 0, TRUE, &mii), FALSE);
        QCOMPARE(TrackPopupMenuEx(12345, TPM_RETURNCMD, 0, 0, hwnd, nullptr), FALSE);
        // A window handle is not a menu handle, nor the other way round.
        QCOMPARE(GetMenuItemCount(hwnd), -1);
        const HMENU h = m.CreatePopMenu();
        QVERIFY(h != 0);
        QCOMPARE(IsWindow(h), FALSE);
        QCOMPARE(TrackPopupMenuEx(h, TPM_RETURNCMD, 0, 0, h, nullptr), FALSE);
        QCOMPARE(m.DestroyCreateMenu(h), 1);
        QCOMPARE(m.DestroyCreateMenu(h), 0);
        QCOMPARE(GetMenuItemCount(h), -1);
    }

    void recordsAreCheckedAndTextCopied() {
        const HMENU h = CreatePopupMenu();
        char caption[] = "Nascondi";
        MENUITEMINFOA mii{};
        mii.cbSize = 40; // no such form
        mii.fMask = MIIM_ID | MIIM_TYPE;
        mii.wID = 7;
        mii.dwTypeData = caption;
        QCOMPARE(InsertMenuItemA(h, 0, TRUE, &mii), FALSE);
        mii.cbSize = MENUITEMINFOA_SIZE;
        QCOMPARE(InsertMenuItemA(h, 0, TRUE, &mii), TRUE);
        std::strcpy(caption, "changed!");
        QCOMPARE(itemAt(h, 0).text, "Nascondi"_ba);

        // No buffer: the length; a short buffer: cut with a NUL, cch the number copied.
        MENUITEMINFOA q{};
        q.cbSize = MENUITEMINFOA_SIZE;
        q.fMask = MIIM_TYPE;
        QCOMPARE(GetMenuItemInfoA(h, 7, FALSE, &q), TRUE);
        QCOMPARE(q.cch, 8u);
        char small[5];
        std::memset(small, 'x', sizeof small);
        q.dwTypeData = small;
        q.cch = sizeof small;
        QCOMPARE(GetMenuItemInfoA(h, 7, FALSE, &q), TRUE);
        QCOMPARE(QByteArray(small), "Nasc"_ba);
        QCOMPARE(q.cch, 4u);
        QCOMPARE(GetMenuItemInfoA(h, 8, FALSE, &q), FALSE);
        QCOMPARE(GetMenuItemInfoA(h, 1, TRUE, &q), FALSE);
        DestroyMenu(h);
    }

    void addItemPositionsAndSeparators() {
        CMenu m;
        const HMENU h = m.CreatePopMenu();
        std::int32_t position = -1;
        m.mnuAddItem(h, 10, position, u"A"_s);
        QCOMPARE(position, 0);
        position = -1;
        m.mnuAddItem(h, 11, position, u"B"_s, true);
        QCOMPARE(position, 1);
        position = 0;
        m.mnuAddItem(h, 12, position, u"Top"_s);
        QCOMPARE(position, 0);
        position = -5;
        m.mnuAddItem(h, 13, position, QString());
        QCOMPARE(position, 3);
        QCOMPARE(ids(h), (QList<UINT>{12, 10, 11, 0}));
        m.mnuAddItem(h, 14, u"End"_s); // no position: at the end
        m.mnuAddItem(h);               // nothing but the menu: a separator at the end
        QCOMPARE(ids(h), (QList<UINT>{12, 10, 11, 0, 14, 0}));
        QCOMPARE(itemAt(h, 5).fType, MFT_SEPARATOR);
        QCOMPARE(itemAt(h, 0).text, "Top"_ba);
        QCOMPARE(itemAt(h, 0).fType, MFT_STRING);
        QCOMPARE(itemAt(h, 2).fType, MFT_RADIOCHECK);
        QCOMPARE(itemAt(h, 3).fType, MFT_SEPARATOR);
        // The separator took no identifier: 13 addresses nothing.
        MENUITEMINFOA q{};
        q.cbSize = MENUITEMINFOA_SIZE;
        q.fMask = MIIM_ID;
        QCOMPARE(GetMenuItemInfoA(h, 13, FALSE, &q), FALSE);
        m.DestroyCreateMenu(h);
    }

    void addBreakUsesOneLessThanPosition() {
        CMenu m;
        const HMENU h = menuWith(m, {1, 2, 3, 4});
        std::int32_t position = 3;
        m.mnuAddBreak(h, position);
        QCOMPARE(position, 2);
        QCOMPARE(itemAt(h, 2).fType, MFT_MENUBARBREAK | MFT_MENUBREAK);
        QCOMPARE(itemAt(h, 3).wID, 3u);
        m.mnuAddBreak(h);
        QCOMPARE(GetMenuItemCount(h), 6);
        QCOMPARE(itemAt(h, 5).fType, 0x60u);
        m.DestroyCreateMenu(h);
    }

    void statesReplaceTheWholeState() {
        CMenu m;
        const HMENU h = menuWith(m, {1, 2});
        m.mnuEnableItem(h, 1, false);
        QCOMPARE(itemAt(h, 0).fState, 3u);
        m.mnuCheckItem(h, 1, true);
        QCOMPARE(itemAt(h, 0).fState, MFS_CHECKED);
        m.mnuEnableItem(h, 1, true);
        QCOMPARE(itemAt(h, 0).fState, 0u);
        m.mnuHighlightItem(h, 2);
        QCOMPARE(itemAt(h, 1).fState, MFS_HILITE);
        m.mnuSetItemDefault(h, 2, true);
        QCOMPARE(itemAt(h, 1).fState, MFS_DEFAULT);
        // False takes off only the default mark.
        m.mnuCheckItem(h, 1, true);
        MENUITEMINFOA mii{};
        mii.cbSize = MENUITEMINFOA_SIZE;
        mii.fMask = MIIM_STATE;
        mii.fState = MFS_DEFAULT | MFS_CHECKED;
        SetMenuItemInfoA(h, 1, FALSE, &mii);
        m.mnuSetItemDefault(h, 1, false);
        QCOMPARE(itemAt(h, 0).fState, MFS_CHECKED);
        m.mnuSetMenuCaption(h, 2, u"Renamed"_s);
        QCOMPARE(itemAt(h, 1).text, "Renamed"_ba);
        QCOMPARE(itemAt(h, 1).fState, MFS_DEFAULT);
        m.DestroyCreateMenu(h);
    }

    void radioGroupTakesTheItemSecond() {
        CMenu m;
        const HMENU h = menuWith(m, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
        m.mnuCheckItem(h, 2, true);
        m.mnuCheckItem(h, 10, true);
        m.mnuCheckRadioGroup(h, 5, 1, 9);
        for (int i = 0; i < 10; ++i) {
            const ItemInfo info = itemAt(h, UINT(i));
            const bool expectChecked = info.wID == 5 || info.wID == 10; // 10 is outside
            QCOMPARE(bool(info.fState & MFS_CHECKED), expectChecked);
            QCOMPARE(bool(info.fType & MFT_RADIOCHECK), info.wID == 5);
        }
        m.DestroyCreateMenu(h);
    }

    void removeItemRangeStopsAtTheBadElement() {
        CMenu m;
        const HMENU h = menuWith(m, {1, 2, 3, 4, 5, 6});
        m.mnuRemoveItemRange(h, {QVariant(2), QVariant(u"4"_s), QVariant(5.5)});
        // 5.5 rounds to even: 6.
        QCOMPARE(ids(h), (QList<UINT>{1, 3, 5}));
        QVERIFY_THROWS_EXCEPTION(Error,
                                 m.mnuRemoveItemRange(h, {QVariant(1), QVariant(u"x"_s), 5}));
        QCOMPARE(ids(h), (QList<UINT>{3, 5}));
        QVERIFY_THROWS_EXCEPTION(Error, m.mnuRemoveItemRange(h, {QVariant(qint64(1) << 40)}));
        QCOMPARE(ids(h), (QList<UINT>{3, 5}));
        m.DestroyCreateMenu(h);
    }

    void submenusAndDeletion() {
        CMenu m;
        const HMENU h = menuWith(m, {1, 2, 3});
        const HMENU sub = menuWith(m, {20, 21});
        const HMENU sub2 = menuWith(m, {30});
        m.mnuSimpleItemToSubMenu(h, sub, 2);
        m.mnuSimpleItemToSubMenu(h, sub2, 3);
        QCOMPARE(m.mnuGetSubMenu(h, 1), sub);
        QCOMPARE(m.mnuGetSubMenu(h, 2, false), sub);
        QCOMPARE(m.mnuGetSubMenu(h, 0), 0);
        QCOMPARE(m.mnuGetSubMenu(h, 7, false), 0);
        // By identifier the submenus are searched too.
        m.mnuEnableItem(h, 21, false);
        QCOMPARE(itemAt(sub, 1).fState, 3u);
        m.mnuRemoveItem(h, 2, false);
        QCOMPARE(GetMenuItemCount(sub), 2);
        m.mnuRemoveItem(h, 3);
        QCOMPARE(GetMenuItemCount(sub2), -1);
        QCOMPARE(ids(h), (QList<UINT>{1}));
        m.mnuSimpleItemToSubMenu(h, sub, 1);
        QCOMPARE(m.DestroyCreateMenu(h), 1);
        QCOMPARE(GetMenuItemCount(sub), -1);
    }

    void popMenuAtThePointOrTheCursor() {
        CMenu m;
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        const HMENU h = menuWith(m, {101, 102});
        QCursor::setPos(30, 40);
        MenuAnswer answer(u"Item 102"_s);
        QCOMPARE(m.mnuPopMenu(h, hwnd, TPM_RETURNCMD, 100, -1), 102);
        QCOMPARE(answer.lastPoint(), QPoint(30, 40));
        QCOMPARE(m.mnuPopMenu(h, hwnd, TPM_RETURNCMD, 100, 200), 102);
        QCOMPARE(answer.lastPoint(), QPoint(100, 200));
        answer.choose(QString());
        QCOMPARE(m.mnuPopMenu(h, hwnd, TPM_RETURNCMD), 0);
        QCOMPARE(answer.lastPoint(), QPoint(30, 40));
        QCOMPARE(answer.shown(), 3);
        m.DestroyCreateMenu(h);
    }

    void popMenuShowsTheRecords() {
        CMenu m;
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        const HMENU h = m.CreatePopMenu();
        std::int32_t p = -1;
        m.mnuAddItem(h, 1, p = -1, u"Default"_s);
        m.mnuAddItem(h, 2, p = -1, u"Grayed"_s);
        m.mnuAddItem(h, 0, p = -1, QString());
        m.mnuAddItem(h, 3, p = -1, u"Checked"_s);
        m.mnuAddItem(h, 4, p = -1, u"Radio A"_s, true);
        m.mnuAddItem(h, 5, p = -1, u"Radio B"_s, true);
        m.mnuAddBreak(h);
        m.mnuAddItem(h, 6, p = -1, u"After break"_s);
        m.mnuSetItemDefault(h, 1, true);
        m.mnuEnableItem(h, 2, false);
        m.mnuCheckItem(h, 3, true);
        m.mnuCheckRadioGroup(h, 5, 4, 5);
        MenuAnswer answer(u"Grayed"_s);
        // A disabled item cannot be chosen.
        QCOMPARE(m.mnuPopMenu(h, hwnd, TPM_RETURNCMD), 0);
        const auto& seen = answer.lastActions();
        QCOMPARE(seen.size(), 8);
        QVERIFY(seen[0].bold && seen[0].enabled);
        QVERIFY(!seen[1].enabled && !seen[1].bold);
        QVERIFY(seen[2].separator);
        QVERIFY(seen[3].checkable && seen[3].checked && !seen[3].exclusive);
        QVERIFY(seen[4].exclusive && !seen[4].checked);
        QVERIFY(seen[5].exclusive && seen[5].checked);
        QVERIFY(seen[6].separator);
        QCOMPARE(seen[7].text, u"After break"_s);
        m.DestroyCreateMenu(h);
    }

    void withoutReturnCmdTheChoiceGoesToTheWindow() {
        CMenu m;
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        const HMENU h = menuWith(m, {101, 102});
        CommandRecorder recorder;
        MenuAnswer answer(u"Item 101"_s);
        QCOMPARE(m.mnuPopMenu(h, hwnd, 0, 5, 5), 1);
        QCOMPARE(recorder.messages.size(), 1);
        QCOMPARE(recorder.messages[0].hwnd, hwnd);
        QCOMPARE(recorder.messages[0].msg, WM_COMMAND);
        QCOMPARE(recorder.messages[0].wParam, 101);
        m.DestroyCreateMenu(h);
    }

    // Without TPM_RIGHTBUTTON only the left button chooses; any other click on an item
    // leaves the menu open.
    void onlyTheTrackedButtonsChoose_data() {
        QTest::addColumn<UINT>("flags");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<int>("chosen");
        const UINT right = TPM_RETURNCMD | TPM_RIGHTBUTTON;
        QTest::newRow("left-button menu, left click") << TPM_RETURNCMD << Qt::LeftButton << 102;
        QTest::newRow("left-button menu, right click") << TPM_RETURNCMD << Qt::RightButton << 0;
        QTest::newRow("left-button menu, middle click") << TPM_RETURNCMD << Qt::MiddleButton << 0;
        QTest::newRow("right-button menu, right click") << right << Qt::RightButton << 102;
        QTest::newRow("right-button menu, left click") << right << Qt::LeftButton << 102;
        QTest::newRow("right-button menu, middle click") << right << Qt::MiddleButton << 0;
    }
    void onlyTheTrackedButtonsChoose() {
        QFETCH(UINT, flags);
        QFETCH(Qt::MouseButton, button);
        QFETCH(int, chosen);
        CMenu m;
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        const HMENU h = menuWith(m, {101, 102});
        bool openAfterClick = false;
        const PopupMenuObserver previous = SetPopupMenuObserver([&](QMenu& menu, QPoint) {
            QPointer<QMenu> target(&menu);
            QTimer::singleShot(0, &menu, [&, target] {
                const QRect item = target->actionGeometry(target->actions().at(1));
                QTest::mouseClick(target, button, {}, item.center());
                openAfterClick = target && target->isVisible();
                if (openAfterClick)
                    QTest::keyClick(target, Qt::Key_Escape);
            });
        });
        const BOOL result = m.mnuPopMenu(h, hwnd, std::int32_t(flags), 10, 10);
        SetPopupMenuObserver(previous);
        QCOMPARE(result, chosen);
        QCOMPARE(openAfterClick, chosen == 0);
        m.DestroyCreateMenu(h);
    }
};

QTEST_MAIN(TestWinMenu)
#include "tst_winmenu.moc"
