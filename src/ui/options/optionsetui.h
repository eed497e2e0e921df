#pragma once
// The options dialog: start at login, blocking connections to untrusted servers, the
// check for a newer client and the interface language, all fields of the system
// configuration. Apply puts the values into the front end's copy of the configuration
// and makes two of them take effect at once (the autostart entry, the language); Save
// does the same and then sends the copy to the service. Cancel only closes.

#include "basewidget.h"

class Ui_OptionSetUI;

class OptionSetUI : public basewidget {
    Q_OBJECT

public:
    explicit OptionSetUI(QWidget* parent = nullptr);
    ~OptionSetUI() override;

    // Fills the dialog from the configuration.
    void InitWidget() override;
    void SetLanguageText() override;
    // The customised banner, when its picture is installed.
    void SetCustomizedSkin() override;

    void OptionSetUI_Init();
    // The languages of the "language" folder that the language list names, the stored
    // one current.
    void OptionSetUI_LanguageList_Init();
    // Loads the texts of the language and shows this dialog's texts in it.
    void OptionSetUI_Language_Load(int languageId);

signals:
    // Emitted by every Apply, after this dialog's texts were switched: the interface
    // language was (re)loaded.
    void signal_languageChange();

public slots:
    void on_pb_advancedCancel_clicked();
    void on_pb_advancedSave_clicked();
    void on_pb_advancedApply_clicked();
    // The form has no widgets of these names: nothing connects them and they do nothing.
    void on_pb_clear_Slot();
    void on_cb_logSwitch_Slot();
    // Adds (checked) or removes the client's autostart entry.
    void StartUp(bool checked);

private:
    Ui_OptionSetUI* ui;
};
