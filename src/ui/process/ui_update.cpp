// The client update's own steps: the version rule, the disk check, the word size and
// the request that hands a downloaded package to the promote service.

#include "ui_update.h"

#include <sys/statvfs.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "ui_common.h"
#include "ui_connect.h"
#include "ui_packet.h"
#include "ui_request.h"
#include "ui_update_inner.h"
#include "uko_secfunc.h"

static_assert(sizeof(void*) == 8, "the client is built as a 64-bit program");

uint32_t UI_Update_Check(uint32_t uiGatewayMs, uint32_t uiGatewayLs) {
    // major, minor, build, revision; parts the text does not have stay 0.
    uint32_t part[4] = {0, 0, 0, 0};
    char text[UI_VERSION_TEXT_SIZE];
    std::memset(text, 0, sizeof(text));
    std::memcpy(text, UI_LOCAL_VERSION, sizeof(UI_LOCAL_VERSION));
    char* context = nullptr;
    char* token = UKO_strtok_s(text, ".", &context);
    for (size_t i = 0; i < 4 && token != nullptr; ++i) {
        part[i] = static_cast<uint32_t>(std::atoi(token));
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][Process update][%d]", UI_LOG_TAG,
                           static_cast<int>(part[i]));
        token = UKO_strtok_s(nullptr, ".", &context);
    }

    const uint32_t localMs = (part[0] << 16) | part[1];
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][Process update][MS:local version is %08x ,gateway version is %08x.]",
                       UI_LOG_TAG, localMs, uiGatewayMs);
    if (localMs < uiGatewayMs) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                           "[%lu][Process update][MS:%08x < %08x, need to update]", UI_LOG_TAG,
                           localMs, uiGatewayMs);
        return 1;
    }
    if (localMs > uiGatewayMs) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][Process update][not need update]",
                           UI_LOG_TAG);
        return 0;
    }
    const uint32_t localLs = (part[2] << 16) | part[3];
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][Process update][LS:local version is %08x ,gateway version is %08x.]",
                       UI_LOG_TAG, localLs, uiGatewayLs);
    if (localLs < uiGatewayLs) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                           "[%lu][Process update][LS:%08x < %08x,need to update]", UI_LOG_TAG,
                           localLs, uiGatewayLs);
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][Process update][not need update]",
                       UI_LOG_TAG);
    return 0;
}

uint32_t uiDiskFreeMiBGet(const char* pcPath, uint64_t* puvMiB) {
    struct statvfs st;
    if (pcPath == nullptr || puvMiB == nullptr || statvfs(pcPath, &st) != 0) {
        return 1;
    }
    // Counted in 128 bits: blocks × fragment size may pass 64 bits on a large volume.
    const unsigned __int128 bytes =
        static_cast<unsigned __int128>(st.f_bavail) * static_cast<unsigned __int128>(st.f_frsize);
    const unsigned __int128 mib = bytes / (1024u * 1024u);
    *puvMiB = mib > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(mib);
    return 0;
}

uint32_t uiDiskRuleCheck(uint64_t uvFreeMiB) {
    if (uvFreeMiB >= UI_UPDATE_DISK_NEED_MIB) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu]disk enough ", UI_LOG_TAG);
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu]disk not enough ", UI_LOG_TAG);
    return 0;
}

namespace {

std::atomic<UI_DISK_FREE_PF> g_pfnDiskFree{nullptr};

}  // namespace

void uiDiskFreeMiBSet(UI_DISK_FREE_PF pfnMeasure) { g_pfnDiskFree = pfnMeasure; }

uint32_t UI_Disk_Check() {
    // The folder the package is downloaded to, not the process's current folder (which
    // is "/" for a program started from the desktop).
    const UI_DISK_FREE_PF measure = g_pfnDiskFree.load();
    uint64_t freeMiB = 0;
    if ((measure != nullptr ? measure : uiDiskFreeMiBGet)(UI_UPDATE_DOWNLOAD_DIR, &freeMiB) != 0) {
        return 0;
    }
    return uiDiskRuleCheck(freeMiB);
}

uint32_t UI_System_Is64Bit() { return 1; }

uint32_t UI_Update_Start(const void* pRecord, uint32_t uiLength) {
    static const char kOp[] = "Process update start";
    // The record and the zero after it must fit one packet.
    if (pRecord == nullptr || uiLength >= UI_PACKET_PAYLOAD_MAX) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][invalid parameter!]", UI_LOG_TAG,
                           kOp);
        return 1;
    }
    UiRequest req;
    if (UI_Request_Begin(&req, MARK_RPC, CONNECT_TYPE_ASYNC) != 0) {
        UI_Request_End(&req);
        return 1;
    }
    // Head, the record, one zero byte (and the buffer's own closing zero).
    if (UI_Request_Build(&req, MSG_TYPE_PREF, PREF_MSGCODE_UPDATE_APPLICATION, uiLength + 1) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][malloc failed!]", UI_LOG_TAG, kOp);
        UI_Request_End(&req);
        return 1;
    }
    std::memcpy(req.pucPacket + UI_PACKET_HEAD_LEN, pRecord, uiLength);
    const int32_t sent = UI_Packet_Send(req.iFd, req.pucPacket, req.uiPacketLen);
    const int32_t fd = req.iFd;
    UI_Request_End(&req);
    if (sent < 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][%s][send update packet failed, fd is %d]", UI_LOG_TAG, kOp, fd);
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][%s][send update packet, %d bytes]",
                       UI_LOG_TAG, kOp, sent);
    return 0;
}
