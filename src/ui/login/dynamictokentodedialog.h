#pragma once
// The prompt for a dynamic token code, which the SSL login shows when the gateway asks
// for one. OK hands the code, as typed, to the creator through signal_SendCodeStr and
// closes with Accepted; Escape and the close button give Rejected without a code. It
// judges nothing: an empty code is a code too. Enter does not commit (no default
// button, and OK never takes the focus), so a code is never sent half typed.
//
// The signal and the slot keep their places in the meta-object.

#include <QString>

#include "basewidget.h"

class QEvent;
class QObject;
class Ui_DynamicTokenTodeDialog;

class DynamicTokenTodeDialog : public basewidget {
    Q_OBJECT

public:
    explicit DynamicTokenTodeDialog(QWidget* parent = nullptr);
    ~DynamicTokenTodeDialog() override;
    DynamicTokenTodeDialog(const DynamicTokenTodeDialog&) = delete;
    DynamicTokenTodeDialog& operator=(const DynamicTokenTodeDialog&) = delete;

    // The code field refuses the clipboard and the middle button's selection paste.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void InitWidget() override;
    void SetLanguageText() override;

signals:
    void signal_SendCodeStr(QString codeStr);

private slots:
    void on_pb_commit_clicked();

private:
    Ui_DynamicTokenTodeDialog* ui;
};
