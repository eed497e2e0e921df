#include "urgentthread.h"

#include <cstdint>
#include <cstring>

#include "servicelink.h"
#include "uicontext.h"
#include "util.h"

UrgentThread::UrgentThread() : QThread(nullptr) {}

void UrgentThread::run() {
    for (;;) {
        int32_t event = 0;
        int32_t showType = 0;
        char name[UI_MSGCODE_NAME_SIZE];
        std::memset(name, 0, sizeof(name));
        QString text;

        // A failed read leaves event 0: nothing is emitted, and the rest below keeps a
        // broken queue from turning this into a busy loop.
        (void)UI_UrgentEvent_Process(&event, name, &showType);
        Util_WriteLog(0, 1, QStringLiteral("[Urgent thread run][message type is ") +
                                QString::number(event) + QStringLiteral("]"));

        UIContext* ctx = UIContext::GetInstance();
        switch (event) {
        case URGENT_EVENT_LOGOUT:
            emit signal_UrgentLogout();
            break;
        case URGENT_EVENT_CNEM_RECONNECT_FAIL:
            // A logout on its way ends the tunnel anyway; its breakage is no news.
            if (!ctx->GetSslLogout()) {
                emit signal_CnemRconn_Fail();
            }
            break;
        case URGENT_EVENT_IPSEC_STATUS:
            text = Util_FieldToLocal8Bit(name, sizeof(name));
            Util_WriteLog(0, 0, QStringLiteral("[Urgent thread run][show type is ") +
                                    QString::number(showType) + QStringLiteral("]"));
            Util_WriteLog(0, 0, QStringLiteral("[Urgent thread run][message code is ") + text +
                                    QStringLiteral("]"));
            emit signal_UI_Show_Style(showType, text);
            break;
        case URGENT_EVENT_VNIC_ERROR:
            if (!ctx->GetSslLogout()) {
                // A browser-driven client has no window to explain an adapter error in:
                // it is logged out as if the gateway had asked.
                if (ctx->GetPluginMode() == 1) {
                    emit signal_UrgentLogout();
                } else {
                    emit signal_VnicError();
                }
            }
            break;
        case URGENT_EVENT_DHCP_ERROR:
            if (!ctx->GetSslLogout()) {
                emit signal_DhcpError();
            }
            break;
        case URGENT_EVENT_EXIT:
            emit signal_Exit();
            break;
        default:
            break;
        }
        QThread::sleep(1);
    }
}
