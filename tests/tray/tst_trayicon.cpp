#include "menuanswer.h"
#include "platform/error.h"
#include "platform/textfile.h"
#include "tray/ansifield.h"
#include "tray/clsicontray.h"
#include "tray/ctrybar.h"

#include <QPixmap>
#include <QTest>
#include <QWidget>
#include <cstring>
#include <memory>

using namespace vestrel;
using namespace vestrel::win;
using namespace Qt::StringLiterals;

namespace {

class FakeShellVersion final : public IShellVersion {
public:
    explicit FakeShellVersion(std::optional<FileVersion> v) : version(v) {}
    std::optional<FileVersion> Shell32Version() override { return version; }
    std::optional<FileVersion> version;
};

struct ShellCall {
    DWORD message;
    QByteArray record;
    BOOL result;

    DWORD field(int offset) const {
        DWORD v = 0;
        std::memcpy(&v, record.constData() + offset, sizeof v);
        return v;
    }
    QByteArray bytes(int offset, int width) const { return record.mid(offset, width); }
};

class ShellCalls {
public:
    ShellCalls() {
        previous_ = SetShellNotifyObserver([this](DWORD m, const QByteArray& r, BOOL ok) {
            calls.append({m, r, ok});
        });
    }
    ~ShellCalls() { SetShellNotifyObserver(std::move(previous_)); }
    ShellCalls(const ShellCalls&) = delete;
    ShellCalls& operator=(const ShellCalls&) = delete;
    QList<ShellCall> calls;

private:
    ShellNotifyObserver previous_;
};

// Every event of a tray icon as a line of text, in the order raised.
QStringList* record(TrayIconBase& tray, QStringList& log) {
    QObject::connect(&tray, &TrayIconBase::PopMenuClick, &tray,
                     [&log](int i) { log << u"PopMenuClick(%1)"_s.arg(i); });
    QObject::connect(&tray, &TrayIconBase::MouseMove, &tray, [&log] { log << u"MouseMove"_s; });
    QObject::connect(&tray, &TrayIconBase::MouseUp, &tray,
                     [&log](short b) { log << u"MouseUp(%1)"_s.arg(b); });
    QObject::connect(&tray, &TrayIconBase::MouseDown, &tray,
                     [&log](short b) { log << u"MouseDown(%1)"_s.arg(b); });
    QObject::connect(&tray, &TrayIconBase::MouseClick, &tray,
                     [&log](short b) { log << u"MouseClick(%1)"_s.arg(b); });
    QObject::connect(&tray, &TrayIconBase::MouseDblClick, &tray,
                     [&log](short b) { log << u"MouseDblClick(%1)"_s.arg(b); });
    return &log;
}

const QStringList kMainItems = {u"Mostra Tarvoni Software - Vestrel"_s,
                                u"Nascondi"_s,
                                u"Abilita/Disabilita"_s,
                                QString(),
                                u"Chiudi"_s,
                                u"Annulla"_s};

// A window with its icon, and the main window's tray icon on it.
struct MainTray {
    QWidget window;
    win::HWND hwnd = WindowHandle(&window);
    win::HICON hicon = IconHandle(QIcon(QPixmap(16, 16)));
    std::unique_ptr<ClsIconTray> tray = std::make_unique<ClsIconTray>();
    QStringList log;

    explicit MainTray(bool items = true) {
        record(*tray, log);
        tray->FormHvnd(hwnd);
        tray->FormIcon(hicon);
        tray->Inizializza();
        for (qsizetype i = 0; items && i < kMainItems.size(); ++i)
            tray->PopMenuAddItem(kMainItems[i], i == 0);
    }
    void callback(UINT mouse) { SendMessageA(hwnd, 0x1000, 999, LPARAM(mouse)); }
};

QByteArray field(const QString& text, int width) {
    QByteArray out(width, ' ');
    SetAnsiField(out.data(), std::size_t(width), text);
    return out;
}

QByteArray expectedField(const QByteArray& text, int width) {
    if (text.size() >= width)
        return text.left(width);
    return text + '\0' + QByteArray(width - text.size() - 1, ' ');
}

class Client final : public ISubclass {
public:
    void setMsgResponse(std::int32_t v) override { response = v; }
    std::int32_t MsgResponse() const override { return response; }
    LRESULT WindowProc(win::HWND, UINT msg, WPARAM, LPARAM lParam) override {
        received.append({msg, lParam});
        if (onMessage)
            onMessage();
        return 0;
    }
    std::int32_t response = 0;
    QList<QPair<UINT, LPARAM>> received;
    std::function<void()> onMessage;
};

} // namespace

class TestTrayIcon : public QObject {
    Q_OBJECT
private slots:
    void mainWindowMenuItems() {
        MainTray t;
        const HMENU h = t.tray->PopMenu();
        QCOMPARE(GetMenuItemCount(h), 6);
        const QList<UINT> expectedIds = {101, 102, 103, 0, 105, 106};
        for (int i = 0; i < 6; ++i) {
            char buffer[64] = {};
            MENUITEMINFOA mii{};
            mii.cbSize = MENUITEMINFOA_SIZE;
            mii.fMask = MIIM_ID | MIIM_TYPE | MIIM_STATE;
            mii.dwTypeData = buffer;
            mii.cch = sizeof buffer;
            QVERIFY(GetMenuItemInfoA(h, UINT(i), TRUE, &mii));
            QCOMPARE(mii.wID, expectedIds[i]);
            QCOMPARE(mii.fState, i == 0 ? MFS_DEFAULT : 0u);
            QCOMPARE(mii.fType, i == 3 ? MFT_SEPARATOR : MFT_STRING);
            if (i != 3)
                QCOMPARE(QString::fromLatin1(buffer), kMainItems[i]);
        }
        QCOMPARE(t.tray->ItemCount(), 6);
    }

    void addRecordAndIcon() {
        QWidget window;
        ShellCalls shell;
        {
            ClsIconTray tray;
            tray.FormHvnd(WindowHandle(&window));
            const win::HICON hicon = IconHandle(QIcon(QPixmap(16, 16)));
            tray.FormIcon(hicon);
            QVERIFY(shell.calls.isEmpty());
            tray.Inizializza();
            QCOMPARE(shell.calls.size(), 2);
            QCOMPARE(shell.calls[0].message, NIM_ADD);
            QCOMPARE(shell.calls[1].message, NIM_SETVERSION);
            QCOMPARE(shell.calls[0].record, shell.calls[1].record);
            const ShellCall& add = shell.calls[0];
            QCOMPARE(add.result, TRUE);
            QCOMPARE(add.record.size(), 504);
            QCOMPARE(add.field(0), 504u);
            QCOMPARE(win::HWND(add.field(4)), WindowHandle(&window));
            QCOMPARE(add.field(8), 999u);
            QCOMPARE(add.field(12), 7u);
            QCOMPARE(add.field(16), 0x1000u);
            QCOMPARE(win::HICON(add.field(20)), hicon);
            QCOMPARE(add.bytes(24, 128), expectedField("Vestrel", 128));
            QCOMPARE(add.field(152), 2u);
            QCOMPARE(add.field(156), 0u);
            QCOMPARE(add.bytes(160, 256), expectedField("", 256));
            QCOMPARE(add.field(416), 3u);
            QCOMPARE(add.bytes(420, 64), expectedField("", 64));
            QCOMPARE(add.field(484), 0u);
            QCOMPARE(add.bytes(488, 16), QByteArray(16, '\0'));

            const auto icon = NotifyIconInfo(WindowHandle(&window), 999);
            QVERIFY(icon);
            QCOMPARE(icon->tip, u"Vestrel"_s);
            QCOMPARE(icon->version, 3u);
            QCOMPARE(icon->callbackMessage, 0x1000u);
            QCOMPARE(icon->hIcon, hicon);
            QVERIFY(icon->visible);
            QVERIFY(HookRegistry::instance().IsHooked(&tray, WindowHandle(&window), 0x1000));
        }
        // Termination removes the icon and ends the routing.
        QCOMPARE(shell.calls.size(), 3);
        QCOMPARE(shell.calls[2].message, NIM_DELETE);
        QCOMPARE(shell.calls[2].result, TRUE);
        QCOMPARE(shell.calls[2].field(8), 999u);
        QCOMPARE(shell.calls[2].field(12), 0u);
        QVERIFY(!NotifyIconInfo(WindowHandle(&window), 999));
        QCOMPARE(HookRegistry::instance().RouteCount(), 0);
    }

    void recordSizeByShellVersion_data() {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("size");
        QTest::newRow("6") << 6 << 504;
        QTest::newRow("10") << 10 << 504;
        QTest::newRow("5") << 5 << 488;
        QTest::newRow("4") << 4 << 88;
        QTest::newRow("none") << -1 << 88;
        // Read as a signed 16-bit number: 0x8000 is negative, older than anything.
        QTest::newRow("0x8000") << 0x8000 << 88;
    }
    void recordSizeByShellVersion() {
        QFETCH(int, major);
        QFETCH(int, size);
        FakeShellVersion fake(major < 0 ? std::nullopt
                                        : std::optional(FileVersion{WORD(major), 1, 2, 3}));
        ScopedSeam<IShellVersion> seam(ShellVersionSeam(), &fake);
        ShellCalls shell;
        QWidget window;
        {
            ClsIconTray tray;
            tray.FormHvnd(WindowHandle(&window));
            tray.Inizializza();
            QCOMPARE(tray.IconDataSize(), size);
            // The version changing later does not change the size in use.
            fake.version = FileVersion{6, 0, 0, 0};
            tray.Notify(u"m"_s, u"t"_s, 1);
        }
        QCOMPARE(shell.calls.size(), 4);
        for (const ShellCall& call : shell.calls) {
            QCOMPARE(int(call.field(0)), size);
            QCOMPARE(call.record.size(), size); // the shell read only the leading part
        }
        QCOMPARE(shell.calls[0].result, TRUE);
        // Version requests and balloons need the longer forms.
        QCOMPARE(shell.calls[1].result, size > 88 ? TRUE : FALSE);
        QCOMPARE(shell.calls[2].result, TRUE);
        QCOMPARE(shell.calls[3].result, TRUE);
    }

    void versionBlock() {
        DWORD handle = 1;
        QCOMPARE(GetFileVersionInfoSizeA("kernel32.dll", &handle), 0u);
        const DWORD size = GetFileVersionInfoSizeA("SHELL32.DLL", &handle);
        QVERIFY(size >= 52);
        QByteArray block(qsizetype(size), '\0');
        QVERIFY(GetFileVersionInfoA("shell32.dll", handle, size, block.data()));
        void* fixed = nullptr;
        UINT length = 0;
        QCOMPARE(VerQueryValueA(block.constData(), "\\StringFileInfo", &fixed, &length), FALSE);
        QCOMPARE(VerQueryValueA(block.constData(), "\\", &fixed, &length), TRUE);
        QCOMPARE(length, 52u);
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, fixed, sizeof info);
        QCOMPARE(info.dwSignature, VS_FFI_SIGNATURE);
        QCOMPARE(info.dwFileVersionMS, 0x00060000u);
        QVERIFY(IsShellVersion(6));
        QVERIFY(!IsShellVersion(7));
        // A block that is not version information gives nothing.
        QByteArray junk(qsizetype(size), 'x');
        QCOMPARE(VerQueryValueA(junk.constData(), "\\", &fixed, &length), FALSE);
    }

    void textFields() {
        QCOMPARE(field(u"Vestrel"_s, 128), expectedField("Vestrel", 128));
        const QString long130(130, u'a');
        QCOMPARE(field(long130, 128), QByteArray(128, 'a'));
        QCOMPARE(field(QString(64, u'b'), 64), QByteArray(64, 'b'));
        QCOMPARE(field(QString(63, u'b'), 64), QByteArray(63, 'b') + '\0');
        // Texts go out in the system code page, as the log and config.ini do.
        QCOMPARE(field(u"Attività"_s, 16), expectedField(ToSystemCodePage(u"Attività"_s), 16));
        QCOMPARE(field(u"Attività €"_s, 16), expectedField(ToSystemCodePage(u"Attività €"_s), 16));
        // A character that does not fit whole is left out, not cut into bytes.
        if (ToSystemCodePage(u"à"_s).size() == 2)
            QCOMPARE(field(u"Attività"_s, 8), expectedField("Attivit", 8));
    }

    // Texts too long for their field lose whole characters at the end, in the field widths of
    // the records: the tip's 64 and 128, the balloon text's 256 and its title's 64 bytes.
    void fieldsCutAtWholeCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("kept");
        const QString a = u"\u00e0"_s; // two bytes in UTF-8
        QTest::newRow("tip 128, fits") << a.repeated(63) << 128 << a.repeated(63);
        QTest::newRow("tip 128, fills") << a.repeated(64) << 128 << a.repeated(64);
        QTest::newRow("tip 128, one too many") << a.repeated(65) << 128 << a.repeated(64);
        QTest::newRow("tip 128, half a character left")
            << u"a"_s + a.repeated(64) << 128 << u"a"_s + a.repeated(63);
        QTest::newRow("tip 64, euro sign at the edge")
            << QString(62, u'x') + u"\u20ac"_s << 64 << QString(62, u'x');
        QTest::newRow("title 64") << u"\u00e8"_s.repeated(40) << 64 << u"\u00e8"_s.repeated(32);
        QTest::newRow("balloon 256, surrogate pair at the edge")
            << QString(254, u'm') + u"\U0001F600"_s << 256 << QString(254, u'm');
        QTest::newRow("accent stays with its letter")
            << QString(63, u'x') + u"e\u0301"_s << 64 << QString(63, u'x');
    }
    void fieldsCutAtWholeCharacters() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, kept);
        if (ToSystemCodePage(u"\u00e0\u20ac"_s) != "\xc3\xa0\xe2\x82\xac")
            QSKIP("the rows count UTF-8 bytes; the system code page is another");
        QCOMPARE(field(text, width), expectedField(ToSystemCodePage(kept), width));
    }

    void balloonTextsAreCut() {
        MainTray t(false);
        ShellCalls shell;
        const QString msg = QString(250, u'm') + u"123456789"_s;
        const QString title = QString(60, u't') + u"ABCDEFGH"_s;
        t.tray->Notify(msg, title, int(NIIF_WARNING));
        QCOMPARE(shell.calls.size(), 1);
        const ShellCall& call = shell.calls[0];
        QCOMPARE(call.message, NIM_MODIFY);
        QCOMPARE(call.field(12), NIF_INFO);
        QCOMPARE(call.field(16), 0u);
        QCOMPARE(call.field(20), 0u);
        QCOMPARE(call.bytes(24, 128), expectedField("", 128));
        QCOMPARE(call.bytes(160, 256), msg.left(256).toLatin1());
        QCOMPARE(call.bytes(420, 64), title.left(64).toLatin1());
        QCOMPARE(call.field(484), NIIF_WARNING);
        const auto icon = NotifyIconInfo(t.hwnd, 999);
        QCOMPARE(icon->balloons, 1);
        QCOMPARE(icon->balloonText, msg.left(256));
        QCOMPARE(icon->balloonTitle, title.left(64));
        QCOMPARE(icon->tip, u"Vestrel"_s); // NIF_TIP was not set
    }

    void notifyBeforeInizializza() {
        QWidget window;
        ShellCalls shell;
        ClsIconTray tray;
        tray.FormHvnd(WindowHandle(&window));
        tray.Notify(u"m"_s, u"t"_s, 1);
        QCOMPARE(shell.calls.size(), 1);
        QCOMPARE(shell.calls[0].result, FALSE);
        QVERIFY(NotifyIcons().isEmpty());
        QCOMPARE(tray.IconDataSize(), 504);
        QCOMPARE(HookRegistry::instance().RouteCount(), 0);
    }

    void itemBeforeInizializzaFails() {
        QWidget window;
        ClsIconTray tray;
        tray.FormHvnd(WindowHandle(&window));
        QVERIFY_THROWS_EXCEPTION(Error, tray.PopMenuAddItem(u"Early"_s));
        tray.Inizializza();
        tray.PopMenuAddItem(u"First"_s);
        MENUITEMINFOA mii{};
        mii.cbSize = MENUITEMINFOA_SIZE;
        mii.fMask = MIIM_ID;
        QVERIFY(GetMenuItemInfoA(tray.PopMenu(), 0, TRUE, &mii));
        QCOMPARE(mii.wID, 102u); // the failed call already counted
    }

    void callbackSequences() {
        MainTray t;
        MenuAnswer answer; // closes the menu
        t.callback(0x201);
        t.callback(0x202);
        t.callback(0x203);
        t.callback(0x202);
        QCOMPARE(t.log, (QStringList{u"MouseDown(0)"_s, u"MouseUp(0)"_s, u"MouseClick(0)"_s,
                                     u"MouseDblClick(0)"_s, u"MouseUp(0)"_s, u"MouseClick(0)"_s}));
        QCOMPARE(answer.shown(), 0);
        t.log.clear();

        t.callback(0x204);
        QStringList atMenu;
        answer.onShow = [&] { atMenu = t.log; };
        t.callback(0x205);
        QCOMPARE(answer.shown(), 1);
        QCOMPARE(atMenu, QStringList{u"MouseDown(1)"_s});
        QCOMPARE(t.log, (QStringList{u"MouseDown(1)"_s, u"MouseUp(1)"_s, u"MouseClick(1)"_s}));
        t.log.clear();

        answer.choose(u"Chiudi"_s);
        t.callback(0x205);
        QCOMPARE(t.log, (QStringList{u"PopMenuClick(5)"_s, u"MouseUp(1)"_s, u"MouseClick(1)"_s}));
        t.log.clear();
        answer.choose(u"Annulla"_s);
        t.callback(0x205);
        answer.choose(u"Mostra Tarvoni Software - Vestrel"_s);
        t.callback(0x205);
        QCOMPARE(t.log, (QStringList{u"PopMenuClick(6)"_s, u"MouseUp(1)"_s, u"MouseClick(1)"_s,
                                     u"PopMenuClick(1)"_s, u"MouseUp(1)"_s, u"MouseClick(1)"_s}));
        t.log.clear();

        t.callback(0x200);
        t.callback(0x206);
        t.callback(0x207);
        t.callback(0x208);
        t.callback(0x400);
        QCOMPARE(t.log, (QStringList{u"MouseMove"_s, u"MouseDblClick(1)"_s}));
    }

    void otherMessagesAndResponse() {
        MainTray t;
        QCOMPARE(t.tray->MsgResponse(), 0);
        t.tray->setMsgResponse(7);
        SendMessageA(t.hwnd, 0x1001, 0, 0x201);
        // Not routed: the response is untouched.
        QCOMPARE(t.tray->MsgResponse(), 7);
        QCOMPARE(t.tray->WindowProc(t.hwnd, 0x1001, 0, 0x201), 0);
        QCOMPARE(t.tray->MsgResponse(), 1);
        t.tray->setMsgResponse(7);
        QCOMPARE(t.tray->WindowProc(t.hwnd, 0x1000, 0, 0x209), 0);
        QCOMPARE(t.tray->MsgResponse(), 1);
        QVERIFY(t.log.isEmpty());
    }

    void injectedActivations() {
        MainTray t;
        MenuAnswer answer(u"Nascondi"_s);
        QVERIFY(SimulateNotifyIconActivation(t.hwnd, 999, QSystemTrayIcon::DoubleClick));
        QCOMPARE(t.log, (QStringList{u"MouseDblClick(0)"_s, u"MouseUp(0)"_s, u"MouseClick(0)"_s}));
        t.log.clear();
        QVERIFY(SimulateNotifyIconActivation(t.hwnd, 999, QSystemTrayIcon::Trigger));
        QVERIFY(SimulateNotifyIconActivation(t.hwnd, 999, QSystemTrayIcon::Context));
        QCOMPARE(t.log, (QStringList{u"MouseDown(0)"_s, u"MouseUp(0)"_s, u"MouseClick(0)"_s,
                                     u"MouseDown(1)"_s, u"PopMenuClick(2)"_s, u"MouseUp(1)"_s,
                                     u"MouseClick(1)"_s}));
        // The Qt signal takes the same way.
        t.log.clear();
        emit NotifyIconObject(t.hwnd, 999)->activated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(t.log.first(), u"MouseDblClick(0)"_s);
        QVERIFY(!SimulateNotifyIconActivation(t.hwnd, 1, QSystemTrayIcon::Trigger));
    }

    // The icon's own window: a release or move counts only over the icon, so a right press
    // let go elsewhere opens no menu.
    void iconWindowMouseMessages_data() {
        QTest::addColumn<QEvent::Type>("type");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("overIcon");
        QTest::addColumn<UINT>("message");
        const auto row = [](const char* name, QEvent::Type type, Qt::MouseButton button, bool over,
                            UINT message) {
            QTest::newRow(name) << type << button << over << message;
        };
        using E = QEvent;
        row("move over", E::MouseMove, Qt::NoButton, true, WM_MOUSEMOVE);
        row("move elsewhere", E::MouseMove, Qt::NoButton, false, 0);
        row("left press", E::MouseButtonPress, Qt::LeftButton, true, WM_LBUTTONDOWN);
        row("left release", E::MouseButtonRelease, Qt::LeftButton, true, WM_LBUTTONUP);
        row("left double", E::MouseButtonDblClick, Qt::LeftButton, true, WM_LBUTTONDBLCLK);
        row("right press", E::MouseButtonPress, Qt::RightButton, true, WM_RBUTTONDOWN);
        row("right release", E::MouseButtonRelease, Qt::RightButton, true, WM_RBUTTONUP);
        row("right release elsewhere", E::MouseButtonRelease, Qt::RightButton, false, 0);
        row("right double", E::MouseButtonDblClick, Qt::RightButton, true, WM_RBUTTONDBLCLK);
        row("middle release", E::MouseButtonRelease, Qt::MiddleButton, true, WM_MBUTTONUP);
        row("back button", E::MouseButtonPress, Qt::BackButton, true, 0);
        row("other event", E::Wheel, Qt::NoButton, true, 0);
    }
    void iconWindowMouseMessages() {
        QFETCH(QEvent::Type, type);
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, overIcon);
        QFETCH(UINT, message);
        QCOMPARE(NotifyIconMouseMessage(type, button, overIcon), message);
    }

    void ownerDeletesTheTrayDuringTheMenu() {
        MainTray t;
        MenuAnswer answer(u"Chiudi"_s);
        answer.onShow = [&] { t.tray.reset(); };
        t.callback(0x205);
        QCOMPARE(answer.shown(), 1);
        QVERIFY(t.log.isEmpty());
        QVERIFY(!NotifyIconInfo(t.hwnd, 999));
        t.callback(0x205); // nobody is routed any more
        QCOMPARE(answer.shown(), 1);
    }

    void notifyIconRules() {
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        NOTIFYICONDATAA rec{};
        rec.cbSize = 504;
        rec.hWnd = hwnd;
        rec.uID = 5;
        rec.uFlags = NIF_TIP;
        SetAnsiField(rec.szTip, 128, QString(100, u'x'));
        QCOMPARE(Shell_NotifyIconA(NIM_MODIFY, &rec), FALSE);
        QCOMPARE(Shell_NotifyIconA(NIM_DELETE, &rec), FALSE);
        QCOMPARE(Shell_NotifyIconA(NIM_ADD, &rec), TRUE);
        QCOMPARE(Shell_NotifyIconA(NIM_ADD, &rec), FALSE);
        QCOMPARE(NotifyIconInfo(hwnd, 5)->tip, QString(100, u'x'));
        // The short form's tip is the first 64 characters of the field.
        rec.cbSize = 88;
        QCOMPARE(Shell_NotifyIconA(NIM_MODIFY, &rec), TRUE);
        QCOMPARE(NotifyIconInfo(hwnd, 5)->tip, QString(64, u'x'));
        QCOMPARE(NotifyIconInfo(hwnd, 5)->recordSize, 88u);
        rec.cbSize = 100;
        QCOMPARE(Shell_NotifyIconA(NIM_MODIFY, &rec), FALSE);
        rec.cbSize = 504;
        rec.uFlags = NIF_ICON;
        rec.hIcon = 4242; // no icon
        QCOMPARE(Shell_NotifyIconA(NIM_MODIFY, &rec), FALSE);
        rec.uFlags = NIF_STATE;
        rec.dwState = NIS_HIDDEN;
        rec.dwStateMask = NIS_HIDDEN;
        QCOMPARE(Shell_NotifyIconA(NIM_MODIFY, &rec), TRUE);
        QVERIFY(!NotifyIconInfo(hwnd, 5)->visible);
        // A short record that claims the full size is not read past its end.
        NOTIFYICONDATAA_V1 shortRec{};
        shortRec.cbSize = 504;
        shortRec.hWnd = hwnd;
        shortRec.uID = 6;
        QCOMPARE(Shell_NotifyIconA(NIM_ADD, &shortRec), FALSE);
        rec.hWnd = 77777; // no window
        QCOMPARE(Shell_NotifyIconA(NIM_ADD, &rec), FALSE);
        QCOMPARE(NotifyIcons().size(), 1);
    }

    void destroyedWindowEndsIconsAndRoutes() {
        auto window = std::make_unique<QWidget>();
        const win::HWND hwnd = WindowHandle(window.get());
        QCOMPARE(WindowHandle(window.get()), hwnd);
        QCOMPARE(WindowFromHandle(hwnd), window.get());
        ClsIconTray tray;
        QStringList log;
        record(tray, log);
        tray.FormHvnd(hwnd);
        tray.Inizializza();
        QVERIFY(HookRegistry::instance().IsHooked(&tray, hwnd, 0x1000));
        window.reset();
        QCOMPARE(IsWindow(hwnd), FALSE);
        QVERIFY(!HookRegistry::instance().IsHooked(&tray, hwnd, 0x1000));
        QVERIFY(!NotifyIconInfo(hwnd, 999));
        SendMessageA(hwnd, 0x1000, 999, 0x201);
        QVERIFY(log.isEmpty());
        QWidget other;
        QVERIFY(WindowHandle(&other) != hwnd);
    }

    void registryRoutes() {
        auto& registry = HookRegistry::instance();
        QCOMPARE(&registry, &HookRegistry::instance());
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        QVERIFY_THROWS_EXCEPTION(Error, registry.HookMessage(nullptr, hwnd, 0x1000));
        Client a;
        auto b = std::make_unique<Client>();
        QVERIFY_THROWS_EXCEPTION(Error, registry.HookMessage(&a, 999999, 0x1000));
        QVERIFY_THROWS_EXCEPTION(Error, registry.UnhookMessage(&a, hwnd, 0x1000));
        registry.HookMessage(&a, hwnd, 0x1000);
        registry.HookMessage(&a, hwnd, 0x1000);
        registry.HookMessage(b.get(), hwnd, 0x1000);
        registry.HookMessage(b.get(), hwnd, 0x2000);
        QCOMPARE(registry.RouteCount(), 3);
        SendMessageA(hwnd, 0x1000, 1, 0x202);
        SendMessageA(hwnd, 0x3000, 1, 0x202);
        QCOMPARE(a.received.size(), 1); // hooked twice, called once
        QCOMPARE(a.received[0], qMakePair(UINT(0x1000), LPARAM(0x202)));
        QCOMPARE(b->received.size(), 1);
        // A client that ends while a message is delivered is not called.
        a.onMessage = [&] { b.reset(); };
        SendMessageA(hwnd, 0x1000, 1, 0x201);
        QCOMPARE(a.received.size(), 2);
        QCOMPARE(registry.RouteCount(), 1);
        registry.UnhookMessage(&a, hwnd, 0x1000);
        QCOMPARE(registry.RouteCount(), 0);
        SendMessageA(hwnd, 0x1000, 1, 0x201);
        QCOMPARE(a.received.size(), 2);
    }

    void tryBarRecordAndTip() {
        FakeShellVersion six(FileVersion{6, 0, 0, 0});
        ScopedSeam<IShellVersion> seam(ShellVersionSeam(), &six);
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        const win::HICON hicon = IconHandle(QIcon(QPixmap(16, 16)));
        ShellCalls shell;
        CTryBar bar;
        QCOMPARE(bar.Tip(), QString());
        bar.setTip(u"Before"_s);
        QCOMPARE(bar.Tip(), u"Before"_s);
        QVERIFY(shell.calls.isEmpty() || shell.calls.last().result == FALSE);
        QVERIFY(NotifyIcons().isEmpty());

        const QString tip70 = QString(64, u'T') + u"UVWXYZ"_s;
        bar.AddTryBarIcon(hwnd, hicon, tip70);
        QCOMPARE(bar.Tip(), tip70);
        const ShellCall& add = shell.calls.last();
        QCOMPARE(add.message, NIM_ADD);
        QCOMPARE(add.result, TRUE);
        QCOMPARE(add.record.size(), 88);
        QCOMPARE(add.field(0), 88u);
        QCOMPARE(win::HWND(add.field(4)), hwnd);
        QCOMPARE(add.field(8), 1u);
        QCOMPARE(add.field(12), 7u);
        QCOMPARE(add.field(16), 0x1000u);
        QCOMPARE(win::HICON(add.field(20)), hicon);
        QCOMPARE(add.bytes(24, 64), QByteArray(64, 'T'));
        QCOMPARE(NotifyIconInfo(hwnd, 1)->tip, QString(64, u'T'));

        const auto before = shell.calls.size();
        bar.setTip(u"Vestrel"_s);
        QCOMPARE(shell.calls.size(), before + 1);
        QCOMPARE(shell.calls.last().message, NIM_MODIFY);
        QCOMPARE(shell.calls.last().field(12), 7u);
        QCOMPARE(shell.calls.last().bytes(24, 64), expectedField("Vestrel", 64));
        QCOMPARE(NotifyIconInfo(hwnd, 1)->tip, u"Vestrel"_s);
        QCOMPARE(bar.Tip(), u"Vestrel"_s);
        bar.RemoveTryBarIcon();
    }

    void tryBarEventsAndRemoval() {
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        ShellCalls shell;
        CTryBar bar;
        bar.RemoveTryBarIcon(); // never added: nothing
        QVERIFY(shell.calls.isEmpty());

        QStringList log;
        record(bar, log);
        bar.AddTryBarIcon(hwnd, 0, u"Tip"_s);
        bar.PopMenuAddItem(u"Uno"_s, true);
        bar.PopMenuAddItem(QString());
        bar.PopMenuAddItem(u"Tre"_s);
        MenuAnswer answer(u"Tre"_s);
        SendMessageA(hwnd, 0x1000, 1, 0x201);
        SendMessageA(hwnd, 0x1000, 1, 0x205);
        QCOMPARE(log, (QStringList{u"MouseDown(0)"_s, u"PopMenuClick(3)"_s, u"MouseUp(1)"_s,
                                   u"MouseClick(1)"_s}));
        QCOMPARE(answer.lastActions().first().bold, true);

        const HMENU menu = bar.PopMenu();
        shell.calls.clear();
        bar.RemoveTryBarIcon();
        QCOMPARE(GetMenuItemCount(menu), -1);
        QCOMPARE(shell.calls.size(), 1);
        QCOMPARE(shell.calls[0].message, NIM_DELETE);
        QCOMPARE(shell.calls[0].result, TRUE);
        QVERIFY(!NotifyIconInfo(hwnd, 1));
        QVERIFY(!HookRegistry::instance().IsHooked(&bar, hwnd, 0x1000));
        QCOMPARE(bar.IconData().cbSize, 88u);
        log.clear();
        SendMessageA(hwnd, 0x1000, 1, 0x201);
        QVERIFY(log.isEmpty());

        bar.RemoveTryBarIcon(); // a second removal does nothing
        QCOMPARE(shell.calls.size(), 1);

        bar.AddTryBarIcon(hwnd, 0, u"Again"_s);
        QVERIFY(NotifyIconInfo(hwnd, 1));
        QCOMPARE(GetMenuItemCount(bar.PopMenu()), 0);
        SendMessageA(hwnd, 0x1000, 1, 0x202);
        QCOMPARE(log, (QStringList{u"MouseUp(0)"_s, u"MouseClick(0)"_s}));
        bar.RemoveTryBarIcon();
    }

    void tryBarFailuresReachTheCaller() {
        ShellCalls shell;
        CTryBar bar;
        QVERIFY_THROWS_EXCEPTION(Error, bar.AddTryBarIcon(55555, 0, u"Tip"_s));
        QCOMPARE(shell.calls.size(), 1);
        QCOMPARE(shell.calls[0].result, FALSE);
        // The icon counts as added: its removal reports the missing route.
        QVERIFY_THROWS_EXCEPTION(Error, bar.RemoveTryBarIcon());
        bar.RemoveTryBarIcon();
        bar.setTip(u"quiet"_s);
        QCOMPARE(bar.Tip(), u"quiet"_s);
    }

    void tryBarReleasedWithoutRemoval() {
        QWidget window;
        const win::HWND hwnd = WindowHandle(&window);
        QStringList log;
        auto bar = std::make_unique<CTryBar>();
        record(*bar, log);
        bar->AddTryBarIcon(hwnd, 0, u"Tip"_s);
        CTryBar* raw = bar.get();
        bar.reset();
        QVERIFY(!HookRegistry::instance().IsHooked(raw, hwnd, 0x1000));
        QVERIFY(NotifyIconInfo(hwnd, 1)); // the icon stays
        QVERIFY(SimulateNotifyIconActivation(hwnd, 1, QSystemTrayIcon::Context));
        QVERIFY(log.isEmpty());
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
