// The front end's copy of the service-held configuration.

#include "uisystemprofile.h"

#include <cstring>

#include "ddm_log.h"
#include "languagesetting.h"
#include "servicelink.h"
#include "uibox.h"
#include "uifield.h"
#include "uilog.h"

class UISystemProfilePrivate {
public:
    std::unique_ptr<CFM_SYSCONFIG_S> config;  // none until the first Read
    bool readSuccess = false;                 // config holds what the latest Read brought
};

namespace {

const char kSeparator[] = "=================================";

QString Number(uint32_t value) { return QString::number(value); }

// The OVERTIMEERROR text when no answer came, else the text of the reply's key.
void ShowRequestFailure(const char* replyName) {
    const QString text =
        replyName == nullptr
            ? LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR
            : LanguageSetting::GetInstance()->GetValue(
                  Util_FieldToString(replyName, UI_MSGCODE_NAME_SIZE));
    Util_ShowBox(QMessageBox::Warning, text);
}

void LogSessions(const CFM_SYSCONFIG_S& config) {
    for (const CFM_SESSION_S& s : config.Sessions) {
        if (Util_FieldLength(s.ProfileName, sizeof(s.ProfileName)) == 0) {
            break;
        }
        Util_WriteLog(0, DDM_LOG_DEBUG, "[ConnectionType :][" + Number(s.ConnectionType) + "]");
        Util_WriteLog(0, DDM_LOG_DEBUG, "[RemPwd :][" + Number(s.RemPwd) + "]");
        Util_WriteLog(0, DDM_LOG_DEBUG, "[AutoLogin :][" + Number(s.AutoLogin) + "]");
        Util_WriteLog(0, DDM_LOG_DEBUG,
                      "[LastLoginAddr :][" +
                          Util_FieldToString(s.LastLoginAddr, sizeof(s.LastLoginAddr)) + "]");
        Util_WriteLog(0, DDM_LOG_DEBUG,
                      "[ProfileName :][" +
                          Util_FieldToString(s.ProfileName, sizeof(s.ProfileName)) + "]");
    }
}

}  // namespace

UISystemProfile* UISystemProfile::GetInstance() {
    static UISystemProfile instance;
    return &instance;
}

UISystemProfile::UISystemProfile() : d(new UISystemProfilePrivate) {}

UISystemProfile::~UISystemProfile() {
    d->config.reset();
    d.reset();
}

bool UISystemProfile::Read() {
    if (!d->config) {
        d->config.reset(new CFM_SYSCONFIG_S());
    }
    CFM_SYSCONFIG_S* config = d->config.get();
    (void)UI_memset_s(config, sizeof(*config), 0, sizeof(*config));
    d->readSuccess = false;

    char name[UI_MSGCODE_NAME_SIZE] = {};
    uint32_t ok = 0;
    if (UI_CfmSysConfig_Read(name, &ok, config) != 0) {
        Util_WriteLog(0, DDM_LOG_ERROR, "[Init ui SystemProfile][read systemProfile failed!]");
        return false;
    }
    if (ok != 1) {
        Util_WriteLog(0, DDM_LOG_ERROR, "[Init ui SystemProfile][read systemProfile not success!]");
        return false;
    }
    d->readSuccess = true;

    Util_WriteLog(0, DDM_LOG_DEBUG, kSeparator);
    Util_WriteLog(0, DDM_LOG_DEBUG, "[AutoBoot :][" + Number(config->AutoBoot) + "]");
    Util_WriteLog(0, DDM_LOG_DEBUG, "[LanguageID :][" + Number(config->LanguageID) + "]");
    Util_WriteLog(0, DDM_LOG_DEBUG, "[ServerCheck :][" + Number(config->ServerCheck) + "]");
    Util_WriteLog(0, DDM_LOG_DEBUG, "[ShowLogflag :][" + Number(config->ShowLogflag) + "]");
    Util_WriteLog(0, DDM_LOG_DEBUG, "[LastAccessSession :][" + GetLastAccessSession() + "]");
    LogSessions(*config);
    Util_WriteLog(0, DDM_LOG_DEBUG, kSeparator);
    return true;
}

bool UISystemProfile::GetReadSuccess() const { return d->readSuccess; }

bool UISystemProfile::Save() {
    Util_WriteLog(0, DDM_LOG_INFO, "[To save the UI system profile]");
    if (!d->config || !d->readSuccess) {
        Util_WriteLog(0, DDM_LOG_ERROR,
                      "[To save the UI system profile][the configuration was not read from the "
                      "service: not saved]");
        ShowRequestFailure(nullptr);
        return false;
    }
    char name[UI_MSGCODE_NAME_SIZE] = {};
    uint32_t ok = 0;
    if (UI_CfmSysConfig_Write(d->config.get(), name, &ok) != 0) {
        ShowRequestFailure(nullptr);
        return false;
    }
    if (ok != 1) {
        ShowRequestFailure(name);
        return false;
    }
    Util_WriteLog(0, DDM_LOG_INFO, "[Save the ui system profile succed]");
    return true;
}

CFM_SYSCONFIG_S* UISystemProfile::GetSystemConfig() const { return d->config.get(); }

void UISystemProfile::SetSystemConfig(const CFM_SYSCONFIG_S* config) {
    if (config == nullptr) {
        return;
    }
    if (!d->config) {
        d->config.reset(new CFM_SYSCONFIG_S());
    }
    if (config != d->config.get()) {
        (void)UI_memcpy_s(d->config.get(), sizeof(CFM_SYSCONFIG_S), config,
                          sizeof(CFM_SYSCONFIG_S));
    }
}

// ---- Field accessors ---------------------------------------------------------------------

#define UI_PROFILE_TEXT_ACCESSORS(Field, Decode)                                       \
    void UISystemProfile::Set##Field(const QString& text) {                           \
        if (d->config) {                                                              \
            (void)Util_FieldSetString(d->config->Field, sizeof(d->config->Field), text); \
        }                                                                             \
    }                                                                                 \
    QString UISystemProfile::Get##Field() const {                                     \
        return d->config ? Decode(d->config->Field, sizeof(d->config->Field)) : QString(); \
    }

#define UI_PROFILE_U32_ACCESSORS(Field)                                               \
    void UISystemProfile::Set##Field(const uint32_t& value) {                         \
        if (d->config) {                                                              \
            d->config->Field = value;                                                 \
        }                                                                             \
    }                                                                                 \
    uint32_t UISystemProfile::Get##Field() const { return d->config ? d->config->Field : 0; }

UI_PROFILE_TEXT_ACCESSORS(ProductName, Util_FieldToString)
UI_PROFILE_TEXT_ACCESSORS(Version, Util_FieldToString)
UI_PROFILE_TEXT_ACCESSORS(Customized, Util_FieldToString)
UI_PROFILE_U32_ACCESSORS(SpareValue)
UI_PROFILE_U32_ACCESSORS(CheckVersion)
UI_PROFILE_U32_ACCESSORS(AutoBoot)
UI_PROFILE_U32_ACCESSORS(LanguageID)
UI_PROFILE_U32_ACCESSORS(ServerCheck)
UI_PROFILE_U32_ACCESSORS(ShowLogflag)
UI_PROFILE_TEXT_ACCESSORS(LastAccessSession, Util_FieldToLocal8Bit)
UI_PROFILE_U32_ACCESSORS(ProxyType)
UI_PROFILE_TEXT_ACCESSORS(ProxyAddr, Util_FieldToString)
UI_PROFILE_U32_ACCESSORS(ProxyPort)
UI_PROFILE_TEXT_ACCESSORS(ProxyUser, Util_FieldToString)
UI_PROFILE_TEXT_ACCESSORS(ProxyPwd, Util_FieldToString)

#undef UI_PROFILE_TEXT_ACCESSORS
#undef UI_PROFILE_U32_ACCESSORS

// ---- Sessions -------------------------------------------------------------------------------

int UISystemProfile::GetSessionIndex(const QString& profileName) const {
    if (!d->config) {
        return -1;
    }
    int index = -1;
    for (int i = 0; i < UI_SESSION_ENTRY_MAX; ++i) {
        const CFM_SESSION_S& s = d->config->Sessions[i];
        if (Util_FieldToLocal8Bit(s.ProfileName, sizeof(s.ProfileName)) == profileName) {
            index = i;
            break;
        }
    }
    Util_WriteLog(0, DDM_LOG_DEBUG,
                  "[Get profile session index][index is " + QString::number(index) + "]");
    return index;
}

CFM_SESSION_S* UISystemProfile::GetSession(const QString& profileName) const {
    const int index = GetSessionIndex(profileName);
    return index < 0 ? nullptr : &d->config->Sessions[index];
}

void UISystemProfile::SetSession(const CFM_SESSION_S* session, const QString& profileName) {
    CFM_SESSION_S* held = session == nullptr ? nullptr : GetSession(profileName);
    if (held == nullptr || held == session) {
        return;
    }
    held->ConnectionType = session->ConnectionType;
    held->RemPwd = session->RemPwd;
    held->AutoLogin = session->AutoLogin;
    (void)Util_FieldCopy(held->LastLoginAddr, sizeof(held->LastLoginAddr), session->LastLoginAddr,
                         sizeof(session->LastLoginAddr));
    (void)Util_FieldCopy(held->ProfileName, sizeof(held->ProfileName), session->ProfileName,
                         sizeof(session->ProfileName));
    (void)Util_FieldCopy(held->UserName, sizeof(held->UserName), session->UserName,
                         sizeof(session->UserName));
    (void)Util_FieldCopy(held->Password, sizeof(held->Password), session->Password,
                         sizeof(session->Password));
}

bool UISystemProfile::WriteSession(const CFM_SESSION_S* session, int flag) {
    Util_WriteLog(0, DDM_LOG_INFO, "[To write profile session]");
    if (session == nullptr) {
        Util_WriteLog(0, DDM_LOG_ERROR, "[To write profile session][invalid parameter!]");
        return false;
    }
    char name[UI_MSGCODE_NAME_SIZE] = {};
    uint32_t ok = 0;
    if (UI_CfmSession_Write(session, static_cast<uint8_t>(flag), name, &ok) != 0) {
        ShowRequestFailure(nullptr);
        return false;
    }
    if (ok != 1) {
        ShowRequestFailure(name);
        return false;
    }
    Util_WriteLog(0, DDM_LOG_INFO, "[Write profile session succed]");
    return true;
}
