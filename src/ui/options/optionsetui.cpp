// The options dialog: filled from the system configuration, Apply and Save, the language
// list and the switch of the interface language.

#include "optionsetui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSettings>

#include "ddm_log.h"
#include "languagesetting.h"
#include "servicelink.h"
#include "ui_optionsetui.h"
#include "UIConstants"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"

namespace {

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

QString LanguageDir() {
    return UIContext::GetInstance()->GetResourceDir() + QStringLiteral("language");
}

// The entries of the language folder as listed by default: folders and files, "." and
// ".." among them, sorted by name without regard to case. An entry that the language
// list names is a language.
QStringList LanguageEntries() { return QDir(LanguageDir()).entryList(); }

// The name the list shows for a folder entry: the language list's value for it after its
// last "-". The list file is written in ASCII with escapes and read without a codec,
// and it is opened for each look-up, as the installation may change it.
QString ShownName(const QString& entry) {
    QSettings list(LanguageDir() + QStringLiteral("/language.ini"), QSettings::IniFormat);
    const QString value = list.value(entry).toString();
    return value.mid(value.lastIndexOf(QLatin1Char('-')) + 1);
}

uint32_t Ticked(const QCheckBox* box) { return box->isChecked() ? 1u : 0u; }

}  // namespace

OptionSetUI::OptionSetUI(QWidget* parent) : basewidget(parent), ui(new Ui_OptionSetUI) {
    ui->setupUi(this);
}

OptionSetUI::~OptionSetUI() { delete ui; }

void OptionSetUI::InitWidget() {
    basewidget::InitWidget();
    OptionSetUI_Init();
}

void OptionSetUI::OptionSetUI_Init() {
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[Start option ui init]"));
    UISystemProfile* profile = UISystemProfile::GetInstance();
    OptionSetUI_LanguageList_Init();
    ui->cb_blockConnection->setChecked(profile->GetServerCheck() != 0);
    ui->cb_startUp->setChecked(profile->GetAutoBoot() != 0);
    ui->cb_LatestVersion->setChecked(profile->GetCheckVersion() != 0);
    // The tip says a newer client waits, to someone who does not check for one.
    ui->l_VersionTip->hide();
    if (!UIContext::GetInstance()->GetLatestVersion() && !ui->cb_LatestVersion->isChecked()) {
        ui->l_VersionTip->show();
    }
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[Finish option ui init]"));
}

void OptionSetUI::OptionSetUI_LanguageList_Init() {
    // Kept as an unsigned field; an identifier with the top bit set is no language.
    const int stored = static_cast<int>(UISystemProfile::GetInstance()->GetLanguageID());
    if (stored < 0) {
        return;
    }
    const QString storedName = QString::number(stored);
    int position = -1;
    for (const QString& entry : LanguageEntries()) {
        const QString shown = ShownName(entry);
        if (shown.isEmpty()) {
            continue;
        }
        ui->cb_language->addItem(shown);
        ++position;
        if (entry == storedName) {
            ui->cb_language->setCurrentIndex(position);
        }
    }
}

void OptionSetUI::OptionSetUI_Language_Load(int languageId) {
    (void)LanguageSetting::GetInstance()->Init(languageId,
                                               UIContext::GetInstance()->GetResourceDir());
    SetLanguageText();
}

void OptionSetUI::on_pb_advancedApply_clicked() {
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[Start option ui to apply]"));
    const uint32_t startUp = Ticked(ui->cb_startUp);
    StartUp(startUp != 0);

    // The list shows names only: the chosen one is mapped back to its folder, the last
    // entry of that name winning.
    int languageId = 0;
    const QString chosen = ui->cb_language->currentText();
    for (const QString& entry : LanguageEntries()) {
        if (ShownName(entry) == chosen) {
            languageId = entry.toInt();
        }
    }
    OptionSetUI_Language_Load(languageId);
    emit signal_languageChange();

    UISystemProfile* profile = UISystemProfile::GetInstance();
    profile->SetLanguageID(static_cast<uint32_t>(languageId));
    profile->SetServerCheck(Ticked(ui->cb_blockConnection));
    profile->SetAutoBoot(startUp);
    profile->SetCheckVersion(Ticked(ui->cb_LatestVersion));
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[Finish option ui to apply]"));
}

void OptionSetUI::on_pb_advancedSave_clicked() {
    on_pb_advancedApply_clicked();
    (void)UISystemProfile::GetInstance()->Save();  // a refusal has been shown by the save
    accept();
}

void OptionSetUI::on_pb_advancedCancel_clicked() { accept(); }

void OptionSetUI::on_pb_clear_Slot() {}

void OptionSetUI::on_cb_logSwitch_Slot() {}

void OptionSetUI::StartUp(bool checked) {
    if (UIContext::GetInstance()->GetSystemType() == 2) {
        (void)UI_LoginItem_Set(checked ? 1 : 0);
    }
}

void OptionSetUI::SetLanguageText() {
    ui->l_VersionTip->setText(Text("/UI_OPTIONSET/UI_OPTIONSET_LABEL_LATESTVERSION"));
    ui->cb_startUp->setText(Text("/UI_OPTIONSET/UI_OPTIONSET_CHECKBOX_STARTUP"));
    ui->cb_LatestVersion->setText(Text("/UI_OPTIONSET/UI_OPTIONSET_CHECKBOX_LATESTVERSION"));
    ui->cb_blockConnection->setText(Text("/UI_OPTIONSET/UI_OPTIONSET_CHECKBOX_BLOCKCONNECTION"));
    ui->l_uiLanguage->setText(Text("/UI_OPTIONSET/UI_OPTIONSET_LABEL_UILANGUAGE"));
    ui->pb_advancedSave->setText(Text("/UI_OPTIONSET/UI_OPTIONSET_PUSHBUTTON_SAVE"));
    ui->pb_advancedCancel->setText(Text("/UI_OPTIONSET/UI_OPTIONSET_PUSHBUTTON_CANCEL"));
    ui->pb_advancedApply->setText(Text("/UI_OPTIONSET/UI_OPTIONSET_PUSHBUTTON_APPLY"));
    setWindowTitle(Text("/UI_OPTIONSET/UI_OPTIONSET_TITLE"));
}

void OptionSetUI::SetCustomizedSkin() {
    const QString path = UIContext::GetInstance()->GetInstallDir() + UI_CUSTOMIZED_BACKGROUND;
    if (QFile::exists(path)) {
        ui->sw_label->setStyleSheet("border-image: url(" + path + ");");
    }
}
