#pragma once
// The last step of the fault report: where the zip archive goes (a time-stamped name in
// the per-user folder, or a folder the user chooses), and the packing of the log folder
// into it.

#include <QString>

#include "basewidget.h"

class Ui_SaveErroeReportWidget;

class SaveErroeReportWidget : public basewidget {
    Q_OBJECT

public:
    explicit SaveErroeReportWidget(QWidget* parent = nullptr);
    ~SaveErroeReportWidget() override;

    void SetLanguageText() override;
    // A fresh time-stamped archive name in that folder, written with "\" separators,
    // replaces the path field's text.
    void SetDefaultFileName(QString folder);
    // Packs the log folder's files into the target: true when zip ended well and the
    // archive is there. The target comes back in the form the logged command shows.
    bool CompressErrorReport(QString& target);

private slots:
    void on_pb_Browse_clicked();
    void on_pb_Commit_clicked();
    void on_pb_Cancle_clicked();

private:
    Ui_SaveErroeReportWidget* ui;
};
