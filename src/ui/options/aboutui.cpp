// The about box: its form, the version line, the texts and the customised logo.

#include "aboutui.h"

#include <QFile>
#include <QLabel>

#include "languagesetting.h"
#include "ui_aboutui.h"
#include "UIConstants"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "utilhelpers.h"

AboutUI::AboutUI(QWidget* parent) : basewidget(parent), ui(new Ui_AboutUI) {
    ui->setupUi(this);
    setFixedSize(width(), height());
    InitVersion();
}

AboutUI::~AboutUI() { delete ui; }

void AboutUI::InitVersion() {
    UISystemProfile* profile = UISystemProfile::GetInstance();
    ui->l_Versions->setText(profile->GetProductName() + " " +
                            Util_StripLastSuffix(profile->GetVersion()));
}

void AboutUI::SetLanguageText() {
    LanguageSetting* language = LanguageSetting::GetInstance();
    setWindowTitle(language->GetValue("/UI_ABOUT/UI_ABOUT_TITLE"));
    ui->l_Description->setText(language->GetValue("/UI_ABOUT/UI_ABOUT_LABEL_Description"));
}

void AboutUI::SetCustomizedSkin() {
    const QString path = UIContext::GetInstance()->GetInstallDir() + UI_CUSTOMIZED_BACKGROUND;
    if (QFile::exists(path)) {
        ui->sw_label->setStyleSheet("border-image: url(" + path + ");");
    }
}
