// The main window: its construction and wiring, the connection list, the form's texts
// and skin, the tray, the service's ending events, disconnect and the exit path.

#include "mainui.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDesktopWidget>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QList>
#include <QListWidget>
#include <QListWidgetItem>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QScreen>
#include <QSettings>
#include <QThread>
#include <QUrl>

#include "aboutui.h"
#include "breakdownsubmit.h"
#include "changepwd.h"
#include "ddm_log.h"
#include "dialog.h"
#include "languagesetting.h"
#include "loginkeyipsecui.h"
#include "loginkeyui.h"
#include "optionsetui.h"
#include "packagebackup.h"
#include "profileinfoui.h"
#include "pluginthread.h"
#include "proxysetting.h"
#include "ui_mainui.h"
#include "UIConstants"
#include "servicelink.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "urgentthread.h"
#include "util.h"
#include "utilhelpers.h"

class MainUIPrivate {
public:
    MComboboxItem* newConnectItem = nullptr;
    QListWidget* listWidget = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    QMenu* trayMenu = nullptr;
    QMenu* helpMenu = nullptr;
    QAction* actionShowMain = nullptr;
    QAction* actionConnect = nullptr;
    QAction* actionDisconnect = nullptr;
    QAction* actionPwdChange = nullptr;
    QAction* actionOption = nullptr;
    QAction* actionAbout = nullptr;
    QAction* actionExit = nullptr;
    QAction* actionHelp = nullptr;
    QAction* actionFaultReport = nullptr;
    QAction* actionCancelAutoLogin = nullptr;
    UrgentThread* urgentThread = nullptr;
    PluginThread* pluginThread = nullptr;
    QProcess* process = nullptr;
    int lastSessionRow = -1;
    CFM_SSL_PROFILE_S* sslProfile = nullptr;
    QList<int> pluginEventQueue;
    bool loginKeyUIOpen = false;
    bool loginKeyIPSECUIOpen = false;
    bool changePwdOpen = false;
    bool faultReportOpen = false;
    bool optionOpen = false;
    bool aboutOpen = false;
    // An SSL launch is running (it may be waiting in a nested loop).
    bool sslLaunchRunning = false;
};

namespace {

const char kComboStyle[] =
    "QComboBox{background-color: rgb(255, 255, 255);}QComboBox QAbstractItemView::item{color: "
    "rgba(255, 255, 255, 0);}QComboBox QAbstractItemView::item {min-height:30px;min-width:60px;"
    "background-color:white;} QComboBox {border: 1px solid gray; border-radius: 3px; "
    "min-width: 9em;}QComboBox QAbstractItemView::item::hover{background-color:rgb(206, 244, "
    "255);}QComboBox::drop-down {subcontrol-origin: padding; subcontrol-position: top right; "
    "width: 20px; border-left-width: 1px;border-left-color: darkgray; border-left-style: solid; "
    "border-top-right-radius: 3px; border-bottom-right-radius: 3px; }QComboBox::down-arrow "
    "{image: url(:/Global/Resources/Icon/down.png); width:16px; height:16px; }";

const char kCertInfoFile[] = "/usr/local/VanTrelo/certinfo.txt";

// The longest help path, in local 8-bit bytes, that is still handed to the viewer.
constexpr int kHelpPathLimit = 1025;

void Log(uint32_t level, const QString& text) { Util_WriteLog(0, static_cast<int>(level), text); }

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

// The profile's shown name: its stored name up to the last ".".
QString ShownName(const QString& stored) { return Util_GetFileBaseName(stored); }

// The rows keep their parts at fixed places whatever their width, so the open list is
// made at least as wide as the widest row's parts, with the row's left margin mirrored on
// the right. The drop-down itself follows the window's layout and the language of its
// label, and may be narrower: its popup would then cut the delete icons.
void FitListToRows(QListWidget* list, int maxVisibleRows) {
    int widest = 0;
    for (int i = 0; i < list->count(); ++i) {
        const QWidget* row = list->itemWidget(list->item(i));
        if (row != nullptr) {
            const QRect parts = row->childrenRect();
            widest = std::max(widest, parts.right() + 1 + std::max(parts.left(), 0));
        }
    }
    int width = widest + 2 * list->frameWidth();
    if (list->count() > maxVisibleRows) {
        width += list->verticalScrollBar()->sizeHint().width();
    }
    list->setMinimumWidth(width);
}

}  // namespace

MainUI::MainUI(QWidget* parent) : basewidget(parent), ui(new Ui_MainUI), d(new MainUIPrivate) {
    ui->setupUi(this);
    d->sslProfile = static_cast<CFM_SSL_PROFILE_S*>(std::calloc(1, sizeof(CFM_SSL_PROFILE_S)));
    activateWindow();
}

MainUI::~MainUI() {
    Log(DDM_LOG_INFO, QStringLiteral("[finish main ui ~main ui]"));
    if (d != nullptr) {
        std::free(d->sslProfile);
    }
    delete d;
    delete ui;
}

// ---- Construction and wiring ------------------------------------------------------------

void MainUI::InitWidget() {
    Log(DDM_LOG_INFO, QStringLiteral("[Start main ui init]"));
    basewidget::InitWidget();

    d->listWidget = new QListWidget;
    ui->pb_disConnect->hide();
    ui->cb_linkname->setModel(d->listWidget->model());
    ui->cb_linkname->setView(d->listWidget);
    ui->cb_linkname->installEventFilter(this);

    UIContext* context = UIContext::GetInstance();
    context->SetLinkType(0);
    context->SetLogined(false);
    context->SetSettingEnable(true);
    context->SetNewConnect(true);

    d->urgentThread = new UrgentThread();
    d->process = new QProcess(this);
    connect(d->urgentThread, SIGNAL(signal_Exit()), this, SLOT(MainUI_SysTrayIcon_ExitMain_Pre()));
    connect(d->urgentThread, SIGNAL(signal_UrgentLogout()), this,
            SLOT(MainUI_UrgentLogout_Message()));
    connect(d->urgentThread, SIGNAL(signal_VnicError()), this, SLOT(MainUI_VnicError_Message()));
    connect(d->urgentThread, SIGNAL(signal_DhcpError()), this, SLOT(MainUI_DhcpError_Message()));
    connect(d->urgentThread, SIGNAL(signal_CnemRconn_Fail()), this,
            SLOT(MainUI_CnemReconn_Fail_Message()));
    connect(d->urgentThread, SIGNAL(signal_UI_Show_Style(int, QString)), this,
            SLOT(MainUI_UI_Show_Style(int, QString)));
    d->urgentThread->start();

    if (context->GetPluginMode() == 1) {
        // The thread records each request's type (and a login's texts) for the slot that
        // answers it: it waits until that slot has run before it takes the next request.
        const Qt::ConnectionType oneByOne = Qt::BlockingQueuedConnection;
        d->pluginThread = new PluginThread();
        connect(d->pluginThread, SIGNAL(signal_Plugin_Login()), this, SLOT(MainUI_Plugin_Login()),
                oneByOne);
        connect(d->pluginThread, SIGNAL(signal_Plugin_Urgent_Logout()), this,
                SLOT(MainUI_Plugin_Urgent_Logout()), oneByOne);
        connect(d->pluginThread, SIGNAL(signal_Plugin_Logout()), this,
                SLOT(MainUI_Plugin_Logout()), oneByOne);
        connect(d->pluginThread, SIGNAL(signal_StopCNEM()), this, SLOT(MainUI_Plugin_Stop_CNEM()),
                oneByOne);
        connect(d->pluginThread, SIGNAL(signal_StartCNEM()), this,
                SLOT(MainUI_Plugin_Start_CNEM()), oneByOne);
        connect(d->pluginThread, SIGNAL(signal_Plugin_HostCheck()), this,
                SLOT(MainUI_Plugin_HostCheck()), oneByOne);
        connect(d->pluginThread, SIGNAL(signal_Plugin_CacheClear(int)), this,
                SLOT(MainUI_Plugin_CacheClear(int)), oneByOne);
        connect(d->pluginThread, SIGNAL(signal_Plugin_Get_Info()), this,
                SLOT(MainUI_Plugin_GetInfo()), oneByOne);
        d->pluginThread->start();
    }

    ui->cb_linkname->setStyleSheet(QLatin1String(kComboStyle));

    MainUI_ConnectList_Init();
    MainUI_SysTrayIcon_Init();
    d->trayIcon->setVisible(true);

    if (d->listWidget->count() >= 2) {
        const QString last = UISystemProfile::GetInstance()->GetLastAccessSession();
        const int row = last.isEmpty() ? 1 : d->lastSessionRow;
        QListWidgetItem* item = d->listWidget->item(row);
        auto* rowWidget = item != nullptr
                              ? qobject_cast<MComboboxItem*>(d->listWidget->itemWidget(item))
                              : nullptr;
        if (rowWidget != nullptr) {
            const QString name = rowWidget->MComboboxItem_Text_Get();
            const LINK_TYPE type = rowWidget->MComboboxItem_Type_Get();
            ui->cb_linkname->setCurrentText(name);
            ui->cb_linkname->hidePopup();
            context->SetLinkType(type);
            context->SetConnectName(name);
            MainUI_SysTrayIcon_Refresh();
        }
    }

    connect(ui->tb_detailOption, SIGNAL(clicked()), this, SLOT(MainUI_ProfileDetail_Show()));
    connect(ui->pb_connect, SIGNAL(clicked()), this, SLOT(MainUI_LoginKey_Show()));
    connect(ui->pb_disConnect, SIGNAL(clicked()), this, SLOT(MainUI_Connection_Stop()));

    QDesktopWidget* desktop = QApplication::desktop();
    if (desktop != nullptr) {
        // The screen that holds the window; its own origin is not added.
        const QList<QScreen*> screens = QGuiApplication::screens();
        QScreen* screen = screens.value(desktop->screenNumber(this), nullptr);
        const QRect area = screen != nullptr ? screen->geometry() : QRect();
        move((area.width() - width()) / 2, (area.height() - height()) / 2);
        Log(DDM_LOG_INFO, QStringLiteral("[Finsh main ui init]"));
    }
}

// A press on the drop-down while not logged in rebuilds the list from the configuration
// now held, so that the popup Qt opens next shows the current profiles; the current
// connection lives in UIContext and is put back. The press itself always goes on.
bool MainUI::eventFilter(QObject* watched, QEvent* event) {
    UIContext* context = UIContext::GetInstance();
    if (watched == ui->cb_linkname && event->type() == QEvent::MouseButtonPress &&
        !context->GetLogined()) {
        ui->cb_linkname->clear();
        MainUI_ConnectList_Init();
        const int type = context->GetLinkType();
        if (type > 4) {
            return false;
        }
        const QString name = context->GetConnectName();
        ui->cb_linkname->setCurrentText(name);
        ui->cb_linkname->hidePopup();
        context->SetLinkType(type);
        context->SetConnectName(name);
        MainUI_SysTrayIcon_Refresh();
    }
    return QObject::eventFilter(watched, event);
}

// The new texts name the tray's Connect by the login state alone; the tray's own rule
// (the connection's name only while a connection can be started) has the last word.
void MainUI::MainUI_Language_Changed() {
    SetLanguageText();
    MainUI_SysTrayIcon_Refresh();
}

void MainUI::MainUI_ShowSlot() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui received the ipsec connect failed singal]"));
    d->loginKeyIPSECUIOpen = false;
    MainUI_Connection_Stop();
}

// The dialog is deleted once done with: every click builds a new one, and a kept one
// would stay behind as a hidden child of the window.
void MainUI::on_pb_ProxySetting_clicked() {
    auto* dialog = new ProxySetting(this);
    dialog->Init();
    if (UIContext::GetInstance()->GetPluginMode() == 1) {
        dialog->hide();
    } else {
        dialog->exec();
    }
    delete dialog;
}

void MainUI::on_pb_Help_clicked() { MainUI_SysTrayIcon_Help(); }

// ---- Form texts and skin ----------------------------------------------------------------

void MainUI::SetLanguageText() {
    setWindowTitle(UISystemProfile::GetInstance()->GetProductName());
    ui->l_connectName->setText(Text("/UI_MAIN/UI_MAIN_LABEL_CONNECTNAME"));
    ui->pb_connect->setText(Text("/UI_MAIN/UI_MAIN_PUSHBUTTON_CONNECT"));
    ui->pb_disConnect->setText(Text("/UI_MAIN/UI_MAIN_PUSHBUTTON_DISCONNECT"));
    d->newConnectItem->MComboboxItem_Text_Set(Text("/UI_MAIN/UI_MAIN_NEWCONNECT"));
    ui->pb_ProxySetting->setText(Text("/UI_MAIN/UI_MAIN_LABEL_PROXY"));
    d->actionShowMain->setText(Text("/UI_MAIN/UI_MAIN_SHOW_MAINUI"));
    d->actionDisconnect->setText(Text("/UI_MAIN/UI_MAIN_DISCONNECT"));
    d->actionPwdChange->setText(Text("/UI_MAIN/UI_MAIN_PWD_CHANGE"));
    d->actionOption->setText(Text("/UI_MAIN/UI_MAIN_OPTION"));
    d->actionAbout->setText(Text("/UI_MAIN/UI_MAIN_ABOUT"));
    d->actionExit->setText(Text("/UI_MAIN/UI_MAIN_EXIT"));
    d->actionFaultReport->setText(Text("/UI_MAIN/UI_MAIN_FAULTREPORT"));
    d->actionHelp->setText(Text("/UI_MAIN/UI_MAIN_HELP"));
    d->actionCancelAutoLogin->setText(Text("/UI_MAIN/UI_MAIN_CANCELAUTOLOG"));
    if (UIContext::GetInstance()->GetLogined()) {
        const QString full =
            Text("/UI_MAIN/UI_MAIN_CONNECT") + " " + ui->cb_linkname->currentText();
        d->actionConnect->setText(
            QFontMetrics(d->actionConnect->font()).elidedText(full, Qt::ElideRight, 200));
    } else {
        d->actionConnect->setText(Text("/UI_MAIN/UI_MAIN_CONNECT"));
    }
    d->helpMenu->setTitle(Text("/UI_MAIN/UI_MAIN_HELP"));
}

void MainUI::SetCustomizedSkin() {
    const QString path = UIContext::GetInstance()->GetInstallDir() + UI_CUSTOMIZED_BACKGROUND;
    if (QFile::exists(path)) {
        ui->sw_label->setStyleSheet("border-image: url(" + path + ");");
    }
}

// Asks for a desktop theme setting that only exists on another desktop system; here
// neither place holds it and the answer is -1.
int MainUI::isClassicTheme() {
    Log(DDM_LOG_INFO, QStringLiteral("[get themeActive start]"));
    const QString value = QStringLiteral("ThemeActive");
    QSettings remote(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
                                    "CurrentVersion\\ThemeManager\\Remote\\2"),
                     QSettings::NativeFormat);
    if (remote.contains(value)) {
        Log(DDM_LOG_DEBUG, QStringLiteral("[get themeActive classic]"));
        return remote.value(value).toInt();
    }
    QSettings manager(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
                                     "CurrentVersion\\ThemeManager"),
                      QSettings::NativeFormat);
    if (manager.contains(value)) {
        Log(DDM_LOG_DEBUG, QStringLiteral("[get themeActive normal]"));
        return manager.value(value).toInt();
    }
    Log(DDM_LOG_INFO, QStringLiteral("[get themeActive finish]"));
    return -1;
}

// ---- Connection list --------------------------------------------------------------------

void MainUI::MainUI_ConnectList_Init() {
    Log(DDM_LOG_INFO, QStringLiteral("[Start connect list init]"));
    const QString newText = Text("/UI_MAIN/UI_MAIN_NEWCONNECT");
    d->newConnectItem = new MComboboxItem(newText, 2, 0, nullptr);
    connect(d->newConnectItem, SIGNAL(signal_showItem(QString)), this,
            SLOT(MainUI_NewConnect_Show()));
    connect(d->newConnectItem, SIGNAL(signal_removeItem(QString)), this,
            SLOT(MainUI_NewConnect_Show()));
    auto* first = new QListWidgetItem(d->listWidget);
    d->listWidget->setItemWidget(first, d->newConnectItem);
    ui->cb_linkname->setItemText(0, newText);
    Log(DDM_LOG_DEBUG, "[Init connect list][index is   0,text is   " + newText + "]");

    const CFM_SYSCONFIG_S* config = UISystemProfile::GetInstance()->GetSystemConfig();
    if (config != nullptr) {
        const QString last = ShownName(UISystemProfile::GetInstance()->GetLastAccessSession());
        int shown = 0;
        for (const CFM_SESSION_S& session : config->Sessions) {
            const QString name = ShownName(
                Util_FieldToLocal8Bit(session.ProfileName, sizeof(session.ProfileName)));
            if (name.isEmpty()) {
                continue;
            }
            if (session.ConnectionType != 1 && session.ConnectionType != 2) {
                continue;
            }
            ++shown;
            if (name == last) {
                d->lastSessionRow = shown;
            }
            auto* row = new MComboboxItem(name, session.ConnectionType == 1 ? 0 : 1, 0, nullptr);
            connect(row, SIGNAL(signal_showItem(QString, LINK_TYPE)), this,
                    SLOT(MainUI_ConnectName_Show(QString, LINK_TYPE)));
            connect(row, SIGNAL(signal_removeItem(QString)), this,
                    SLOT(MainUI_Connection_Delete(QString)));
            auto* item = new QListWidgetItem(d->listWidget);
            d->listWidget->setItemWidget(item, row);
            const int index = d->listWidget->count() - 1;
            ui->cb_linkname->setItemText(index, name);
            Log(DDM_LOG_DEBUG, "[Init connect list][index is    " + QString::number(index) +
                                   ",text is " + name + "]");
        }
    }
    FitListToRows(d->listWidget, ui->cb_linkname->maxVisibleItems());
    Log(DDM_LOG_INFO, QStringLiteral("[Finish connect list init]"));
}

void MainUI::MainUI_ConnectList_Insert(QString name, int rowKind) {
    auto* row = new MComboboxItem(name, rowKind == 1 ? 1 : 0, 0, nullptr);
    connect(row, SIGNAL(signal_showItem(QString, LINK_TYPE)), this,
            SLOT(MainUI_ConnectName_Show(QString, LINK_TYPE)));
    connect(row, SIGNAL(signal_removeItem(QString)), this,
            SLOT(MainUI_Connection_Delete(QString)));
    auto* item = new QListWidgetItem(d->listWidget);
    d->listWidget->setItemWidget(item, row);
    const int index = d->listWidget->count() - 1;
    ui->cb_linkname->setItemText(index, name);
    FitListToRows(d->listWidget, ui->cb_linkname->maxVisibleItems());
    Log(DDM_LOG_DEBUG, "[Connect list insert][index is " + QString::number(index) +
                           ",text is " + name + "]");
}

void MainUI::SelectConnection(const QString& name, LINK_TYPE type) {
    ui->cb_linkname->setCurrentText(name);
    ui->cb_linkname->hidePopup();
    UIContext::GetInstance()->SetLinkType(type);
    UIContext::GetInstance()->SetConnectName(name);
    MainUI_SysTrayIcon_Refresh();
}

void MainUI::MainUI_ConnectName_Show(QString name, LINK_TYPE type) { SelectConnection(name, type); }

// The new-connection row is never left as the current item: stepping onto it leaves the
// drop-down empty.
void MainUI::on_cb_linkname_currentTextChanged(QString text) {
    if (text == Text("/UI_MAIN/UI_MAIN_NEWCONNECT")) {
        ui->cb_linkname->setCurrentIndex(-1);
    }
}

void MainUI::MainUI_ConnectList_Popup() { ui->cb_linkname->showPopup(); }

int MainUI::UsedSessionCount() const {
    const CFM_SYSCONFIG_S* config = UISystemProfile::GetInstance()->GetSystemConfig();
    int used = 0;
    if (config != nullptr) {
        for (const CFM_SESSION_S& session : config->Sessions) {
            used += Util_FieldLength(session.ProfileName, sizeof(session.ProfileName)) > 0 ? 1 : 0;
        }
    }
    return used;
}

void MainUI::OpenNewProfileEditor() {
    auto* editor = new ProfileInfoUI(this);
    editor->Init();
    connect(editor, SIGNAL(signal_newconnect(QString, LINK_TYPE)), this,
            SLOT(MainUI_Connection_Create(QString, LINK_TYPE)));
    connect(this, SIGNAL(signal_Set_OKbtn(bool)), editor, SLOT(ProfileInfoUI_Set_OKbtn(bool)));
    editor->exec();
}

void MainUI::MainUI_NewConnect_Show() {
    UIContext::GetInstance()->SetNewConnect(true);
    if (UsedSessionCount() < UI_SESSION_ENTRY_MAX) {
        OpenNewProfileEditor();
    } else {
        Util_ShowWarning(Text("/UI_MAIN/UI_MAIN_PROFILE_MAX"), QString(), -1);
    }
}

void MainUI::MainUI_Connection_Create(QString name, LINK_TYPE type) {
    if (type != LINK_TYPE_SSL && type != LINK_TYPE_IPSEC) {
        return;
    }
    // The service replaces a profile imported over one of the same name: the list holds
    // each profile once, so a name already listed only has its row selected.
    bool listed = false;
    for (int i = 0; i < d->listWidget->count() && !listed; ++i) {
        auto* row = qobject_cast<MComboboxItem*>(d->listWidget->itemWidget(d->listWidget->item(i)));
        listed = row != nullptr && row->MComboboxItem_Text_Get() == name;
    }
    if (!listed) {
        MainUI_ConnectList_Insert(name, type == LINK_TYPE_SSL ? 0 : 1);
    }
    SelectConnection(name, type);
}

void MainUI::MainUI_Connection_Delete(QString name) {
    if (!Util_ShowQuestion(Text("/UI_MAIN/UI_MAIN_DELCONENCTION_WARNING") + "  " + name +
                           "  ?   ")) {
        return;
    }
    MainUI_Connection_ListItem_Delete(name);
    MainUI_Profile_Delete(name);
    if (d->listWidget->count() >= 2) {
        QListWidgetItem* item = d->listWidget->item(1);
        auto* row = item != nullptr
                        ? qobject_cast<MComboboxItem*>(d->listWidget->itemWidget(item))
                        : nullptr;
        if (row == nullptr) {
            return;
        }
        SelectConnection(row->MComboboxItem_Text_Get(), row->MComboboxItem_Type_Get());
    } else {
        SelectConnection(QString(), LINK_TYPE_NONE);
    }
    MainUI_SysTrayIcon_Refresh();
}

void MainUI::MainUI_Connection_ListItem_Delete(QString name) {
    for (int i = 0; i < d->listWidget->count(); ++i) {
        QListWidgetItem* item = d->listWidget->item(i);
        auto* row = qobject_cast<MComboboxItem*>(d->listWidget->itemWidget(item));
        if (row != nullptr && row->MComboboxItem_Text_Get() == name) {
            delete d->listWidget->takeItem(i);
            return;
        }
    }
}

void MainUI::MainUI_Profile_Delete(QString name) {
    const QByteArray file = Util_GetIniFileName(name).toUtf8();
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    if (UI_CfmProfile_Delete(file.constData(), msgCodeName, &ok) != 0) {
        Util_ShowWarning(LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR,
                         QStringLiteral("MainUI"), -1);
        return;
    }
    if (ok != 1) {
        Util_ShowWarning(LanguageSetting::GetInstance()->GetValue(
                             Util_FieldToString(msgCodeName, sizeof(msgCodeName))),
                         QStringLiteral("MainUI"), -1);
    }
    (void)UISystemProfile::GetInstance()->Read();
}

void MainUI::MainUI_ProfileDetail_Show() {
    if (!ui->cb_linkname->currentText().isEmpty()) {
        UIContext::GetInstance()->SetNewConnect(false);
        auto* editor = new ProfileInfoUI(this);
        editor->Init();
        connect(editor, SIGNAL(signal_sendNewConnect(QString, QString, LINK_TYPE)), this,
                SLOT(MainUI_ConnectList_GetSaveReturn_Update(QString, QString, LINK_TYPE)));
        connect(this, SIGNAL(signal_Set_Savebtn(bool)), editor,
                SLOT(ProfileInfoUI_Set_Savebtn(bool)));
        editor->exec();
        return;
    }
    if (UsedSessionCount() >= UI_SESSION_ENTRY_MAX) {
        Util_ShowWarning(Text("/UI_MAIN/UI_MAIN_PROFILE_MAX"), QStringLiteral("MainUI"), -1);
        return;
    }
    UIContext::GetInstance()->SetNewConnect(true);
    OpenNewProfileEditor();
}

void MainUI::MainUI_ConnectList_GetSaveReturn_Update(QString newName, QString oldName,
                                                     LINK_TYPE type) {
    if (!UISystemProfile::GetInstance()->Read()) {
        return;
    }
    MainUI_Connection_ListItem_Delete(oldName);
    MainUI_ConnectList_Insert(newName, type == LINK_TYPE_IPSEC ? 1 : 0);
    SelectConnection(newName, type);
}

void MainUI::MainUI_Option_Show() {
    if (d->optionOpen) {
        return;
    }
    d->optionOpen = true;
    auto* dialog = new OptionSetUI(this);
    dialog->Init();
    connect(dialog, SIGNAL(signal_languageChange()), this, SLOT(MainUI_Language_Changed()));
    dialog->exec();
    delete dialog;
    d->optionOpen = false;
}

// ---- Tray -------------------------------------------------------------------------------

void MainUI::MainUI_SysTrayIcon_Init() {
    d->actionShowMain = new QAction(this);
    d->actionConnect = new QAction(this);
    d->actionDisconnect = new QAction(this);
    d->actionPwdChange = new QAction(this);
    d->actionOption = new QAction(this);
    d->actionAbout = new QAction(this);
    d->actionExit = new QAction(this);
    d->actionHelp = new QAction(this);
    d->actionFaultReport = new QAction(this);
    d->actionCancelAutoLogin = new QAction(this);

    const QIcon icon(QFile::exists(UI_ICON32_FILE) ? UI_ICON32_FILE : UI_ICON_APP);
    d->trayIcon = new QSystemTrayIcon(this);
    d->trayIcon->setIcon(icon);
    d->trayIcon->setToolTip(UISystemProfile::GetInstance()->GetProductName());

    d->actionShowMain->setText(Text("/UI_MAIN/UI_MAIN_SHOW_MAINUI"));
    const QString connectText =
        Text("/UI_MAIN/UI_MAIN_CONNECT") + " " + ui->cb_linkname->currentText();
    d->actionConnect->setText(
        QFontMetrics(d->actionConnect->font()).elidedText(connectText, Qt::ElideRight, 200));
    d->actionDisconnect->setText(Text("/UI_MAIN/UI_MAIN_DISCONNECT"));
    d->actionPwdChange->setText(Text("/UI_MAIN/UI_MAIN_PWD_CHANGE"));
    d->actionFaultReport->setText(Text("/UI_MAIN/UI_MAIN_FAULTREPORT"));
    d->actionCancelAutoLogin->setText(Text("/UI_MAIN/UI_MAIN_CANCELAUTOLOG"));
    d->actionOption->setText(Text("/UI_MAIN/UI_MAIN_OPTION"));
    d->actionAbout->setText(Text("/UI_MAIN/UI_MAIN_ABOUT"));
    d->actionHelp->setText(Text("/UI_MAIN/UI_MAIN_HELP"));
    d->actionExit->setText(Text("/UI_MAIN/UI_MAIN_EXIT"));

    d->trayMenu = new QMenu(this);
    d->trayMenu->addAction(d->actionShowMain);
    d->trayMenu->addSeparator();
    d->trayMenu->addAction(d->actionConnect);
    d->trayMenu->addAction(d->actionDisconnect);
    d->trayMenu->addSeparator();
    d->trayMenu->addAction(d->actionPwdChange);
    d->trayMenu->addAction(d->actionFaultReport);
    d->trayMenu->addAction(d->actionCancelAutoLogin);
    d->trayMenu->addSeparator();
    d->trayMenu->addAction(d->actionOption);

    d->helpMenu = new QMenu(this);
    if (Util_IsMacOs()) {
        d->helpMenu->setTitle(Text("/UI_MAIN/UI_MAIN_HELP"));
        d->helpMenu->addAction(d->actionAbout);
        d->helpMenu->addAction(d->actionHelp);
        d->trayMenu->addMenu(d->helpMenu);
    } else {
        d->trayMenu->addAction(d->actionAbout);
        d->trayMenu->addAction(d->actionHelp);
    }
    d->trayMenu->addAction(d->actionExit);

    connect(d->actionShowMain, SIGNAL(triggered()), this, SLOT(MainUI_SysTrayIcon_ShowMain()));
    connect(d->actionConnect, SIGNAL(triggered()), this, SLOT(MainUI_LoginKey_Show()));
    connect(d->actionDisconnect, SIGNAL(triggered()), this, SLOT(MainUI_Connection_Stop()));
    connect(d->actionPwdChange, SIGNAL(triggered()), this,
            SLOT(MainUI_SysTrayIcon_ShowChangePwd()));
    connect(d->actionFaultReport, SIGNAL(triggered()), this,
            SLOT(MainUI_SysTrayIcon_ErrorReport()));
    connect(d->actionCancelAutoLogin, SIGNAL(triggered()), this,
            SLOT(MainUI_SysTrayIcon_DisAutoLogin()));
    connect(d->actionOption, SIGNAL(triggered(bool)), this, SLOT(MainUI_Option_Show()));
    connect(d->actionAbout, SIGNAL(triggered()), this, SLOT(MainUI_SysTrayIcon_ShowAbout()));
    connect(d->actionHelp, SIGNAL(triggered()), this, SLOT(MainUI_SysTrayIcon_Help()));
    connect(d->actionExit, SIGNAL(triggered()), this, SLOT(MainUI_SysTrayIcon_ExitMain_Pre()));
    connect(d->trayIcon, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(MainUI_SysTrayIcon_Active(QSystemTrayIcon::ActivationReason)));

    d->actionPwdChange->setEnabled(false);
    d->actionCancelAutoLogin->setEnabled(false);
    d->trayIcon->setContextMenu(d->trayMenu);

    if (UIContext::GetInstance()->GetPluginMode() == 1) {
        d->actionDisconnect->setVisible(false);
        d->actionConnect->setVisible(false);
        d->actionPwdChange->setVisible(false);
        d->actionCancelAutoLogin->setVisible(false);
        d->actionOption->setVisible(false);
    }
    MainUI_SysTrayIcon_Refresh();
}

void MainUI::MainUI_SysTrayIcon_Refresh() {
    QString state;
    if (UIContext::GetInstance()->GetLogined()) {
        state = QStringLiteral("01");
    } else if (d->listWidget->count() < 2) {
        state = QStringLiteral("00");
    } else if (!d->loginKeyUIOpen && !d->loginKeyIPSECUIOpen) {
        state = QStringLiteral("10");
    } else {
        state = QStringLiteral("00");
    }
    MainUI_SysTrayIcon_Changed(state);
}

void MainUI::MainUI_SysTrayIcon_Changed(QString state) {
    const QString connectText = Text("/UI_MAIN/UI_MAIN_CONNECT");
    bool connectEnabled = false;
    bool disconnectEnabled = false;
    if (state == QLatin1String("10")) {
        const QString full = connectText + " " + ui->cb_linkname->currentText();
        d->actionConnect->setText(
            QFontMetrics(d->actionConnect->font()).elidedText(full, Qt::ElideRight, 200));
        connectEnabled = true;
    } else if (state == QLatin1String("01") || state == QLatin1String("00")) {
        d->actionConnect->setText(connectText);
        disconnectEnabled = state == QLatin1String("01");
    } else {
        return;
    }
    d->actionConnect->setEnabled(connectEnabled);
    d->actionDisconnect->setText(Text("/UI_MAIN/UI_MAIN_DISCONNECT"));
    d->actionDisconnect->setEnabled(disconnectEnabled);
}

void MainUI::MainUI_SysTrayIcon_Active(QSystemTrayIcon::ActivationReason reason) {
    if (UIContext::GetInstance()->GetPluginMode() != 0 || reason != QSystemTrayIcon::DoubleClick) {
        return;
    }
    activateWindow();
    showNormal();
}

void MainUI::MainUI_SysTrayIcon_ShowMain() {
    const int mode = UIContext::GetInstance()->GetPluginMode();
    if (mode == 0) {
        activateWindow();
        showNormal();
    } else if (mode == 1) {
        MainUI_Plugin_Show_Main();
    }
}

namespace {

// A dialog opened from the tray: at most one at a time (a modal exec runs a nested event
// loop in which a second tray click can arrive), deleted when it closes.
template <typename Dialog>
void RunGuarded(bool& open, QWidget* parent) {
    if (open) {
        return;
    }
    open = true;
    auto* dialog = new Dialog(parent);
    dialog->Init();
    dialog->exec();
    delete dialog;
    open = false;
}

}  // namespace

void MainUI::MainUI_SysTrayIcon_ShowAbout() { RunGuarded<AboutUI>(d->aboutOpen, this); }

void MainUI::MainUI_SysTrayIcon_ShowChangePwd() {
    RunGuarded<ChangePwd>(d->changePwdOpen, this);
}

void MainUI::MainUI_SysTrayIcon_ErrorReport() {
    RunGuarded<BreakDownSubmit>(d->faultReportOpen, this);
}

// The document viewer gets the path as one argument and no shell sees it, so blanks,
// quotes and shell characters in the install path are only characters of a file name.
void MainUI::MainUI_SysTrayIcon_Help() {
    Log(DDM_LOG_INFO, QStringLiteral("[Into sysTrayIcon help]"));
    const QString path =
        UIContext::GetInstance()->GetResourceDir() +
        (LanguageSetting::GetInstance()->GetLanguageId() == 2052
             ? QStringLiteral("help/vantrelo_zh.pdf")
             : QStringLiteral("help/vantrelo_en.pdf"));
    if (path.toLocal8Bit().size() >= kHelpPathLimit) {
        Log(DDM_LOG_WARN, QStringLiteral("[Into sysTrayIcon help][get valid file path error]"));
        return;
    }
    const QString program = Util_IsMacOs() ? QStringLiteral("open") : QStringLiteral("evince");
    Log(DDM_LOG_INFO, "[Into sysTrayIcon help][ tmp is " + program + " " + path + "]");
    // Without a viewer nothing opens; the log then says why, for the fault report.
    if (!QProcess::startDetached(program, QStringList{path})) {
        Log(DDM_LOG_WARN, "[Into sysTrayIcon help][" + program + " could not be started]");
    }
    Log(DDM_LOG_INFO, QStringLiteral("[Out sysTrayIcon help]"));
}

void MainUI::MainUI_SysTrayIcon_DisAutoLogin() {
    Log(DDM_LOG_INFO, QStringLiteral("[Start cancle auto login]"));
    UISystemProfile* profile = UISystemProfile::GetInstance();
    const QString key = Util_GetIniFileName(UIContext::GetInstance()->GetConnectName());
    CFM_SESSION_S* entry = profile->GetSession(key);
    if (entry == nullptr) {
        Util_ShowWarning(Text("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SESSION_FAIL"),
                         QStringLiteral("MainUI"), -1);
        return;
    }
    const QByteArray password(entry->Password,
                              static_cast<int>(Util_FieldLength(entry->Password,
                                                                sizeof(entry->Password))));
    entry->AutoLogin = 0;
    std::memset(entry->Password, 0, sizeof(entry->Password));

    CFM_SESSION_S copy{};
    (void)Util_FieldCopy(copy.ProfileName, sizeof(copy.ProfileName), entry->ProfileName,
                         sizeof(entry->ProfileName));
    (void)Util_FieldCopy(copy.LastLoginAddr, sizeof(copy.LastLoginAddr), entry->LastLoginAddr,
                         sizeof(entry->LastLoginAddr));
    (void)Util_FieldCopy(copy.UserName, sizeof(copy.UserName), entry->UserName,
                         sizeof(entry->UserName));
    copy.ConnectionType = entry->ConnectionType;
    copy.RemPwd = entry->RemPwd;
    copy.AutoLogin = entry->AutoLogin;

    d->actionCancelAutoLogin->setEnabled(false);
    profile->SetSession(&copy, key);
    (void)profile->WriteSession(&copy, 0);

    // The service now keeps no password for the session; this run still may use it.
    (void)Util_FieldSetBytes(copy.Password, sizeof(copy.Password), password.constData(),
                             static_cast<size_t>(password.size()));
    profile->SetSession(&copy, key);
    emit signal_Main_DisAutoLogin(false);
    Log(DDM_LOG_INFO, QStringLiteral("[Finish cancle auto login]"));
}

void MainUI::MainUI_SysTrayIcon_CancelAutoLogin() {}

void MainUI::MainUI_SetDisAutoStatus() { d->actionCancelAutoLogin->setEnabled(false); }

// ---- Service events ---------------------------------------------------------------------

namespace {

struct EndingEvent {
    const char* arrival;
    const char* balloonKey;  // null: no balloon
    const char* boxKey;
    const char* pluginLine;
};

const EndingEvent kUrgentLogout = {
    "[Main ui received urgent logout message]", "/UI_MAIN/UI_MAIN_OFFLINE_FORCED",
    "/UI_MAIN/UI_MAIN_OFFLINE_FORCED", "++==++into MainUI_UrgentLogout_Message()1"};
const EndingEvent kReconnectFail = {"[Main ui received ccnemReconn fail message]",
                                    "/UI_MAIN/UI_MAIN_CNEM_RECONNENT_FAIL",
                                    "/UI_MAIN/UI_MAIN_CNEM_RECONNENT_FAIL_LOGIN_AGAIN",
                                    "++==++into MainUI_CnemReconn_Fail_Message()1"};
const EndingEvent kVnicError = {"[Main ui received vnicError message]", nullptr,
                                "/UI_MAIN/UI_MAIN_CNEM_VNIC_ERROR",
                                "++==++into MainUI_VnicError_Message()1"};
const EndingEvent kDhcpError = {"[Main ui received dhcpError message]", nullptr,
                                "/UI_MAIN/UI_MAIN_CNEM_DHCP_ERROR",
                                "++==++into MainUI_DhcpError_Message()1"};

}  // namespace

void MainUI::ShowNotConnected() {
    UIContext::GetInstance()->SetSettingEnable(true);
    UIContext::GetInstance()->SetLogined(false);
    d->actionPwdChange->setEnabled(false);
    ui->cb_linkname->setEnabled(true);
    ui->pb_connect->show();
    ui->pb_disConnect->hide();
    MainUI_SysTrayIcon_Refresh();
    show();
}

#define VT_ENDING_EVENT_SLOT(slot, event)                                                   \
    void MainUI::slot() {                                                                   \
        if (UIContext::GetInstance()->GetPluginMode() == 1) {                               \
            (void)UI_BrowserMutex_Create();                                                 \
            Log(DDM_LOG_INFO, QLatin1String(event.pluginLine));                             \
            MainUI_SysTrayIcon_ExitMain();                                                  \
            return;                                                                         \
        }                                                                                   \
        Log(DDM_LOG_INFO, QLatin1String(event.arrival));                                    \
        MainUI_SSLCache_Clear();                                                            \
        if (event.balloonKey != nullptr) {                                                  \
            d->trayIcon->showMessage(UISystemProfile::GetInstance()->GetProductName(),      \
                                     Text(event.balloonKey), QSystemTrayIcon::Information,  \
                                     10000);                                                \
        }                                                                                   \
        char msgCodeName[256] = {};                                                         \
        uint32_t ok = 0;                                                                    \
        (void)UI_SslLogout_Process(msgCodeName, &ok);                                       \
        Util_ShowWarning(Text(event.boxKey), QString(), -1);                                \
        ShowNotConnected();                                                                 \
    }

VT_ENDING_EVENT_SLOT(MainUI_UrgentLogout_Message, kUrgentLogout)
VT_ENDING_EVENT_SLOT(MainUI_CnemReconn_Fail_Message, kReconnectFail)
VT_ENDING_EVENT_SLOT(MainUI_VnicError_Message, kVnicError)
VT_ENDING_EVENT_SLOT(MainUI_DhcpError_Message, kDhcpError)

#undef VT_ENDING_EVENT_SLOT

void MainUI::MainUI_UI_Show_Style(int showType, QString str) {
    Log(DDM_LOG_INFO, "[Main ui received the show style singal][show type is " +
                          QString::number(showType) + ",str is " + str + "]");
    Util_ShowStyle(showType, str);
    if (showType == 1) {
        MainUI_Connection_Stop();
    }
}

// ---- Disconnect, logout and exit --------------------------------------------------------

void MainUI::MainUI_SSLCache_Clear() {
    Log(DDM_LOG_INFO, QStringLiteral("[Into ssl cache clear]"));
    UIContext* context = UIContext::GetInstance();
    if (context->GetCacheClear() != 0 && context->GetLinkType() == 1) {
        char msgCodeName[256] = {};
        uint32_t ok = 0;
        (void)UI_SslCacheClear_Process(0, msgCodeName, &ok);
        Log(DDM_LOG_DEBUG, ok == 1 ? QStringLiteral("[Ssl cache clear succed!]")
                                   : QStringLiteral("[Ssl cache clear failed!]"));
    }
    Log(DDM_LOG_INFO, QStringLiteral("[Out ssl cache clear]"));
}

void MainUI::MainUI_Connection_Stop() {
    MainUI_SSLCache_Clear();
    UIContext* context = UIContext::GetInstance();
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    switch (context->GetLinkType()) {
    case 1:
        // While the flag is up the event thread drops the events the logout itself causes.
        context->SetSslLogout(true);
        (void)UI_SslLogout_Process(msgCodeName, &ok);
        context->SetSslLogout(false);
        break;
    case 2:
        (void)UI_IpsecLogout_Process(msgCodeName, &ok);
        break;
    default:
        break;
    }
    emit signal_Set_Savebtn(true);
    context->SetLogined(false);
    context->SetSettingEnable(true);
    d->actionPwdChange->setEnabled(false);
    ui->cb_linkname->setEnabled(true);
    ui->pb_connect->show();
    ui->pb_disConnect->hide();
    MainUI_SysTrayIcon_Refresh();
    show();
}

void MainUI::MainUI_Logout() {
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    if (UI_SslLogout_Process(msgCodeName, &ok) != 0) {
        Util_ShowWarning(LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR,
                         QStringLiteral("LoginKeyUI"), -1);
    } else if (ok != 1) {
        Util_ShowWarning(LanguageSetting::GetInstance()->GetValue(
                             Util_FieldToString(msgCodeName, sizeof(msgCodeName))),
                         QStringLiteral("LoginKeyUI"), -1);
    }
}

void MainUI::MainUI_SysTrayIcon_ExitMain_Pre() {
    if (UIContext::GetInstance()->GetPluginMode() == 1) {
        (void)UI_BrowserMutex_Create();
        UI_BrowserMutex_Release();
        Log(DDM_LOG_INFO, QStringLiteral("[Plugin exit main][create mutex ok]"));
    } else if (UIContext::GetInstance()->GetSystemType() == 1) {
        (void)QFile::remove(QLatin1String(kCertInfoFile));
    }
    MainUI_SysTrayIcon_ExitMain();
}

void MainUI::MainUI_SysTrayIcon_ExitMain() {
    UIContext* context = UIContext::GetInstance();
    if (context->GetLogined()) {
        MainUI_SSLCache_Clear();
        char msgCodeName[256] = {};
        uint32_t ok = 0;
        if (context->GetLinkType() == 1) {
            (void)UI_SslLogout_Process(msgCodeName, &ok);
        } else if (context->GetLinkType() == 2) {
            (void)UI_IpsecLogout_Process(msgCodeName, &ok);
        }
    }
    if (context->GetNativeMessaging()) {
        context->SetPluginMsgType(2);
        Util_ShowWarning(QStringLiteral("logout success"), QStringLiteral("MainUI"), 0);
    }
    UI_ClientMutex_Release();
    if (context->GetPluginMode() == 1) {
        UI_BrowserMutex_Release();
    }
    destructor();
}

void MainUI::destructor() {
    Log(DDM_LOG_INFO, QStringLiteral("[Start main ui destructor]"));
    d->trayIcon->hide();
    if (d->process != nullptr) {
        d->process->close();
        delete d->process;
        d->process = nullptr;
    }
    // The urgent thread waits in the service link and runs no event loop: exit(0) only
    // marks it, and the process's end stops it.
    const int systemType = UIContext::GetInstance()->GetSystemType();
    if (d->urgentThread != nullptr) {
        if (systemType == 2) {
            d->urgentThread->exit(0);
        } else if (systemType == 0) {
            d->urgentThread->terminate();
        }
    }
    if (d->pluginThread != nullptr) {
        d->pluginThread->terminate();
        (void)d->pluginThread->wait(1000);
    }
    if (d->urgentThread != nullptr && d->urgentThread->isFinished()) {
        delete d->urgentThread;
        d->urgentThread = nullptr;
    }
    if (d->pluginThread != nullptr && d->pluginThread->isFinished()) {
        delete d->pluginThread;
        d->pluginThread = nullptr;
    }

    delete d->actionShowMain;
    delete d->actionConnect;
    delete d->actionDisconnect;
    delete d->actionPwdChange;
    delete d->actionOption;
    delete d->actionAbout;
    delete d->actionExit;
    delete d->actionHelp;
    delete d->actionFaultReport;
    delete d->actionCancelAutoLogin;
    delete d->trayMenu;
    delete d->helpMenu;
    delete d->trayIcon;
    d->trayIcon = nullptr;
    // The connection list, the form and the private block stay for the process's end: the
    // drop-down still uses the list's model until then.
    UI_Main_Disconnect();
    Log(DDM_LOG_INFO, QStringLiteral("[#################UI exit!#################]"));
    std::exit(0);
}

void MainUI::closeEvent(QCloseEvent* event) {
    Log(DDM_LOG_INFO, QStringLiteral("[into main ui close event]"));
    UIContext* context = UIContext::GetInstance();
    if (context->GetLogined()) {
        const int type = context->GetSystemType();
        if (type != 0 && type != 1 && (!isActiveWindow() || isHidden())) {
            MainUI_SysTrayIcon_ExitMain();
            return;
        }
        event->ignore();
        hide();
        return;
    }
    if (context->GetSystemType() == 1) {
        (void)QFile::remove(QLatin1String(kCertInfoFile));
    }
    MainUI_SysTrayIcon_ExitMain();
}

// ---- Login launch ------------------------------------------------------------------------

namespace {

// Field widths of the texts the launch takes from records.
constexpr size_t kAddressWidth = sizeof(UIGATEWAY_INFO_S::acAddress);
constexpr size_t kLastLoginWidth = sizeof(CFM_SESSION_S::LastLoginAddr);
constexpr size_t kPluginLoginWidth = sizeof(UIPLUGIN_INFO_S::acLoginAddr);
constexpr int kGatewayMax = UI_GATEWAY_ENTRY_MAX;

// A gateway as the request names it: an address, ":" and the port in decimal.
QString Candidate(const QString& address, uint32_t port) {
    return address + QLatin1Char(':') + QString::number(port);
}

// The profile's gateway entries that are really there: the count as the service
// delivered it, never past the 16 entries the record has.
int GatewayCount(const CFM_SSL_PROFILE_S& profile) {
    return profile.uiGatewayNum < static_cast<uint32_t>(kGatewayMax)
               ? static_cast<int>(profile.uiGatewayNum)
               : kGatewayMax;
}

QString SessionKey() { return Util_GetIniFileName(UIContext::GetInstance()->GetConnectName()); }

// The request's language: the interface's, else the stored one; Chinese unless English.
uint32_t RequestLanguage() {
    const int shown = LanguageSetting::GetInstance()->GetLanguageId();
    if (shown == 2052) {
        return 0;
    }
    if (shown == 1033) {
        return 1;
    }
    const uint32_t stored = UISystemProfile::GetInstance()->GetLanguageID();
    return stored == 1033 ? 1 : 0;
}

void LogAutoBestNeed(const AUTO_BEST_NEED& block) {
    const QString rule = QStringLiteral("[AUTO_BEST_NEED print==============================]");
    Log(DDM_LOG_DEBUG, rule);
    Log(DDM_LOG_DEBUG, "[AutoBest enable is  " + QString::number(block.uiAutoBest));
    Log(DDM_LOG_DEBUG, "[BestNum is  " + QString::number(block.uiGatewayNum));
    const int count = block.uiGatewayNum < static_cast<uint32_t>(kGatewayMax)
                          ? static_cast<int>(block.uiGatewayNum)
                          : kGatewayMax;
    for (int i = 0; i < count; ++i) {
        Log(DDM_LOG_DEBUG,
            "[Ip is  " + Util_FieldToString(block.astGateway[i].acAddress, kAddressWidth) + "]");
        Log(DDM_LOG_DEBUG, "[Port is  " + QString::number(block.astGateway[i].uiPort) + "]");
    }
    Log(DDM_LOG_DEBUG, rule);
}

}  // namespace

bool MainUI::MainUI_SSLProfile_Read() {
    const QByteArray name = SessionKey().toUtf8();
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    if (UI_CfmProfile_Read(name.constData(), 1, d->sslProfile, msgCodeName, &ok) != 0) {
        Util_ShowWarning(LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR,
                         QStringLiteral("MainUI"), -1);
        return false;
    }
    if (ok == 1) {
        return true;
    }
    Util_ShowWarning(LanguageSetting::GetInstance()->GetValue(
                             Util_FieldToString(msgCodeName, sizeof(msgCodeName))),
                     QStringLiteral("MainUI"), -1);
    return false;
}

// The request names the gateway the user logged in to last time, as long as the profile
// still has it; otherwise the profile's own address, or its last listed gateway. Every
// early end leaves the text empty and the launch goes on: the service then chooses.
void MainUI::GetRuningMode_Manual(UISSL_FIRST_CONN* sslFirstConn) {
    if (sslFirstConn == nullptr) {
        Log(DDM_LOG_ERROR,
            QStringLiteral("[GetRuningMode_Manual the input parameter sslFirstConn is empty]"));
        return;
    }
    if (!MainUI_SSLProfile_Read()) {
        return;
    }
    const CFM_SSL_PROFILE_S& profile = *d->sslProfile;
    if (profile.uiGmAlgorithm >= 2) {
        Log(DDM_LOG_ERROR, QStringLiteral("[user write gmalgorithm configfile is error]"));
        QMessageBox box(QMessageBox::Information, QString(),
                        Text("/UI_PROFILEINFO/UI_PROFILEINFO_GMALGORITHM_CONFIGFILE"),
                        QMessageBox::NoButton, this,
                        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
        box.addButton(LanguageSetting::GetInstance()->GetGlobalLang().OK,
                      QMessageBox::AcceptRole);
        box.exec();
        return;
    }
    const CFM_SESSION_S* session = UISystemProfile::GetInstance()->GetSession(SessionKey());
    if (session == nullptr) {
        Util_ShowWarning(Text("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SESSION_FAIL"),
                         QStringLiteral("MainUI"), -1);
        return;
    }

    const QString last = QString::fromLatin1(
        session->LastLoginAddr,
        static_cast<int>(Util_FieldLength(session->LastLoginAddr, kLastLoginWidth)));
    const QString address = QString::fromLatin1(
        profile.acGatewayAddress,
        static_cast<int>(Util_FieldLength(profile.acGatewayAddress, kAddressWidth)));
    const int count = GatewayCount(profile);
    QString chosen;
    if (!last.isEmpty()) {
        if (!address.isEmpty() && Candidate(address, profile.uiPort) == last) {
            chosen = last;
        }
        for (int i = 0; chosen.isEmpty() && i < count; ++i) {
            const UIGATEWAY_INFO_S& entry = profile.astGateway[i];
            if (Candidate(Util_FieldToString(entry.acAddress, kAddressWidth), entry.uiPort) ==
                last) {
                chosen = last;
            }
        }
    }
    if (chosen.isEmpty()) {
        if (!address.isEmpty()) {
            chosen = Candidate(address, profile.uiPort);
        } else if (count > 0) {
            const UIGATEWAY_INFO_S& entry = profile.astGateway[count - 1];
            chosen = Candidate(Util_FieldToString(entry.acAddress, kAddressWidth), entry.uiPort);
        }
    }
    Log(DDM_LOG_DEBUG, "[Show main ui][ui read LastLoginAddr is " + chosen + "]");
    if (!chosen.isEmpty()) {
        (void)Util_FieldSetString(sslFirstConn->acGateway, sizeof(sslFirstConn->acGateway),
                                  chosen);
    }
}

// The gateways the service may choose the best one from. A browser's login names one
// gateway; otherwise the profile's list, then its own address. The block has room for
// 16: what a record counts beyond that is left out, and so is the address when the list
// already fills the block.
void MainUI::FillAutoBestNeed(AUTO_BEST_NEED* block) {
    if (UIContext::GetInstance()->GetPluginMode() == 1) {
        const UIPLUGIN_INFO_S* info = UIContext::GetInstance()->GetPluginInfo();
        const QString login =
            info != nullptr ? Util_FieldToString(info->acLoginAddr, kPluginLoginWidth) : QString();
        // A host that fills the whole address field would leave it without its end.
        (void)Util_FieldSetString(block->astGateway[0].acAddress, kAddressWidth,
                                  Util_GetHost(login));
        block->astGateway[0].uiPort = Util_GetPort(login).toUInt();
        block->uiAutoBest = 1;
        block->uiGatewayNum = 1;
        block->uiDefaultGateway = 0;
        return;
    }
    const CFM_SSL_PROFILE_S& profile = *d->sslProfile;
    block->uiAutoBest = profile.uiAutoBest;
    block->uiDefaultGateway = profile.uiDefaultGateway;
    int count = GatewayCount(profile);
    std::memcpy(block->astGateway, profile.astGateway,
                static_cast<size_t>(count) * sizeof(UIGATEWAY_INFO_S));
    const bool hasAddress = Util_FieldLength(profile.acGatewayAddress, kAddressWidth) > 0;
    if (hasAddress && count < kGatewayMax) {
        UIGATEWAY_INFO_S& entry = block->astGateway[count];
        std::memcpy(entry.acAddress, profile.acGatewayAddress, kAddressWidth);
        entry.uiPort = profile.uiPort;
        entry.uiDelay = profile.uiDelay;
        entry.uiFlag = 0;
        ++count;
    }
    const uint64_t wanted = static_cast<uint64_t>(profile.uiGatewayNum) + (hasAddress ? 1 : 0);
    if (wanted > static_cast<uint64_t>(count)) {
        Log(DDM_LOG_WARN, "[main ui ][gateway entries dropped][" + QString::number(wanted) +
                              " given, " + QString::number(count) + " sent]");
    }
    block->uiGatewayNum = static_cast<uint32_t>(count);
}

void MainUI::MainUI_LoginKey_Show() {
    Log(DDM_LOG_INFO, QStringLiteral("[main ui ][into main ui loginkey show]"));
    switch (UIContext::GetInstance()->GetLinkType()) {
    case 1:
        if (d->loginKeyUIOpen) {
            Log(DDM_LOG_ERROR, QStringLiteral("[main ui ][Do not open repeatedly]"));
            return;
        }
        LaunchSslLogin();
        return;
    case 2:
        if (d->loginKeyIPSECUIOpen) {
            Log(DDM_LOG_ERROR, QStringLiteral("[main ui ][Do not open repeatedly]"));
            return;
        }
        LaunchIpsecLogin();
        return;
    default:
        Util_ShowWarning(Text("/UI_MAIN/UI_MAIN_NO_AVAILABLE_CONNECTION"),
                         QStringLiteral("MainUI"), -1);
        Connection_GetLoginReturn_Update();
        return;
    }
}

void MainUI::LaunchIpsecLogin() {
    MainUI_SysTrayIcon_Changed(QStringLiteral("00"));
    auto* view = new LoginKeyIPSECUI(this);
    view->Init();
    connect(view, SIGNAL(signal_setMainShow()), this, SLOT(MainUI_ShowSlot()));
    connect(view, SIGNAL(signal_setLoginSuccessIPSEC(bool)), this,
            SLOT(MainUI_GlobalLogin_GetLoginReturn_Update(bool)));
    connect(view, SIGNAL(signal_AutoFlag(bool)), this, SLOT(MainUI_SetAutoFlagSlot(bool)));
    connect(view, SIGNAL(signal_LoginkeyIPSECUIDelete()), this,
            SLOT(MainUI_SetLoginKeyIPSECUIExist()));
    connect(view, SIGNAL(signal_LoginkeyIPSECUIInit()), this,
            SLOT(MainUI_SetLoginKeyIPSECUIInit()));

    // A failed read leaves the record zero, which asks for nothing this client lacks.
    CFM_IPSEC_PROFILE_S profile = {};
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    const QByteArray name = SessionKey().toUtf8();
    (void)UI_CfmProfile_Read(name.constData(), 2, &profile, msgCodeName, &ok);
    if (profile.uiIpsecEnable == 1 && profile.uiAuthMethod == 3) {
        Util_ShowWarning(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_NO_CERT"), QString(), -1);
        view->close();
        d->actionConnect->setEnabled(true);
        return;
    }
    const CFM_SESSION_S* session = UISystemProfile::GetInstance()->GetSession(SessionKey());
    if (session == nullptr) {
        Util_ShowWarning(Text("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SESSION_FAIL"),
                         QStringLiteral("MainUI"), -1);
        return;
    }
    UIContext::GetInstance()->SetAutoLogin(session->AutoLogin != 0);
    if (session->RemPwd != 0 && session->AutoLogin != 0) {
        view->hide();
        view->LoginKeyIPSECUI_UserPwd_Init();
        view->LoginKeyIPSECUI_Login();
    } else {
        d->loginKeyIPSECUIOpen = true;
        view->exec();
    }
    Connection_GetLoginReturn_Update();
}

// The views stay hidden children of the window: exec() returns as soon as a view hides
// itself, also to log in, and a view whose login fails shows itself again later.
void MainUI::LaunchSslLogin() {
    // A plugin's login that arrives meanwhile (the update step runs nested loops) waits
    // in the queue for this launch's view.
    struct Running {
        bool& flag;
        const bool before;
        explicit Running(bool& f) : flag(f), before(f) { flag = true; }
        ~Running() { flag = before; }
    } running(d->sslLaunchRunning);
    UIContext* context = UIContext::GetInstance();
    UISSL_FIRST_CONN request = {};
    if (context->GetPluginMode() == 1) {
        const UIPLUGIN_INFO_S* info = context->GetPluginInfo();
        if (info != nullptr) {
            (void)Util_FieldSetString(request.acGateway, sizeof(request.acGateway),
                                      Util_FieldToString(info->acLoginAddr, kPluginLoginWidth));
        }
    } else {
        GetRuningMode_Manual(&request);
    }
    request.uiLanguage = RequestLanguage();
    Log(DDM_LOG_DEBUG,
        "[Set the first ui languagetype is ][" + QString::number(request.uiLanguage) + "]");
    AUTO_BEST_NEED block = {};
    FillAutoBestNeed(&block);
    request.stAutoBestNeed = block;
    LogAutoBestNeed(request.stAutoBestNeed);

    context->SetAuthType(0);
    UIFIRST_CONNECT_CONF_S reply = {};
    char msgCodeName[256] = {};
    uint32_t result = 0;
    const int32_t ret = UI_SitePref_Process(&request, &reply, msgCodeName, &result);
    UIGATEWAY_INFO_S best = {};
    (void)Util_FieldCopy(best.acAddress, sizeof(best.acAddress), reply.stBestGateway.acAddress,
                         sizeof(reply.stBestGateway.acAddress));
    best.uiPort = reply.stBestGateway.uiPort;
    best.uiDelay = reply.stBestGateway.uiDelay;
    best.uiFlag = reply.stBestGateway.uiFlag;
    context->SetBestGateWay(&best);
    if (ret != 0) {
        Util_ShowWarning(LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR,
                         QStringLiteral("MainUI"), -1);
        return;
    }
    if (result != 1) {
        Util_ShowWarning(LanguageSetting::GetInstance()->GetValue(
                             Util_FieldToString(msgCodeName, sizeof(msgCodeName))),
                         QStringLiteral("MainUI"), -1);
        return;
    }
    Log(DDM_LOG_INFO, QStringLiteral("[Show mainUI login key][UI Site Pref return OK]"));

    if (MainUI_UI_Update(&request, &reply) != 1) {
        Connection_GetLoginReturn_Update();
        return;
    }

    // The update step may have run dialogs, in which Connect can come again.
    if (d->loginKeyUIOpen) {
        Log(DDM_LOG_ERROR, QStringLiteral("[main ui ][Do not open repeatedly]"));
        return;
    }
    auto* view = new LoginKeyUI(this);
    view->Init();
    d->loginKeyUIOpen = true;
    d->actionConnect->setEnabled(false);
    connect(view, SIGNAL(signal_ShowMainui()), this, SLOT(show()));
    connect(view, SIGNAL(signal_setLoginSuccess(bool)), this,
            SLOT(MainUI_GlobalLogin_GetLoginReturn_Update(bool)));
    connect(view, SIGNAL(signal_SendFirstLoginChangePSWDObject()), this,
            SLOT(MainUI_FirstLogin_ModifyPSWD()));
    connect(view, SIGNAL(signal_setAutoFlag(bool)), this, SLOT(MainUI_SetAutoFlagSlot(bool)));
    connect(view, SIGNAL(signal_LoginkeyUIInit()), this, SLOT(MainUI_SetLoginkeyUIInit()));
    connect(view, SIGNAL(signal_LoginkeyTrayAcConnect(bool)), this,
            SLOT(MainUI_SetTrayacConnect(bool)));
    connect(view, SIGNAL(signal_LoginkeyUIDelete()), this, SLOT(MainUI_SetLoginkeyUIExist()));
    connect(view, SIGNAL(signal_MainUI_OpenHelp()), this, SLOT(MainUI_SysTrayIcon_Help()));
    connect(view, SIGNAL(signal_MainUI_Language_Changed()), this, SLOT(MainUI_Option_Show()));
    connect(view, SIGNAL(signal_PwdEnable(bool)), this, SLOT(MainUI_PWD_Enable_Update(bool)));

    if (context->GetPluginMode() == 1) {
        view->hide();
        MainUI_Plugin_ReadEventQueue();
        Connection_GetLoginReturn_Update();
        return;
    }
    const CFM_SESSION_S* session = UISystemProfile::GetInstance()->GetSession(SessionKey());
    if (session == nullptr) {
        // No view runs for this launch: the next Connect must be able to start one.
        d->loginKeyUIOpen = false;
        Connection_GetLoginReturn_Update();
        return;
    }
    if (session->RemPwd != 0 && session->AutoLogin != 0) {
        view->hide();
        view->LoginKeyUI_UserPwd_Init();
        view->LoginKeyUI_Login_click();
    } else {
        d->loginKeyUIOpen = true;
        view->exec();
    }
    Connection_GetLoginReturn_Update();
}

// The gateway's client version against this one, the user's option, the disk, the
// package's URL and paths, the download through the update dialog, and the hand-over to
// the promote service, which starts the update program. 1: the login goes on; 0: the
// update was handed over and the login does not start.
int MainUI::MainUI_UI_Update(UISSL_FIRST_CONN* sslFirstConn,
                             UIFIRST_CONNECT_CONF_S* firstConnectReturn) {
    if (sslFirstConn == nullptr || firstConnectReturn == nullptr) {
        return 1;
    }
    UIContext* context = UIContext::GetInstance();
    const bool pluginMode = context->GetPluginMode() == 1;
    Log(DDM_LOG_INFO, "[Show mainUI login key][" + QDir::tempPath() + "]");
    UIUPDATE_START_S update;
    std::memset(&update, 0, sizeof(update));

    // Every end but the refused package kind goes through here.
    auto commonEnd = [this, context, firstConnectReturn](int result) {
        Log(DDM_LOG_INFO, QStringLiteral("[Downloading][Download is end]"));
        MainUI_SysTrayIcon_Changed(QStringLiteral("00"));
        context->SetAuthType(static_cast<int>(firstConnectReturn->uiAuthType));
        return result;
    };

    bool due = UI_Update_Check(firstConnectReturn->uiVersionMS, firstConnectReturn->uiVersionLS) == 1;
    if (due && pluginMode) {
        const UIPLUGIN_INFO_S* info = context->GetPluginInfo();
        due = info == nullptr || Util_FieldToLocal8Bit(info->acUpdate, sizeof(info->acUpdate)) !=
                                     QLatin1String("-nu");
    }
    if (!due) {
        context->SetLatestVersion(true);
        return commonEnd(1);
    }
    context->SetLatestVersion(false);
    if (!pluginMode && UISystemProfile::GetInstance()->GetCheckVersion() != 1) {
        return commonEnd(1);
    }
    const uint32_t diskEnough = UI_Disk_Check();
    Log(DDM_LOG_INFO, QStringLiteral("[Downloading][need update]"));

    Dialog dialog;
    // The package is looked for under the name the dialog saves it as.
    const QString packageText =
        Util_FieldToString(firstConnectReturn->acPackage, sizeof(firstConnectReturn->acPackage));
    QString url;
    QString packagePath;
    if (packageText.size() > 9) {
        url = packageText;
        const QString name = Dialog::packageFileName(url);
        if (name.endsWith(QLatin1String(".tar.gz"))) {
            Log(DDM_LOG_INFO, QStringLiteral("[Downloading][the type is tar.gz]"));
        } else if (name.endsWith(QLatin1String(".exe"))) {
            Log(DDM_LOG_INFO, QStringLiteral("[Downloading][the type is exe]"));
        } else if (name.endsWith(QLatin1String(".run"))) {
            Log(DDM_LOG_INFO, QStringLiteral("[Downloading][the type is run]"));
        } else {
            Log(DDM_LOG_ERROR, "[Downloading][the type is mistake, " + name + "]");
            MainUI_UpdateFailed_Message(url);
            return 1;
        }
        packagePath = QLatin1String(UI_UPDATE_DOWNLOAD_DIR) + "/" + name;
    } else {
        QString gateway;
        const UIGATEWAY_INFO_S* best = context->GetBestGateWay();
        if (d->sslProfile->uiAutoBest == 1 && best != nullptr) {
            gateway = Util_FieldToString(best->acAddress, sizeof(best->acAddress)) + ":" +
                      QString::number(best->uiPort);
        } else {
            gateway = Util_FieldToString(sslFirstConn->acGateway, sizeof(sslFirstConn->acGateway));
        }
        url = "https://" + gateway + "/app/vantrelo" + "-macosx.tar.gz";
        packagePath = QStringLiteral("/tmp/vantrelo-macosx.tar.gz");
    }

    // Nothing may be started from the tray while the update runs.
    d->trayMenu->setEnabled(false);

    const QByteArray program = (QCoreApplication::applicationDirPath() + "/VanTreloUpdate").toLocal8Bit();
    const QByteArray package = packagePath.toLocal8Bit();
    const QByteArray link = url.toLocal8Bit();
    (void)DDM_Sprintf(update.acUpdateProgram, sizeof(update.acUpdateProgram), "%s", program.constData());
    (void)DDM_Sprintf(update.acPackagePath, sizeof(update.acPackagePath), "%s", package.constData());
    (void)DDM_Sprintf(update.acDownloadUrl, sizeof(update.acDownloadUrl), "%s", link.constData());
    (void)UI_LoginUser_Get(update.acLoginName);

    dialog.setUrl(url);
    UISystemProfile* profile = UISystemProfile::GetInstance();
    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    switch (profile->GetProxyType()) {
        case 1:
        case 3:
            proxy.setType(QNetworkProxy::HttpProxy);
            break;
        case 2:
        case 4:
            proxy.setType(QNetworkProxy::Socks5Proxy);
            break;
        default:
            break;
    }
    proxy.setHostName(profile->GetProxyAddr());
    proxy.setPort(static_cast<quint16>(profile->GetProxyPort()));
    proxy.setUser(profile->GetProxyUser());
    proxy.setPassword(profile->GetProxyPwd());
    dialog.setProxy(proxy);
    dialog.igmEnable = static_cast<int>(d->sslProfile->uiGmAlgorithm);

    // A backup left by an earlier run of this user's is replaced, so that the download
    // never overwrites the package it was meant to keep.
    const QByteArray packageName = QFile::encodeName(packagePath);
    const QByteArray backupName = QFile::encodeName(packagePath + ".bak");
    if (PackageBackup_Keep(packageName.constData(), backupName.constData())) {
        Log(DDM_LOG_INFO, QStringLiteral("[Downloading][there is a old version vantrelo file.]"));
    }
    auto restoreBackup = [&packageName, &backupName] {
        (void)PackageBackup_Restore(backupName.constData(), packageName.constData());
    };

    int result = 1;
    if (diskEnough != 1) {
        restoreBackup();
        d->trayMenu->setEnabled(true);
        return commonEnd(result);
    }
    hide();
    Log(DDM_LOG_INFO, QStringLiteral("[Downloading][enough free disk supplied]"));
    dialog.exec();
    // The package is what this download created, not whatever lies at its name: another
    // user's file there fails the download and must not be handed over.
    if (dialog.packageDownloaded()) {
        Log(DDM_LOG_INFO, QStringLiteral("[Downloading][Download seccessful. new file is exist.]"));
        if (pluginMode) {
            Log(DDM_LOG_INFO, QStringLiteral("isPlugin is Y"));
        }
        UIUPDATE_START_S request = update;
        PackageBackup_Drop(backupName.constData());
        if (UI_Update_Start(&request, sizeof(request)) == 0) {
            result = 0;
        } else {
            // Nobody would start the update program: the client stays, usable.
            Log(DDM_LOG_ERROR, QStringLiteral("[Downloading][the update request was not sent]"));
            d->trayMenu->setEnabled(true);
            show();
            Util_ShowWarning(LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR,
                             QStringLiteral("MainUI"), -1);
        }
    } else {
        Log(DDM_LOG_WARN, QStringLiteral("[Downloading][Download failed. new file is not exist.]"));
        restoreBackup();
        d->trayMenu->setEnabled(true);
    }
    return commonEnd(result);
}

void MainUI::MainUI_UpdateFailed_Message(const QString& url) {
    QMessageBox box(QMessageBox::Information, Text("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_TITLE"),
                    Text("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_MASSAGE"), QMessageBox::NoButton,
                    nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    QPushButton* download =
        box.addButton(Text("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_DOWN_NEW"), QMessageBox::AcceptRole);
    QPushButton* keep =
        box.addButton(Text("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_USE_OLD"), QMessageBox::RejectRole);
    box.exec();
    if (box.clickedButton() == download) {
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui update failed][choose OK]"));
        // The text comes from the gateway: only a web address goes to the desktop, never
        // a file, a program or another handler's scheme.
        const QUrl target(url, QUrl::TolerantMode);
        const QString scheme = target.scheme().toLower();
        if (target.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))) {
            (void)QDesktopServices::openUrl(target);
        } else {
            Log(DDM_LOG_ERROR, "[Main ui update failed][not a web address, not opened: " + url + "]");
        }
    } else if (box.clickedButton() == keep) {
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui update failed][choose CANCEL]"));
    } else {
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui update failed][choose default]"));
    }
}

QString MainUI::MainUI_UI_GetNewVersion(QString newClientPath) {
    auto* settings = new QSettings(newClientPath, QSettings::IniFormat);
    const QString version = settings->value(QStringLiteral("GLOBAL/ClientVersion")).toString();
    Log(DDM_LOG_DEBUG, "[Main ui get new version][strLanguageName is " + version + "]");
    delete settings;
    return version;
}

void MainUI::MainUI_Plugin_ReadEventQueue() {
    while (!d->pluginEventQueue.isEmpty()) {
        if (d->pluginEventQueue.takeFirst() == 1) {
            emit signal_DoLogin();
        }
    }
}

void MainUI::MainUI_PluginEventQueue_Set(const QList<int>& queue) { d->pluginEventQueue = queue; }

// ---- Login results ----------------------------------------------------------------------

void MainUI::Connection_GetLoginReturn_Update() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui Connection_GetLoginReturn_Update]"));
    UIContext* context = UIContext::GetInstance();
    if (context->GetLogined()) {
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui Connection_GetLoginReturn_Update][GetLogined]"));
        context->SetConnectName(ui->cb_linkname->currentText());
        ui->cb_linkname->hidePopup();
        ui->cb_linkname->setEnabled(false);
        ui->pb_connect->hide();
        ui->pb_disConnect->show();
        MainUI_SysTrayIcon_Refresh();
        if (context->GetLinkType() == 1) {
            d->trayIcon->showMessage(UISystemProfile::GetInstance()->GetProductName(),
                                     Text("/UI_MAIN/UI_MAIN_CONNECT_SUCCESS"),
                                     QSystemTrayIcon::Information, 10000);
        }
        hide();
        return;
    }
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui Connection_GetLoginReturn_Update][failed Login]"));
    ui->cb_linkname->hidePopup();
    ui->cb_linkname->setEnabled(true);
    ui->pb_connect->show();
    ui->pb_disConnect->hide();
    MainUI_SysTrayIcon_Refresh();
}

// A view reports that it is open (set-up done, or back after a failed login) or gone.
// Only a view's going changes what the tray offers.
void MainUI::MainUI_SetLoginkeyUIInit() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin set login key ui][login key ui init]"));
    d->loginKeyUIOpen = true;
}

void MainUI::MainUI_SetLoginkeyUIExist() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin set login key ui][login key ui closed]"));
    d->loginKeyUIOpen = false;
    MainUI_SysTrayIcon_Refresh();
}

void MainUI::MainUI_SetLoginKeyIPSECUIInit() {
    Log(DDM_LOG_INFO,
        QStringLiteral("[Main ui plugin set LoginKey IPSEC UI][LoginKeyIPSEC UI init]"));
    d->loginKeyIPSECUIOpen = true;
}

void MainUI::MainUI_SetLoginKeyIPSECUIExist() {
    Log(DDM_LOG_INFO,
        QStringLiteral("[Main ui plugin set LoginKey IPSEC UI][LoginKeyIPSEC UI closed]"));
    d->loginKeyIPSECUIOpen = false;
    MainUI_SysTrayIcon_Refresh();
}

// What a login view reports. A success gives the connected look; the view's report on
// the password change that follows it has the last word on Change password.
void MainUI::MainUI_GlobalLogin_GetLoginReturn_Update(bool success) {
    Log(DDM_LOG_INFO,
        "[Main ui get login return][ret  is " + QString::number(success ? 1 : 0) + "]");
    UIContext* context = UIContext::GetInstance();
    if (success) {
        emit signal_Set_Savebtn(false);
        context->SetLogined(true);
        context->SetSettingEnable(false);
        // A login by certificate alone has no password to change.
        if (context->GetLinkType() == 1) {
            d->actionPwdChange->setEnabled(context->GetAuthType() != 1);
        } else if (context->GetLinkType() == 2) {
            d->actionPwdChange->setEnabled(false);
        }
    } else {
        context->SetSettingEnable(true);
        context->SetLogined(false);
        d->actionPwdChange->setEnabled(false);
    }
    Connection_GetLoginReturn_Update();
}

void MainUI::MainUI_PWD_Enable_Update(bool enable) {
    UIContext* context = UIContext::GetInstance();
    context->SetLogined(true);
    context->SetSettingEnable(false);
    Log(DDM_LOG_DEBUG,
        "[MainUI_PWD_Enable_Update][ret  is " + QString::number(enable ? 1 : 0) + "]");
    d->actionPwdChange->setEnabled(enable);
    Connection_GetLoginReturn_Update();
}

void MainUI::MainUI_SetAutoFlagSlot(bool flag) { d->actionCancelAutoLogin->setEnabled(flag); }

// Until the next tray refresh, which sets Connect from the tray state again.
void MainUI::MainUI_SetTrayacConnect(bool status) { d->actionConnect->setEnabled(status); }

void MainUI::MainUI_FirstLogin_ModifyPSWD() { MainUI_Connection_Stop(); }

// ---- Plugin requests ---------------------------------------------------------------------

namespace {

// A plugin request's answer goes out as a tip: in plugin mode a box with a module name
// is sent to the browser instead of being shown.
const QString kTipModule = QStringLiteral("MainUI");

QString OverTimeText() { return LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR; }

QString KeyText(const char* msgCodeName, size_t width) {
    return LanguageSetting::GetInstance()->GetValue(Util_FieldToString(msgCodeName, width));
}

// Copies a text field of the launch record into a field of the information record: its
// bytes up to the first zero (at most the source's width), without a terminator when
// they fill the destination; a text that would not fit leaves the destination zero.
template <size_t DstWidth, size_t SrcWidth, typename Dst, typename Src>
void CopyWhole(Dst (&dst)[DstWidth], const Src (&src)[SrcWidth]) {
    static_assert(sizeof(Dst) == 1 && sizeof(Src) == 1, "byte fields only");
    const size_t length =
        Util_FieldLength(reinterpret_cast<const char*>(src), SrcWidth);
    if (length <= DstWidth) {
        (void)UI_memcpy_s(dst, DstWidth, src, length);
    }
}

}  // namespace

// The proxy that the browser handed over at the start becomes the client's own, saved
// to the service. The launch record holds the text up to the proxy's last colon, so what
// is left here is a kind, a colon and the address (or a single word that is both).
void MainUI::MainUI_Plugin_Init() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin init][into main ui plugin init]"));
    const UIPLUGIN_INFO_S* info = UIContext::GetInstance()->GetPluginInfo();
    const QString text = info != nullptr
                             ? Util_FieldToLocal8Bit(info->acProxyAddr, sizeof(info->acProxyAddr))
                             : QString();
    // A browser extension's start hands over no proxy at all: the stored one stays, and
    // nothing is written over it.
    if (!text.isEmpty()) {
        UISystemProfile* profile = UISystemProfile::GetInstance();
        if (text == QLatin1String("NoProxy")) {
            profile->SetProxyType(0);
            profile->SetProxyAddr(QString());
            profile->SetProxyUser(QString());
            profile->SetProxyPwd(QString());
        } else {
            const int colon = text.indexOf(QLatin1Char(':'));
            const QString kind = colon < 0 ? text : text.left(colon);
            const QString address = colon < 0 ? text : text.mid(colon + 1);
            if (kind == QLatin1String("Https")) {
                profile->SetProxyType(3);
            } else if (kind == QLatin1String("Socks5")) {
                profile->SetProxyType(2);
            }
            profile->SetProxyAddr(address);
        }
        profile->SetProxyPort(static_cast<uint32_t>(info->iProxyPort));
        (void)profile->Save();
    }
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin init][finish main ui plugin init]"));
}

// The browser that started the client opens the gateway's page. The process object is
// the window's child and nothing else holds it: the exit path closes only its own
// process, and closing this one would end the browser.
void MainUI::MainUI_Plugin_Show_Main() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin show main][into main ui plugin show main]"));
    (void)UI_BrowserMutex_Create();
    UI_BrowserMutex_Release();
    const UIPLUGIN_INFO_S* info = UIContext::GetInstance()->GetPluginInfo();
    QString browser;
    QString login;
    if (info != nullptr) {
        browser = Util_FieldToLocal8Bit(info->acBrowserDir, sizeof(info->acBrowserDir));
        login = Util_FieldToString(info->acLoginAddr, kPluginLoginWidth);
    }
    const QString url = QStringLiteral("https://") + Util_GetHost(login) +
                        QStringLiteral("/index.html");
    auto* browserProcess = new QProcess(this);
    // No shell: the path and the address are only a program and its one argument. The
    // browser's output comes to the process object, never to the standard output that
    // carries native messages.
    browserProcess->start(browser, QStringList{url}, QIODevice::ReadWrite);
    Log(DDM_LOG_INFO, "[Main ui plugin show main][plugin info browser dir is " + browser + "]");
    Log(DDM_LOG_INFO, "[Main ui plugin show main][browser dir is " + browserProcess->program() + "]");
    Log(DDM_LOG_INFO, "[Main ui plugin show main][gate dir is " + url + "]");
}

// A login goes to the SSL view when it is there. Otherwise it waits in the queue, and a
// launch is run for it unless one is running already (the start's own can hold a nested
// loop in its update step), which replays it. A launch that opens no view has answered
// the login with its own tip: nothing stays queued that a later view would replay long
// after the browser was told.
void MainUI::MainUI_Plugin_Login() {
    if (d->loginKeyUIOpen) {
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin login][emit login signal to loginkey ui]"));
        emit signal_DoLogin();
        return;
    }
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin login][push login signal to queue]"));
    d->pluginEventQueue.append(1);
    if (d->sslLaunchRunning) {
        return;
    }
    LaunchSslLogin();
    if (!d->loginKeyUIOpen) {
        d->pluginEventQueue.clear();
    }
}

void MainUI::MainUI_Plugin_Logout() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin log out][into main ui log out]"));
    MainUI_SysTrayIcon_ExitMain();
}

void MainUI::MainUI_Plugin_Urgent_Logout() {
    Log(DDM_LOG_INFO,
        QStringLiteral("[Main ui plugin urgent log out][into main ui plugin urgent log out]"));
    MainUI_SysTrayIcon_ExitMain();
}

void MainUI::MainUI_Plugin_Start_CNEM() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin start cnem][into main ui plugin start cnem]"));
    constexpr uint32_t kTunnelMode = 2;
    Log(DDM_LOG_INFO, "[Main ui plugin start cnem][tunnel mode is " +
                          QString::number(kTunnelMode) + "]");
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    if (UI_SslCnem_Start(kTunnelMode, msgCodeName, &ok) != 0) {
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin start cnem][cnem faild to send tip to plugin]"));
        Util_ShowCritical(OverTimeText(), kTipModule, 1);
        return;
    }
    if (ok == 1) {
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin start cnem][cenm succed!]"));
        MainUI_GlobalLogin_GetLoginReturn_Update(true);
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin start cnem][cnem success to send tip to plugin"));
        Util_ShowWarning(QStringLiteral("Cenm succed"), kTipModule, 0);
        UIContext::GetInstance()->SetCnemStatus(true);
        return;
    }
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin start cnem][cnem faild to send tip to plugin]"));
    Util_ShowCritical(KeyText(msgCodeName, sizeof(msgCodeName)), kTipModule, 1);
    MainUI_Logout();
}

// Stopping the tunnel keeps the login: the window, the tray and the login state stay.
void MainUI::MainUI_Plugin_Stop_CNEM() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin stop cnem][into main ui plugin stop cnem]"));
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    if (UI_SslCnem_Stop(msgCodeName, &ok) != 0) {
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin stop cnem][stop cnem error]"));
        Util_ShowCritical(OverTimeText(), kTipModule, 1);
        return;
    }
    if (ok == 1) {
        Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin stop cnem][stop cnem success]"));
        Util_ShowWarning(QStringLiteral("stop cnem success"), kTipModule, 0);
        UIContext::GetInstance()->SetCnemStatus(false);
        d->trayIcon->showMessage(UISystemProfile::GetInstance()->GetProductName(),
                                 Text("/UI_MAIN/UI_MAIN_STOP_CNEM_SUCCESS"),
                                 QSystemTrayIcon::Information, 10000);
        return;
    }
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin stop cnem][stop cnem faild]"));
    Util_ShowCritical(KeyText(msgCodeName, sizeof(msgCodeName)), kTipModule, 1);
}

void MainUI::MainUI_Plugin_HostCheck() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin host check][into main ui host check]"));
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    if (UI_SslHostCheck_Process(msgCodeName, &ok) != 0) {
        Log(DDM_LOG_INFO,
            QStringLiteral("[Main ui plugin host check][host check failed to sent tip to plugin]"));
        Util_ShowCritical(OverTimeText(), kTipModule, 1);
        return;
    }
    if (ok == 1) {
        Log(DDM_LOG_INFO,
            QStringLiteral("[Main ui plugin host check][host check succed to sent tip to plugin]"));
        Util_ShowWarning(QStringLiteral("host check success"), kTipModule, 0);
        return;
    }
    Log(DDM_LOG_INFO,
        QStringLiteral("[Main ui plugin host check][host check error to sent tip to plugin]"));
    Util_ShowCritical(KeyText(msgCodeName, sizeof(msgCodeName)), kTipModule, 1);
}

// Flag 1 and 0 select the service's two cache clears.
void MainUI::MainUI_Plugin_CacheClear(int flag) {
    Log(DDM_LOG_INFO, "[Main ui plugin cache clear][into main ui plugin cache clear,flag is " +
                          QString::number(flag) + "]");
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    if (UI_SslCacheClear_Process(static_cast<uint32_t>(flag), msgCodeName, &ok) != 0) {
        Log(DDM_LOG_INFO,
            QStringLiteral("[Main ui plugin cache clear][cache clear faild to send tip to plugin]"));
        Util_ShowCritical(OverTimeText(), kTipModule, 1);
        return;
    }
    if (ok == 1) {
        Util_ShowWarning(QStringLiteral("cache clear success"), kTipModule, 0);
        return;
    }
    Log(DDM_LOG_INFO, QStringLiteral("cache clear error to send tip to plugin"));
    Util_ShowCritical(KeyText(msgCodeName, sizeof(msgCodeName)), kTipModule, 1);
}

// The information record answers with a packet, even to a browser extension; a failed
// send shows only in the log.
void MainUI::MainUI_Plugin_GetInfo() {
    Log(DDM_LOG_INFO, QStringLiteral("[Main ui plugin get info][into main ui plugin get info]"));
    const UIPLUGIN_INFO_S* info = UIContext::GetInstance()->GetPluginInfo();
    if (info == nullptr) {
        Log(DDM_LOG_ERROR, QStringLiteral("[Main ui plugin get info][plugin info is null]"));
        return;
    }
    PluginInfo record;
    (void)UI_memset_s(&record, sizeof(record), 0, sizeof(record));
    record.uiUserID = info->uiUserID;
    record.uiSessionID = info->uiSessionID;
    CopyWhole(record.aucCookie, info->aucCookie);
    CopyWhole(record.acUserName, info->acUserName);
    CopyWhole(record.acLoginAddr, info->acLoginAddr);
    record.ucTunnelStarted = UIContext::GetInstance()->GetCnemStatus() ? 1 : 0;
    static_assert(sizeof(record.aucReserved) == sizeof(info->aucReserved),
                  "the reserved bytes travel as they are");
    (void)UI_memcpy_s(record.aucReserved, sizeof(record.aucReserved), info->aucReserved,
                      sizeof(info->aucReserved));
    (void)UI_PluginInfo_Send(&record);
}
