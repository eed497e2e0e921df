#include "pluginthread.h"

#include <cstdint>
#include <cstring>

#include "servicelink.h"
#include "uicontext.h"
#include "util.h"

namespace {

// Takes a login request's texts into the launch record. A plugin is an outside program:
// a field it sent without a terminator counts as too long and is left empty, so no text
// is ever read past its own field (or past the payload).
void TakeLoginFields(const PluginLoginPayload& payload) {
    UIPLUGIN_INFO_S* info = UIContext::GetInstance()->GetPluginInfo();
    std::memset(info->acUserName, 0, sizeof(info->acUserName));
    std::memset(info->acPassword, 0, sizeof(info->acPassword));
    std::memset(info->acVerifyCode, 0, sizeof(info->acVerifyCode));
    // A login request names no proxy: the one of the launch belongs to the start only.
    std::memset(info->acProxyAddr, 0, sizeof(info->acProxyAddr));
    (void)Util_FieldCopy(info->acUserName, sizeof(info->acUserName), payload.acUserName,
                         sizeof(payload.acUserName));
    (void)Util_FieldCopy(info->acPassword, sizeof(info->acPassword), payload.acPassword,
                         sizeof(payload.acPassword));
    (void)Util_FieldCopy(info->acVerifyCode, sizeof(info->acVerifyCode), payload.acVerifyCode,
                         sizeof(payload.acVerifyCode));

    Util_WriteLog(0, 1, QStringLiteral("[Plugin thread run][user name is ") +
                            Util_FieldToLocal8Bit(info->acUserName, sizeof(info->acUserName)) +
                            QStringLiteral("]"));
    // The verification code is a one-time secret: the log tells only whether one came.
    const bool hasCode = Util_FieldLength(info->acVerifyCode, sizeof(info->acVerifyCode)) > 0;
    Util_WriteLog(0, 1, QStringLiteral("[Plugin thread run][verification code is ") +
                            (hasCode ? QStringLiteral("******") : QString()) + QStringLiteral("]"));
}

}  // namespace

PluginThread::PluginThread() : QThread(nullptr) {}

void PluginThread::run() {
    for (;;) {
        int32_t event = 0;
        PluginLoginPayload payload;
        std::memset(&payload, 0, sizeof(payload));

        // A failed read leaves event 0: nothing is emitted, and the rest below keeps a
        // broken queue from turning this into a busy loop.
        (void)UI_PluginEvent_Process(&event, &payload);
        Util_WriteLog(0, 1, QStringLiteral("[Plugin thread run][message type is ") +
                                QString::number(event) + QStringLiteral("]"));
        UIContext::GetInstance()->SetPluginMsgType(event);

        switch (event) {
        case PLUGIN_EVENT_LOGIN:
            TakeLoginFields(payload);
            emit signal_Plugin_Login();
            break;
        case PLUGIN_EVENT_LOGOUT:
            emit signal_Plugin_Logout();
            break;
        case PLUGIN_EVENT_START_CNEM:
            emit signal_StartCNEM();
            break;
        case PLUGIN_EVENT_STOP_CNEM:
            emit signal_StopCNEM();
            break;
        case PLUGIN_EVENT_HOST_CHECK:
            emit signal_Plugin_HostCheck();
            break;
        case PLUGIN_EVENT_CACHE_CLEAR:
            emit signal_Plugin_CacheClear(1);
            break;
        case PLUGIN_EVENT_CACHE_CLEAR_0:
            emit signal_Plugin_CacheClear(0);
            break;
        case PLUGIN_EVENT_URGENT_LOGOUT:
            emit signal_Plugin_Urgent_Logout();
            break;
        case PLUGIN_EVENT_GET_INFO:
            emit signal_Plugin_Get_Info();
            break;
        default:
            break;
        }
        QThread::sleep(1);
    }
}
