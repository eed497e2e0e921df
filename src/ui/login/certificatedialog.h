#pragma once
// The warning that the gateway's certificate is not trusted, shown by the SSL login when
// the gateway reports it. Continue closes it with Accepted (the login then goes once
// more without the device certificate check), Cancel, Escape and the close button with
// Rejected. The two links only report what the user asked for (the settings, the help
// manual); the creator passes that on and the dialog stays open.
//
// Unlike the other dialogs its creator does not run Init: the constructor sets the
// window flags and the creator calls SetLanguageText itself. The signals and slots keep
// their places in the meta-object; the slots at places 4 and 5 name no widget of the
// form and stay unconnected.

#include "basewidget.h"

class Ui_certificateDialog;

class certificateDialog : public basewidget {
    Q_OBJECT

public:
    explicit certificateDialog(QWidget* parent = nullptr);
    ~certificateDialog() override;
    certificateDialog(const certificateDialog&) = delete;
    certificateDialog& operator=(const certificateDialog&) = delete;

    void SetLanguageText() override;
    // Takes the gateway's text; the dialog shows nothing of it.
    void SetInfo(QString info);

signals:
    void signal_OpenHelp();
    void signal_Language_Changed();

private slots:
    void on_pb_ChangSetting_clicked();
    void on_pb_KeepSafe_clicked();
    void on_pb_ChangSetting_3_clicked();
    void on_pb_OpenHelp_3_clicked();
    void on_pb_CancleConnect_clicked();
    void on_pb_OpenHelp_clicked();

private:
    Ui_certificateDialog* ui;
};
