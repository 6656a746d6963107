#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/gui/filedialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <exception>

namespace vestrel {

using namespace Qt::StringLiterals;

namespace {

const QString kConnection = u"Connection String"_s;
const QString kAdvanced = u"Opzioni_Avanzate"_s;

// The check box state as the digit stored in the file: 0 unticked, 1 ticked, 2 greyed.
int StateDigit(Qt::CheckState state) {
    switch (state) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    case Qt::Unchecked:
        break;
    }
    return 0;
}

} // namespace

void FMain::connectSettingsHandlers() {
    connect(CmdSave, &QPushButton::clicked, this, &FMain::CmdSave_Click);
    connect(CmdLoad, &QPushButton::clicked, this, &FMain::CmdLoad_Click);
    connect(CmdDir, &QPushButton::clicked, this, &FMain::CmdDir_Click);
    // Every change of the state, by a click or by the program, goes through the same rule.
    connect(chkIntegrated, &QCheckBox::stateChanged, this, &FMain::chkIntegrated_Click);
}

void FMain::SaveSettings() {
    const int state = StateDigit(chkIntegrated->checkState());
    oIni.SetValue(kConnection, u"Integrated Security"_s, QString::number(state));
    oIni.SetValue(kConnection, u"User ID"_s, txtUsr->text());
    oIni.SetValue(kConnection, u"Initial Catalog"_s, txtDBName->text());
    oIni.SetValue(kConnection, u"Data Source"_s, txtSrv->text());
    oIni.SetValue(kConnection, u"Password"_s, txtPwd->text());
    oIni.SetValue(kAdvanced, u"FileName"_s, TxtPath->text());

    Settings.bIntegratedSecurity = state != 0;
    Settings.sUserID = txtUsr->text();
    Settings.sInitialCatalog = txtDBName->text();
    Settings.sDataSource = txtSrv->text();
    Settings.sBackupFile = TxtPath->text();
    Settings.sPassword = txtPwd->text();

    // From the flags themselves, not from the button colours.
    oIni.SetValue(kAdvanced, u"ARRAY_TEMPO"_s, EncodeHourFlags(ArrayTempo));
}

void FMain::ShowSettings() {
    for (int hour = 0; hour < 24; ++hour)
        CmdHour(hour)->setBackColor(ArrayTempo[size_t(hour)] ? Rgb(0x0000FF) : Rgb(0xFFFFFF));

    const Qt::CheckState state = Settings.bIntegratedSecurity ? Qt::Checked : Qt::Unchecked;
    if (chkIntegrated->checkState() == state)
        chkIntegrated_Click(); // no change, no signal: the rule still holds afterwards
    else
        chkIntegrated->setCheckState(state);

    txtUsr->setText(Settings.sUserID);
    txtDBName->setText(Settings.sInitialCatalog);
    txtSrv->setText(Settings.sDataSource);
    TxtPath->setText(Settings.sBackupFile);
    txtPwd->setText(Settings.sPassword);
}

void FMain::CmdSave_Click() {
    SaveSettings();
}

void FMain::CmdLoad_Click() {
    ShowSettings();
}

void FMain::CmdDir_Click() {
    FileDialogRequest request;
    request.title = u"Data File Name:"_s;
    request.filters = {{u"All Files (*.*)"_s, u"*.*"_s}, {u"Backup Files (*.bak)"_s, u"*.bak"_s}};
    request.selectedFilter = 1;
    request.defaultExtension = u"bak"_s;
    // Cancel and every failure of the dialog end here quietly: the text stays as it was.
    try {
        const std::optional<QString> chosen = FileDialogSeam().get().GetOpenFileName(request, this);
        if (chosen)
            TxtPath->setText(*chosen);
    } catch (const std::exception&) {
    }
}

void FMain::chkIntegrated_Click() {
    const bool ticked = chkIntegrated->checkState() == Qt::Checked;
    txtUsr->setEnabled(!ticked);
    txtPwd->setEnabled(!ticked);
}

} // namespace vestrel
