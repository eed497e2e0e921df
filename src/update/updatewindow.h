#pragma once
// The update program's only window: a small progress window that stays on top and
// cannot be closed while an install runs. One second after it is built its start timer
// begins the install run: the downloaded package is unpacked, the client's programs are
// stopped and the install helper replaces the installed version; a box reports the
// outcome once the window has gone. Its slots keep the order and the argument names that
// code invoking them by name relies on.

#include <QMainWindow>
#include <QString>

class QCloseEvent;
class QProcess;
class QSettings;
class QTimer;
class Ui_updateWindow;
class updateThread;

class updateWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit updateWindow(QWidget* parent = nullptr);
    ~updateWindow() override;

    // Field 0 of the ";"-separated text is the package path, field 1 the download URL
    // (empty when missing).
    void setUpdateParam(const QString& text);
    // The flag text of the command line, kept for the window's life.
    void setFlagStr(const QString& text);
    // Title and label from the label file.
    void setLanguageText();
    // The key's text in the label file; empty for a missing key or file.
    QString getLabelText(const QString& key);
    // The run's progress thread, null before the run starts it. The window never deletes
    // it: it may still be counting when the window has gone, so the program waits for it
    // and deletes it after the event loop.
    updateThread* getProgressThread() const;

public slots:
    void on_updateButton_clicked();
    void updateDir(QString newVersionDir, QString oldVersionDir);
    void updateFile(QString newFilePath, QString oldFilePath);
    void startUpdateMac();
    void updateFinished();
    void updateSlot(int x);
    void aotoCloseMsgBox(QString msgBoxInfo);
    void aotoMsgBox(QString msgBoxInfo);
    void UpdateFileMsgBox(QString msgBoxInfo);
    void killClient();
    void closeEvent(QCloseEvent* event) override;

private:
    Ui_updateWindow* ui;
    QString packagePath;
    QString downloadUrl;
    QProcess* installProcess;
    QSettings* labelSettings;
    updateThread* progressThread;
    QTimer* startTimer;
    QString flagStr;
    bool allowClose;
    // The file the run unpacked (device and inode), so that the end removes that file
    // and nothing else put at its name.
    quint64 packageDev = 0;
    quint64 packageIno = 0;
};

// Seams, for tests only. The install helper's path (empty: "refitter" in the program's
// own folder), and what stops one of the client's programs by name (null: a SIGKILL to
// every process of this user running that program, never this one or its ancestors).
void updateHelperPathSet(const QString& path);
typedef void (*UPDATE_KILL_PF)(const char* pcName);
void updateKillSet(UPDATE_KILL_PF pfnKill);
