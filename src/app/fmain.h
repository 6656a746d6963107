#pragma once

#include "app/controls.h"

#include <QWidget>
#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;

namespace vestrel {

// The main window: every control with its design-time values. Geometry is given in twips
// (15 twips are one pixel at 96 dpi) relative to the control's container.
class FMain : public QWidget {
    Q_OBJECT
public:
    explicit FMain(QWidget* parent = nullptr);
    ~FMain() override;

    static constexpr int kClientWidthTwips = 10620;
    static constexpr int kClientHeightTwips = 5625;

    // Shows the text as a new last line of the status box, processes pending messages once,
    // then writes the same text to the log. Returns false when the log line could not be
    // written (the line is on screen all the same).
    [[nodiscard]] bool ShowStatus(const QString& text);

    // Control arrays: ShpStat(1..3), Label13(0..23), CmdHour(0..23); the index is the hour.
    Shape* ShpStat(int index) const;
    QLabel* Label13(int hour) const;
    ColorButton* CmdHour(int hour) const;

    QTimer* Tmr = nullptr;
    MultiLineTextBox* txtStatus = nullptr;
    QGroupBox* Frame1 = nullptr;
    QPushButton* CmdEsci = nullptr;
    QPushButton* CmdNascondi = nullptr;
    QPushButton* CmdAbilita = nullptr;
    QPushButton* CmdBackup = nullptr;
    QPushButton* CmdLoad = nullptr;
    QPushButton* CmdSave = nullptr;
    QGroupBox* fraCon = nullptr;
    QGroupBox* Frame5 = nullptr;
    QLabel* LblVersion = nullptr;
    QLabel* Label3 = nullptr;

    QLabel* Label6 = nullptr;
    QLabel* LblLastUpdate = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QProgressBar* PgBar = nullptr;

    QLabel* lblSrvName = nullptr;
    QLineEdit* txtSrv = nullptr;
    QCheckBox* chkIntegrated = nullptr;
    QLabel* lblUsr = nullptr;
    QLineEdit* txtUsr = nullptr;
    QLabel* lblPwd = nullptr;
    QLineEdit* txtPwd = nullptr;
    QLabel* lblDBName = nullptr;
    QLineEdit* txtDBName = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* TxtPath = nullptr;
    QPushButton* CmdDir = nullptr;

    QPushButton* CmdEscludi = nullptr;
    QPushButton* CmdIncludi = nullptr;

    // --- Settings: between the window, the record and config.ini ---
    // Writes the seven keys from the controls and ArrayTempo, and updates Settings.
    void SaveSettings();
    // Shows Settings and ArrayTempo in the controls; the file is not read.
    void ShowSettings();
    void CmdSave_Click();
    void CmdLoad_Click();
    // Lets the user pick the backup file; only TxtPath receives the choice.
    void CmdDir_Click();
    // The enabling rule: txtUsr and txtPwd are enabled exactly when the box is not ticked.
    void chkIntegrated_Click();
    // --- end of settings ---

private:
    void connectSettingsHandlers();
    void createControls();

    std::array<Shape*, 3> shpStat_{};
    std::array<QLabel*, 24> label13_{};
    std::array<ColorButton*, 24> cmdHour_{};
};

// The window's icon, drawn for the program at 16, 32 and 48 pixels.
QIcon VestrelIcon();

} // namespace vestrel
