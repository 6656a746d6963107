#include "app/fmain.h"

#include "app/mbackup.h"
#include "platform/events.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QStyleFactory>
#include <QTimer>

// The icon lives in a static library's resources, which must be registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(vestrel);
}

namespace vestrel {
namespace {

constexpr int kTwipsPerPixel = 15;

int px(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

// Creates a control with its name (also its Qt object name) at a position in twips.
template <class Control>
Control* place(QWidget* container, const QString& name, int left, int top, int width, int height) {
    auto* control = new Control(container);
    control->setObjectName(name);
    control->setGeometry(px(left), px(top), px(width), px(height));
    return control;
}

template <class Control>
Control* place(QWidget* container, const QString& name, int left, int top, int width, int height,
               const QString& caption) {
    auto* control = place<Control>(container, name, left, top, width, height);
    control->setText(caption);
    return control;
}

QGroupBox* frame(QWidget* container, const QString& name, int left, int top, int width, int height,
                 const QString& caption) {
    auto* box = place<QGroupBox>(container, name, left, top, width, height);
    box->setTitle(caption);
    return box;
}

// "MS Sans Serif" 8.25 pt, the window's font. Where it is missing, a face of Arial's widths
// stands in, a little narrowed, so the captions fit the widths laid out for the original;
// any sans-serif face when none of those is there either.
QFont formFont(bool bold = false) {
    static const QString kFace = QStringLiteral("MS Sans Serif");
    QFont font(kFace);
    font.setFamilies({kFace, QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(bold);
    if (QFontInfo(font).family() != kFace)
        font.setStretch(96);
    return font;
}

// Grey bold text, the version labels' look.
void styleVersionLabel(QLabel* label) {
    QFont font = formFont(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Rgb(0x808080));
    label->setPalette(palette);
}

} // namespace

FMain::FMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FMain"));
    setWindowTitle(QStringLiteral("Tarvoni Software - Vestrel"));
    setWindowIcon(VestrelIcon());
    setFixedSize(px(kClientWidthTwips), px(kClientHeightTwips));
    setFont(formFont());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    createControls();
    connectJobHandlers();
    connectSchedulerHandlers();
    connect(CmdEsci, &QPushButton::clicked, this, [] { ExitProgram(); });
    connect(CmdNascondi, &QPushButton::clicked, this, &FMain::CmdNascondi_Click);
    SetMainWindow(this);
    connectSettingsHandlers();
}

FMain::~FMain() {
    if (MainWindow() == this)
        SetMainWindow(nullptr);
}

void FMain::Form_Load() {
    createTrayIcon();
    loadBackupState();
    ShowSettings();
    bAuto = true;
    PgBar->setValue(0);
    LblVersion->setText(QStringLiteral("%1.%2.%3")
                            .arg(VESTREL_VERSION_MAJOR)
                            .arg(VESTREL_VERSION_MINOR)
                            .arg(VESTREL_VERSION_PATCH));
    // The window opens with a button focused: a blinking caret in an idle text box would wake
    // the program twice a second for nothing.
    CmdBackup->setFocus();
    // Before the first tick: an hour missed while the program was not running is told even
    // when the backup of this hour then starts at once.
    CheckMissedBackup();
    CheckScheduleSoon();
}

void FMain::closeEvent(QCloseEvent* event) {
    bool cancel = false;
    const int mode = sessionEnding_ ? 2 : (event->spontaneous() ? 0 : 1);
    Form_QueryUnload(cancel, mode);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void FMain::Form_QueryUnload(bool& Cancel, int UnloadMode) {
    if (UnloadMode == 2 || bUnload)
        return;
    // Every other close request only hides the window; the program goes on in the tray.
    hide();
    Cancel = true;
}

void FMain::EndSession() {
    // The session is ending: no closing lines. A running job is stopped first.
    sessionEnding_ = true;
    if (bBackupRunning) {
        CancelBackup(QStringLiteral("Backup annullato per la fine della sessione."));
        return; // the job's end comes back here
    }
    close();
    QCoreApplication::quit();
}

void FMain::createControls() {
    // The timer ticks when asked to look now (the load, a click, a job's end); the hour
    // boundaries and retries come from a timer on the wall clock (connectSchedulerHandlers).
    // Nothing ticks in between: a polling tick would wake the process for nothing.
    Tmr = new QTimer(this);
    Tmr->setObjectName(QStringLiteral("Tmr"));
    Tmr->setTimerType(Qt::CoarseTimer);
    Tmr->setInterval(1000);
    Tmr->start();

    txtStatus = place<MultiLineTextBox>(this, QStringLiteral("txtStatus"), 9120, 3240, 1335, 615);
    Frame1 =
        frame(this, QStringLiteral("Frame1"), 120, 2640, 8895, 1095, QStringLiteral("Status :"));
    CmdEsci = place<QPushButton>(this, QStringLiteral("CmdEsci"), 9120, 2640, 1335, 375,
                                 QStringLiteral("Esc&i"));
    CmdNascondi = place<QPushButton>(this, QStringLiteral("CmdNascondi"), 9120, 2160, 1335, 375,
                                     QStringLiteral("&Nascondi"));
    CmdAbilita = place<QPushButton>(this, QStringLiteral("CmdAbilita"), 9120, 1680, 1335, 375,
                                    QStringLiteral("Disabilita Auto"));
    CmdBackup = place<QPushButton>(this, QStringLiteral("CmdBackup"), 9120, 1200, 1335, 375,
                                   QStringLiteral("&Esegui Backup"));
    CmdLoad = place<QPushButton>(this, QStringLiteral("CmdLoad"), 9120, 720, 1335, 375,
                                 QStringLiteral("&Carica"));
    CmdSave = place<QPushButton>(this, QStringLiteral("CmdSave"), 9120, 240, 1335, 375,
                                 QStringLiteral("&Salva"));
    fraCon = frame(this, QStringLiteral("fraCon"), 150, 120, 8865, 2415,
                   QStringLiteral("Connessione a Server SQL e Impostazione File di Backup :"));
    Frame5 = frame(this, QStringLiteral("Frame5"), 120, 3840, 8895, 1695,
                   QStringLiteral("Ore di Attivit\u00e0 :"));
    LblVersion = place<QLabel>(this, QStringLiteral("LblVersion"), 9120, 5160, 1335, 255,
                               QStringLiteral("0.0.0.0"));
    styleVersionLabel(LblVersion);
    Label3 = place<QLabel>(this, QStringLiteral("Label3"), 9120, 4920, 1335, 255,
                           QStringLiteral("Versione :"));
    styleVersionLabel(Label3);

    // Status frame.
    Label6 = place<QLabel>(Frame1, QStringLiteral("Label6"), 240, 240, 1815, 255,
                           QStringLiteral("Ultimo Backup eseguito:"));
    LblLastUpdate = place<QLabel>(Frame1, QStringLiteral("LblLastUpdate"), 2040, 240, 2415, 255);
    const struct {
        int left;
        unsigned fill;
    } lamps[] = {{4680, 0xFF80FF}, {6240, 0x00FFFF}, {7560, 0xFFFFFF}};
    for (int i = 0; i < 3; ++i) {
        shpStat_[i] = place<Shape>(Frame1, QStringLiteral("ShpStat(%1)").arg(i + 1), lamps[i].left,
                                   240, 255, 255);
        shpStat_[i]->setFillColor(Rgb(lamps[i].fill));
    }
    Label1 = place<QLabel>(Frame1, QStringLiteral("Label1"), 5040, 240, 1095, 255,
                           QStringLiteral("In Esecuzione"));
    Label2 = place<QLabel>(Frame1, QStringLiteral("Label2"), 6600, 240, 735, 255,
                           QStringLiteral("In Pausa"));
    Label5 = place<QLabel>(Frame1, QStringLiteral("Label5"), 7920, 240, 735, 255,
                           QStringLiteral("Errore"));
    PgBar = place<QProgressBar>(Frame1, QStringLiteral("PgBar"), 240, 600, 8415, 375);
    PgBar->setRange(0, 100);
    PgBar->setValue(0);
    PgBar->setTextVisible(false);

    // Connection and backup file frame.
    lblSrvName = place<QLabel>(fraCon, QStringLiteral("lblSrvName"), 285, 360, 1050, 240,
                               QStringLiteral("Nome Server:"));
    txtSrv = place<QLineEdit>(fraCon, QStringLiteral("txtSrv"), 1545, 300, 2835, 330,
                              QStringLiteral("(localhost)"));
    chkIntegrated = place<QCheckBox>(fraCon, QStringLiteral("chkIntegrated"), 4680, 360, 3255, 195,
                                     QStringLiteral("Utilizza protezione integrata di Windows"));
    lblUsr = place<QLabel>(fraCon, QStringLiteral("lblUsr"), 285, 810, 645, 240,
                           QStringLiteral("User ID:"));
    txtUsr = place<QLineEdit>(fraCon, QStringLiteral("txtUsr"), 1545, 735, 2835, 330,
                              QStringLiteral("sa"));
    lblPwd = place<QLabel>(fraCon, QStringLiteral("lblPwd"), 4605, 810, 780, 240,
                           QStringLiteral("Password:"));
    txtPwd = place<QLineEdit>(fraCon, QStringLiteral("txtPwd"), 5865, 750, 2835, 330);
    txtPwd->setEchoMode(QLineEdit::Password);
    txtPwd->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    lblDBName = place<QLabel>(fraCon, QStringLiteral("lblDBName"), 285, 1230, 1185, 240,
                              QStringLiteral("Nome database:"));
    txtDBName = place<QLineEdit>(fraCon, QStringLiteral("txtDBName"), 1545, 1185, 2835, 330);
    Label4 = place<QLabel>(fraCon, QStringLiteral("Label4"), 240, 1680, 2775, 255,
                           QStringLiteral("Nome File di Backup :"));
    TxtPath = place<QLineEdit>(fraCon, QStringLiteral("TxtPath"), 240, 1920, 7815, 285);
    CmdDir = place<QPushButton>(fraCon, QStringLiteral("CmdDir"), 8160, 1920, 495, 285,
                                QStringLiteral(".."));

    // Activity hours frame: one label and one button per hour, in a row.
    const QFont hourFont = formFont(true);
    for (int hour = 0; hour < 24; ++hour) {
        const int left = 120 + 360 * hour;
        label13_[hour] =
            place<QLabel>(Frame5, QStringLiteral("Label13(%1)").arg(hour), left, 360, 375, 255,
                          QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0')));
        label13_[hour]->setFont(hourFont);
        label13_[hour]->setAlignment(Qt::AlignCenter);
        // The system's window colours (the background and text of a window's contents), not
        // the dialog face the other labels show.
        QPalette windowColours = label13_[hour]->palette();
        windowColours.setColor(QPalette::Window, windowColours.color(QPalette::Base));
        windowColours.setColor(QPalette::WindowText, windowColours.color(QPalette::Text));
        label13_[hour]->setPalette(windowColours);
        label13_[hour]->setAutoFillBackground(true);
        cmdHour_[hour] = place<ColorButton>(Frame5, QStringLiteral("CmdHour(%1)").arg(hour), left,
                                            608, 375, 495);
        cmdHour_[hour]->setBackColor(Rgb(0xFFFFFF));
    }
    CmdEscludi = place<QPushButton>(Frame5, QStringLiteral("CmdEscludi"), 5280, 1200, 1695, 375,
                                    QStringLiteral("Escludi Tutti"));
    CmdIncludi = place<QPushButton>(Frame5, QStringLiteral("CmdIncludi"), 7080, 1200, 1695, 375,
                                    QStringLiteral("Includi Tutti"));
}

Shape* FMain::ShpStat(int index) const {
    Q_ASSERT(index >= 1 && index <= 3);
    return shpStat_[static_cast<std::size_t>(index - 1)];
}

QLabel* FMain::Label13(int hour) const {
    return label13_[static_cast<std::size_t>(hour)];
}

ColorButton* FMain::CmdHour(int hour) const {
    return cmdHour_[static_cast<std::size_t>(hour)];
}

bool FMain::ShowStatus(const QString& text) {
    txtStatus->appendText(text + QLatin1String("\r\n"));
    DoEvents();
    return WriteLog(text);
}

namespace {
// A picture for each size a notification area asks for (16, 22, 24 on X11 and most panels,
// 32 and 48 on larger ones): QIcon takes the smallest that is not smaller than the slot, so
// none is scaled up.
QIcon iconFiles(const QString& pattern) {
    initResources();
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48})
        icon.addFile(pattern.arg(size), QSize(size, size));
    return icon;
}
} // namespace

QIcon VestrelIcon() {
    return iconFiles(QStringLiteral(":/vestrel/icon-%1.png"));
}

QIcon VestrelWarningIcon() {
    return iconFiles(QStringLiteral(":/vestrel/icon-warning-%1.png"));
}

void UseProgramStyle() {
    // The window was laid out for this look: its frames draw the caption on the border line,
    // so the controls placed in twips sit inside them, and a check box's box is 13 px high.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows")))
        QApplication::setStyle(style);
}

} // namespace vestrel
