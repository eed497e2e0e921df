#pragma once
// The log file viewer of the fault report: every file the log folder and its subfolders
// hold, one row each with its name, type and size, and the text of the file whose row
// the user clicks. Memory dumps are refused rather than shown as text, and the user's
// own description is not listed.

#include "basewidget.h"

class Ui_ErrorReport;

class ErrorReport : public basewidget {
    Q_OBJECT

public:
    explicit ErrorReport(QWidget* parent = nullptr);
    ~ErrorReport() override;

    // Texts, the table's look and its rows. The folder is read once, here: with no
    // folder a warning box comes before the viewer, which then stays empty.
    void InitWidget() override;
    // The type text of a complete suffix ("log", but "log.1" has none); exact case.
    QString GetFileTypeText(QString suffix);

protected:
    // The path and detail labels show their whole text as a tool tip.
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // Shows the file of the current row, or refuses a dump.
    void ItemChangedSlot();

private:
    Ui_ErrorReport* ui;
};
