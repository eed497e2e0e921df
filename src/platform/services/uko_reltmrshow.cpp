// Relative timer show: the debug command that prints the kernel's statistics and timer
// lists. Every show copies what it prints while it holds the kernel lock and prints
// after releasing it, so a slow print target never holds up the tick.

#include <cstring>

#include "uko_handle.h"
#include "uko_mempt.h"
#include "uko_reltmrknl.h"
#include "uko_reltmrknl_inner.h"
#include "uko_secfunc.h"

namespace {

constexpr uint32_t kAllHandles = 0xFFFFFFFFu;

const char kStars80[] =
    "********************************************************************************";
const char kDashes80[] =
    "--------------------------------------------------------------------------------";
const char kStars60[] = "************************************************************";
const char kDashes60[] = "------------------------------------------------------------";

const char kNoTimer[] = "\r\n There is not any relative timer.";
const char kNoBasicSwitch[] = "\r\n Or ReltmrBasicInfoSwitch is not opened.";
const char kAllocFail[] = "\r\n UKO_MemAlloc failed.";
const char kMaxHandleNull[] = "\r\n MaxHandle is Null.";

// One row of a timer table, copied under the kernel lock.
struct Row {
    uint32_t uiHandle;
    bool bHasOwner;
    void* pTimerId;  // the owner's variable as it stood at the copy
    uint32_t uiLenMs;
    uint8_t ucMode;
    uint8_t ucState;
    uint64_t uvCbk;
};

const char* StateShowName(uint8_t ucState) {
    switch (ucState) {
        case UKO_RELTMR_TICKING:
            return "ACTIVE";
        case UKO_RELTMR_IDLE:
            return "IDLE";
        case UKO_RELTMR_DELETED:
            return "DELETED";
        case UKO_RELTMR_PAUSED:
            return "PAUSED";
        case UKO_RELTMR_PAUSEING:
            return "PAUSING";
        case UKO_RELTMR_OUT:
            return "TIMEOUT";
        default:
            return "UNKNOWN";
    }
}

const char* ModeShowName(uint8_t ucMode) {
    switch (ucMode) {
        case 0:
            return "MSG NOLOOP";
        case 1:
            return "MSG LOOP";
        case 2:
            return "CBK NOLOOP";
        case 3:
            return "CBK LOOP";
        case 5:
            return "ONE_TIMEOUT_MSG_IN_QUEUE | MSG LOOP";
        case 9:
            return "CYCLE_RECORD | MSG LOOP";
        case 17:
            return "CYCLE_COMPENSATE | MSG LOOP";
        case 19:
            return "CYCLE_COMPENSATE | CBK LOOP";
        default:
            return "UNKNOWN";
    }
}

void HandleName(uint32_t uiHandle, char* pcName) {
    if (UKO_HandleNameGet(uiHandle, pcName) != 0) {
        std::strcpy(pcName, "Invalid Handle");
    }
}

void RowCopy(const UKO_ReltmrCb* tm, Row* pstRow) {
    pstRow->uiHandle = tm->uiHandle;
    pstRow->bHasOwner = tm->phOwner != nullptr;
    // Read while the timer is known to be live: once the lock is gone the owner's
    // variable may be gone with it.
    pstRow->pTimerId = tm->phOwner != nullptr ? static_cast<void*>(*tm->phOwner) : nullptr;
    pstRow->uiLenMs = tm->uiLenMs;
    pstRow->ucMode = tm->ucMode;
    pstRow->ucState = tm->ucState;
    pstRow->uvCbk = (tm->ucMode & UKO_RELTIMER_CALLBACK) != 0 ? ukoRelTmParam2Get(tm) : 0;
}

void TablePrint(uint32_t uiTarget, const Row* pstRows, uint32_t uiNum, bool bCbk) {
    (void)UKO_ShowPrint(uiTarget, bCbk ? "\r\nHandle     Timer ID           TimeLen(ms) Mode       Status  CBK FUNC"
                                       : "\r\nHandle     Timer ID           TimeLen(ms) Mode       Status");
    for (uint32_t i = 0; i < uiNum; ++i) {
        const Row& r = pstRows[i];
        const char* mode = ModeShowName(r.ucMode);
        const char* state = StateShowName(r.ucState);
        if (bCbk) {
            void* cbk = reinterpret_cast<void*>(static_cast<uintptr_t>(r.uvCbk));
            if (r.bHasOwner) {
                (void)UKO_ShowPrint(uiTarget, "\r\n%-10u 0x%-16p %-10u  %-10s %-5s  0x%-p", r.uiHandle,
                                    r.pTimerId, r.uiLenMs, mode, state, cbk);
            } else {
                (void)UKO_ShowPrint(uiTarget, "\r\n%-10u 0x0000000000000000 %-10u  %-10s %-5s  0x%-p",
                                    r.uiHandle, r.uiLenMs, mode, state, cbk);
            }
        } else if (r.bHasOwner) {
            (void)UKO_ShowPrint(uiTarget, "\r\n%-10u 0x%-16p %-10u  %-10s %-5s", r.uiHandle, r.pTimerId,
                                r.uiLenMs, mode, state);
        } else {
            (void)UKO_ShowPrint(uiTarget, "\r\n%-10u 0x0000000000000000 %-10u  %-10s %-5s", r.uiHandle,
                                r.uiLenMs, mode, state);
        }
    }
}

// Which timers a table shows.
struct Select {
    uint32_t uiSkip = 0;   // list show: timers passed over first
    uint32_t uiCount = 0;  // list show: 0 = all that remain
    bool bFind = false;
    uint32_t uiName = 0;
    uint64_t uvParam1 = 0;
    bool bCbkOnly = false;
};

// Copies the selected timers of a list (the all-timers list, or a handle's list through
// its handle links) into rows. Kernel lock held.
uint32_t Collect(UKO_ReltmrCb* pstHead, bool bHandleList, const Select& sel, Row* pstRows,
                 uint32_t uiCap) {
    uint32_t n = 0;
    uint32_t seen = 0;
    if (pstHead == nullptr) {
        return 0;
    }
    const UKO_ReltmrCb* tm = pstHead;
    do {
        bool take = true;
        if (sel.bFind) {
            take = ukoRelTmNameGet(tm) == sel.uiName && ukoRelTmParam1Get(tm) == sel.uvParam1;
        } else if (sel.bCbkOnly) {
            take = (tm->ucMode & UKO_RELTIMER_CALLBACK) != 0;
        } else {
            take = seen++ >= sel.uiSkip && (sel.uiCount == 0 || n < sel.uiCount);
        }
        if (take && n < uiCap) {
            RowCopy(tm, &pstRows[n++]);
        }
        tm = bHandleList ? tm->pstHdlNext : tm->pstAllNext;
    } while (tm != pstHead);
    return n;
}

Row* RowsAlloc(uint32_t uiNum) {
    return static_cast<Row*>(
        UKO_MemAlloc(0, m_ucSysPtNo, static_cast<uint64_t>(uiNum == 0 ? 1 : uiNum) * sizeof(Row)));
}

void HelpShow(uint32_t uiTarget) {
    static const char* const kHelp[] = {
        " relative timer info show using help information:\r\n",
        " (0,  *,  *,  *) display help information.\r\n",
        " (1,  *,  *,  *) display the summary information of relative timers.\r\n",
        " (2,  *,  *,  *) display the summary information by each handle.\r\n",
        " (3, p1, p2, p3) display the relative timers of handle [p1](0xFFFFFFFF: all),\r\n"
        "                 from the timer of index [p2] with the count of [p3].if[p3]=0, show all.\r\n",
        " (4, p1, p2, p3) find the relative timers of handle [p1](0xFFFFFFFF: all)\r\n"
        "                 whose name is [p2] and parameter 1 is [p3].\r\n",
        " (5, p1,  *,  *) display the detail information of timer [p1].\r\n",
        " (6, p1,  *,  *) display the call back relative timers of handle [p1](0xFFFFFFFF: all).\r\n",
        " (7, p1, p2,  *) display the trace records of timer from index [p2] with\r\n"
        "                 the count of [p1].if[p1]=0, show all.\r\n",
        " (8, p1, p2,  *) display the monitor records of timer from index [p2] with\r\n"
        "                 the count of [p1].if[p1]=0, show all.\r\n",
    };
    (void)UKO_ShowPrint(uiTarget, "\r\n%s\r\n", kDashes80);
    for (const char* line : kHelp) {
        (void)UKO_ShowPrint(uiTarget, "%s", line);
    }
    (void)UKO_ShowPrint(uiTarget, "%s", kDashes80);
}

void SystimePrint(uint32_t uiTarget, const char* format, const UKO_Systime& t) {
    (void)UKO_ShowPrint(uiTarget, format, t.usYear, t.ucMonth, t.ucDate, t.ucHour, t.ucMinute,
                        t.ucSecond, t.uiMillSec);
}

uint32_t ukoReltmrSummaryShow(uint32_t uiTarget) {
    uint32_t byState[6] = {};  // TICKING, IDLE, PAUSED, PAUSEING, DELETED, OUT
    uint32_t byMode[4] = {};   // msg one-shot, msg loop, cbk one-shot, cbk loop
    UKO_ReltmrStat stat;
    ukoRelTmLock();
    ukoRelTmStatGet(&stat);
    UKO_ReltmrCb* head = ukoRelTmAllHeadGet();
    if (head != nullptr) {
        const UKO_ReltmrCb* tm = head;
        do {
            switch (tm->ucState) {
                case UKO_RELTMR_TICKING: ++byState[0]; break;
                case UKO_RELTMR_IDLE: ++byState[1]; break;
                case UKO_RELTMR_PAUSED: ++byState[2]; break;
                case UKO_RELTMR_PAUSEING: ++byState[3]; break;
                case UKO_RELTMR_DELETED: ++byState[4]; break;
                case UKO_RELTMR_OUT: ++byState[5]; break;
                default: break;
            }
            switch (tm->ucMode) {
                case 0: ++byMode[0]; break;
                case 1: case 5: case 9: case 17: ++byMode[1]; break;
                case 2: ++byMode[2]; break;
                case 3: case 19: ++byMode[3]; break;
                default: break;
            }
            tm = tm->pstAllNext;
        } while (tm != head);
    }
    ukoRelTmUnlock();
    (void)UKO_ShowPrint(uiTarget,
                        "\r\n----------------------Relative timer summary information------------------------");
    (void)UKO_ShowPrint(uiTarget, "\r\nTotal number                    :%u", stat.uiCurNum);
    (void)UKO_ShowPrint(uiTarget, "\r\nTotal Start times               :%u", stat.uiStartNum);
    (void)UKO_ShowPrint(uiTarget, "\r\nTotal Stop times                :%u", stat.uiStopNum);
    (void)UKO_ShowPrint(uiTarget, "\r\n%s", kDashes80);
    SystimePrint(uiTarget, "\r\nPeak  time                      :%04d-%02d-%02d  %02d:%02d:%02d.%03d",
                 stat.stPeakTime);
    (void)UKO_ShowPrint(uiTarget, "\r\nPeak  number                    :%u", stat.uiPeakNum);
    (void)UKO_ShowPrint(uiTarget, "\r\n%s", kDashes80);
    (void)UKO_ShowPrint(uiTarget, "\r\nTicking Number                  :%u", byState[0]);
    (void)UKO_ShowPrint(uiTarget, "\r\nIdle number                     :%u", byState[1]);
    (void)UKO_ShowPrint(uiTarget, "\r\nPaused number                   :%u", byState[2]);
    (void)UKO_ShowPrint(uiTarget, "\r\nPausing number                  :%u", byState[3]);
    (void)UKO_ShowPrint(uiTarget, "\r\nDeleted number                  :%u", byState[4]);
    (void)UKO_ShowPrint(uiTarget, "\r\nTimed out number                :%u", byState[5]);
    (void)UKO_ShowPrint(uiTarget, "\r\n%s", kDashes80);
    (void)UKO_ShowPrint(uiTarget, "\r\nMessage No Loop number          :%u", byMode[0]);
    (void)UKO_ShowPrint(uiTarget, "\r\nMessage Loop number             :%u", byMode[1]);
    (void)UKO_ShowPrint(uiTarget, "\r\nCallback No loop number         :%u", byMode[2]);
    (void)UKO_ShowPrint(uiTarget, "\r\nCallback Loop number            :%u", byMode[3]);
    return 0;
}

uint32_t ukoReltmrHandleSummaryShow(uint32_t uiTarget) {
    uint32_t maxHandle = 0;
    (void)UKO_HandleMaxNumGet(&maxHandle);
    if (maxHandle == 0) {
        (void)UKO_ShowPrint(uiTarget, kMaxHandleNull);
        return UKO_EINVAL;
    }
    if (maxHandle == UKO_HANDLE_NONE) {
        (void)UKO_ShowPrint(uiTarget, "\r\nThere is not any relative timer!");
        return 0;
    }
    struct Entry {
        uint32_t uiHandle;
        uint32_t uiCbk;
        uint32_t uiNum;
    };
    auto* entries = static_cast<Entry*>(
        UKO_MemAlloc(0, m_ucSysPtNo, static_cast<uint64_t>(maxHandle + 1) * sizeof(Entry)));
    if (entries == nullptr) {
        (void)UKO_ShowPrint(uiTarget, kAllocFail);
        return UKO_ENOMEM;
    }
    uint32_t n = 0;
    ukoRelTmLock();
    for (uint32_t h = 0; h <= maxHandle; ++h) {
        const UKO_RELTMR_HDL_STAT* st = ukoRelTmHdlStatGet(h);
        if (st != nullptr) {
            entries[n++] = {h, st->uiCbkNum, st->uiNum};
        }
    }
    ukoRelTmUnlock();
    if (n == 0) {
        (void)UKO_ShowPrint(uiTarget, "\r\nThere is not any relative timer!");
    } else {
        (void)UKO_ShowPrint(uiTarget, "\r\n---------------Reltmr Summary Info by Handle----------------");
        (void)UKO_ShowPrint(uiTarget, "\r\nHandle   Handle Name   Msg Num   Cbk Num  Total");
        for (uint32_t i = 0; i < n; ++i) {
            char name[UKO_HANDLE_NAME_LEN + 1] = {};
            HandleName(entries[i].uiHandle, name);
            (void)UKO_ShowPrint(uiTarget, "\r\n%3d %15s %8d %8d %8d", entries[i].uiHandle, name,
                                entries[i].uiNum - entries[i].uiCbk, entries[i].uiCbk, entries[i].uiNum);
        }
    }
    (void)UKO_MemFree(0, entries);
    return 0;
}

// Tables of the list, find and callback shows: the selected timers of all handles or of
// one, with the messages each show gives for an empty selection.
enum class TableKind { kList, kFind, kCbk };

uint32_t TableShow(TableKind kind, uint32_t uiHandle, const Select& sel, uint32_t uiTarget) {
    const bool all = uiHandle == kAllHandles;
    ukoRelTmLock();
    UKO_ReltmrStat stat;
    ukoRelTmStatGet(&stat);
    UKO_ReltmrCb* head = ukoRelTmAllHeadGet();
    const UKO_RELTMR_HDL_STAT* hst = all ? nullptr : ukoRelTmHdlStatGet(uiHandle);
    if (all && head == nullptr) {
        ukoRelTmUnlock();
        (void)UKO_ShowPrint(uiTarget, kNoTimer);
        (void)UKO_ShowPrint(uiTarget, kNoBasicSwitch);
        return 0;
    }
    if (!all && kind == TableKind::kFind && stat.uiCurNum == 0) {
        ukoRelTmUnlock();
        (void)UKO_ShowPrint(uiTarget, "\r\nThere is not any relative timer.");
        return 0;
    }
    if (!all && hst == nullptr) {
        ukoRelTmUnlock();
        if (kind == TableKind::kList) {
            (void)UKO_ShowPrint(uiTarget, "\r\n Invalid handle ID:%u.", uiHandle);
            (void)UKO_ShowPrint(uiTarget, "\r\n Or ReltmrExtraInfoSwitch is not opened.");
        } else {
            (void)UKO_ShowPrint(uiTarget, "\r\n Invalid handle ID: %u.", uiHandle);
        }
        return 0;
    }
    if (!all && (hst->uiNum == 0 || hst->pstHead == nullptr)) {
        ukoRelTmUnlock();
        (void)UKO_ShowPrint(uiTarget, "\r\n There is not any relative timer belongs to Handle %u.",
                            uiHandle);
        return 0;
    }
    const UKO_RELTMR_HDL_STAT hcopy = all ? UKO_RELTMR_HDL_STAT{} : *hst;
    const uint32_t cap = stat.uiCurNum;
    Row* rows = RowsAlloc(cap);
    if (rows == nullptr) {
        ukoRelTmUnlock();
        (void)UKO_ShowPrint(uiTarget, kAllocFail);
        return UKO_ENOMEM;
    }
    const uint32_t n = Collect(all ? head : hcopy.pstHead, !all, sel, rows, cap);
    ukoRelTmUnlock();

    if (kind == TableKind::kList && !all) {
        (void)UKO_ShowPrint(uiTarget, "\r\nCurrent timer number of Handle %u      :%-10d", uiHandle,
                            hcopy.uiNum);
        (void)UKO_ShowPrint(uiTarget, "\r\nPeak timer number of Handle    %u      :%-8d", uiHandle,
                            hcopy.uiPeakNum);
        const UKO_Systime& t = hcopy.stPeakTime;
        (void)UKO_ShowPrint(uiTarget,
                            "\r\nPeak time of Handle            %u      :%04d-%02d-%02d  %02d:%02d:%02d.%03d",
                            uiHandle, t.usYear, t.ucMonth, t.ucDate, t.ucHour, t.ucMinute, t.ucSecond,
                            t.uiMillSec);
        (void)UKO_ShowPrint(uiTarget, "\r\n\r\n%s", kDashes80);
    }
    if (n == 0) {
        switch (kind) {
            case TableKind::kList:
                if (all) {
                    (void)UKO_ShowPrint(uiTarget,
                                        "\r\n There is not any relative timer accord with the input condition.");
                } else {
                    (void)UKO_ShowPrint(uiTarget, "\r\nThere is not any relative timer belong to handle %u.",
                                        uiHandle);
                }
                break;
            case TableKind::kFind:
                (void)UKO_ShowPrint(uiTarget, "\r\nNot find such of these timers.Handle:%u, Name:%u, Param:%lu.",
                                    uiHandle, sel.uiName, sel.uvParam1);
                break;
            case TableKind::kCbk:
                if (all) {
                    (void)UKO_ShowPrint(uiTarget, "\r\nNot found any call back relative timer.");
                } else {
                    (void)UKO_ShowPrint(uiTarget, "\r\nNot found any call back relative timer of handle %u.",
                                        uiHandle);
                }
                break;
        }
    } else {
        if (kind == TableKind::kList && all) {
            (void)UKO_ShowPrint(uiTarget, "\r\n%s", kDashes80);
        }
        TablePrint(uiTarget, rows, n, kind == TableKind::kCbk);
    }
    (void)UKO_MemFree(0, rows);
    return 0;
}

uint32_t ukoReltmrListShow(uint32_t uiHandle, uint32_t uiFirst, uint32_t uiNum, uint32_t uiTarget) {
    Select sel;
    sel.uiSkip = uiFirst;
    sel.uiCount = uiNum;
    return TableShow(TableKind::kList, uiHandle, sel, uiTarget);
}

uint32_t ukoReltmrFindShow(uint32_t uiHandle, uint32_t uiName, uint64_t uvParam1, uint32_t uiTarget) {
    Select sel;
    sel.bFind = true;
    sel.uiName = uiName;
    sel.uvParam1 = uvParam1;
    return TableShow(TableKind::kFind, uiHandle, sel, uiTarget);
}

uint32_t ukoReltmrCbkShow(uint32_t uiHandle, uint32_t uiTarget) {
    Select sel;
    sel.bCbkOnly = true;
    return TableShow(TableKind::kCbk, uiHandle, sel, uiTarget);
}

uint32_t ukoReltmrDetailShow(UKO_ReltmrCb* pstTm, uint32_t uiTarget) {
    if (pstTm == nullptr) {
        (void)UKO_ShowPrint(uiTarget, "\r\n Invalid Timer ID:0x%p.", static_cast<void*>(pstTm));
        return UKO_EINVAL;
    }
    // The address is only compared with the list's members until it is found there, so
    // a stale or made-up address is never read.
    bool found = false;
    UKO_ReltmrCb copy;
    ukoRelTmLock();
    UKO_ReltmrCb* head = ukoRelTmAllHeadGet();
    if (head != nullptr) {
        UKO_ReltmrCb* tm = head;
        do {
            if (tm == pstTm) {
                found = true;
                std::memcpy(static_cast<void*>(&copy), tm, sizeof(copy));
                break;
            }
            tm = tm->pstAllNext;
        } while (tm != head);
    }
    ukoRelTmUnlock();
    if (!found) {
        (void)UKO_ShowPrint(uiTarget, "\r\n Timer Id 0x%p is either stopped or invalid.",
                            static_cast<void*>(pstTm));
        (void)UKO_ShowPrint(uiTarget, kNoBasicSwitch);
        return 0;
    }
    if (copy.ucState == UKO_RELTMR_IDLE || copy.ucState == UKO_RELTMR_DELETED) {
        (void)UKO_ShowPrint(uiTarget, "\r\n Timer 0x%p has been deleted.", static_cast<void*>(pstTm));
        return 0;
    }
    char name[UKO_HANDLE_NAME_LEN + 1] = {};
    HandleName(copy.uiHandle, name);
    (void)UKO_ShowPrint(uiTarget, " \r\n----Relative timer information----");
    (void)UKO_ShowPrint(uiTarget, "\r\n Timer ID            = 0x%p ", static_cast<void*>(pstTm));
    (void)UKO_ShowPrint(uiTarget, "\r\n Name                = %u ", ukoRelTmNameGet(&copy));
    (void)UKO_ShowPrint(uiTarget, "\r\n Handle              = %u, %s ", copy.uiHandle, name);
    (void)UKO_ShowPrint(uiTarget, "\r\n Param1              = %lu ", ukoRelTmParam1Get(&copy));
    if ((copy.ucMode & UKO_RELTIMER_CALLBACK) != 0) {
        (void)UKO_ShowPrint(uiTarget, "\r\n Cbk Function        = 0x%p ",
                            reinterpret_cast<void*>(static_cast<uintptr_t>(ukoRelTmParam2Get(&copy))));
    } else {
        (void)UKO_ShowPrint(uiTarget, "\r\n Param2              = %lu ", ukoRelTmParam2Get(&copy));
    }
    (void)UKO_ShowPrint(uiTarget, "\r\n Mode                = %s(%u) ", ModeShowName(copy.ucMode),
                        static_cast<uint32_t>(copy.ucMode));
    (void)UKO_ShowPrint(uiTarget, "\r\n Status              = %s(0x%lX) ", StateShowName(copy.ucState),
                        static_cast<uint64_t>(copy.ucState));
    (void)UKO_ShowPrint(uiTarget, "\r\n Length              = %u(ms) ", copy.uiLenMs);
    return 0;
}

}  // namespace

uint32_t UKO_ReltmrShow(uint32_t uiCmd, uint64_t uvP1, uint64_t uvP2, uint64_t uvP3,
                        uint32_t uiTarget) {
    (void)UKO_ShowPrint(uiTarget, "\r\n%s", kStars80);
    uint32_t rc = 0;
    const auto handle = static_cast<uint32_t>(uvP1);
    switch (uiCmd) {
        case 1:
            rc = ukoReltmrSummaryShow(uiTarget);
            break;
        case 2:
            rc = ukoReltmrHandleSummaryShow(uiTarget);
            break;
        case 3:
            rc = ukoReltmrListShow(handle, static_cast<uint32_t>(uvP2), static_cast<uint32_t>(uvP3),
                                   uiTarget);
            break;
        case 4:
            rc = ukoReltmrFindShow(handle, static_cast<uint32_t>(uvP2), uvP3, uiTarget);
            break;
        case 5:
            rc = ukoReltmrDetailShow(reinterpret_cast<UKO_ReltmrCb*>(static_cast<uintptr_t>(uvP1)),
                                     uiTarget);
            break;
        case 6:
            rc = ukoReltmrCbkShow(handle, uiTarget);
            break;
        case 7:
            (void)UKO_ShowPrint(uiTarget,
                                "\r\n The debug package is not install or the ReltmrTraceSwitch switch is "
                                "off, try : set reltimer trace switch 1.");
            break;
        case 8:
            (void)UKO_ShowPrint(uiTarget,
                                "\r\n The debug package is not install or the "
                                "uko_reltmrdbg.ReltmrMonSwitch switch is off.");
            break;
        default:
            rc = 1;
            break;
    }
    if (rc != 0) {
        HelpShow(uiTarget);
    }
    (void)UKO_ShowPrint(uiTarget, "\r\n%s\r\n", kStars80);
    return 0;
}

uint32_t ukoReltmrUsageShow(uint32_t uiTarget) {
    (void)UKO_ShowPrint(uiTarget, "\r\n%s\r\n", kStars60);
    (void)UKO_ShowPrint(uiTarget, "     PID:           Total Used Timer: \r\n");
    (void)UKO_ShowPrint(uiTarget, "%s\r\n", kDashes60);
    uint32_t maxHandle = 0;
    (void)UKO_HandleMaxNumGet(&maxHandle);
    uint32_t rc = 0;
    if (maxHandle == 0) {
        (void)UKO_ShowPrint(uiTarget, kMaxHandleNull);
        rc = UKO_EINVAL;
    } else if (maxHandle != UKO_HANDLE_NONE) {
        struct Entry {
            uint32_t uiHandle;
            uint32_t uiNum;
        };
        auto* entries = static_cast<Entry*>(
            UKO_MemAlloc(0, m_ucSysPtNo, static_cast<uint64_t>(maxHandle + 1) * sizeof(Entry)));
        if (entries == nullptr) {
            (void)UKO_ShowPrint(uiTarget, kAllocFail);
            rc = UKO_ENOMEM;
        } else {
            uint32_t n = 0;
            ukoRelTmLock();
            for (uint32_t h = 0; h <= maxHandle; ++h) {
                const UKO_RELTMR_HDL_STAT* st = ukoRelTmHdlStatGet(h);
                if (st != nullptr && st->uiNum != 0) {
                    entries[n++] = {h, st->uiNum};
                }
            }
            ukoRelTmUnlock();
            for (uint32_t i = 0; i < n; ++i) {
                (void)UKO_ShowPrint(uiTarget, "%8u                  %10u\r\n", entries[i].uiHandle,
                                    entries[i].uiNum);
            }
            (void)UKO_MemFree(0, entries);
        }
    }
    (void)UKO_ShowPrint(uiTarget, "%s\r\n", kStars60);
    return rc;
}
