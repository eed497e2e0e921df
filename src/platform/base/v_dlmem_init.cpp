// Registration of the algorithm's table with the partitions' registry. It lives apart
// from the algorithm so that the algorithm links on its own, without the partition
// layer; only a program that calls DLM_Init needs the registry.

#include "uko_mempt.h"
#include "v_dlmem.h"
#include "v_dlmem_inner.h"

uint32_t DLM_Init(void) {
    g_uiDlmPageSize = 8192;
    g_uiDlmSliceLimit = 1024;
    uint32_t rc = UKO_MemAlgoReg("DLM", &g_stDlmMemAlgoOps);
    // A table already registered under the name is as good as a fresh registration.
    return rc == UKO_MEMPT_ERR_ALGO_EXIST ? 0 : rc;
}
