#pragma once
// The fault report dialog: it apologises, asks the user how the fault came about and,
// as it opens, has the service link write the system information files into the log
// folder. Its link opens the log file viewer; OK writes the description beside those
// files and hands over to the archive dialog, which packs the folder.

#include "basewidget.h"

class Ui_BreakDownSubmit;

class BreakDownSubmit : public basewidget {
    Q_OBJECT

public:
    explicit BreakDownSubmit(QWidget* parent = nullptr);
    ~BreakDownSubmit() override;

    // The log folder stored for the process, and the system information files written
    // into it before the dialog shows.
    void InitWidget() override;
    void SetLanguageText() override;

private slots:
    void on_tb_errorMsg_clicked();
    void on_pb_ok_clicked();
    void on_pb_cancel_clicked();

private:
    Ui_BreakDownSubmit* ui;
};
