#include "uko_errcode.h"

namespace {

struct ModuleRow {
    uint16_t id;
    const char* source;
};

constexpr ModuleRow kModules[] = {
#define UKO_MID_TABLE_ROW(name, id, source) {id, source},
    UKO_MODULE_ID_TABLE(UKO_MID_TABLE_ROW)
#undef UKO_MID_TABLE_ROW
};

}  // namespace

const char* UKO_ModuleSourceName(uint16_t moduleId) {
    for (const ModuleRow& row : kModules) {
        if (row.id == moduleId) {
            return row.source;
        }
    }
    return nullptr;
}

UKO_ERR_SPLIT UKO_ErrCodeSplit(UKO_ERRCODE code, uint16_t reportingModuleId) {
    UKO_ERR_SPLIT split;
    split.usModuleId = UKO_ErrCodeModule(code);
    if (split.usModuleId == 0) {
        split.usModuleId = reportingModuleId;
    }
    split.usOwnCode = UKO_ErrCodeOwn(code);
    return split;
}
