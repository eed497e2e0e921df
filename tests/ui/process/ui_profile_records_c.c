/* The record header as a C translation unit: its layouts and their size and offset
 * checks must hold for a C compiler too, so this file only has to build. */

#include "ui_profile_records.h"

UI_PROFILE_RECORD_ASSERT(sizeof(CFM_SYSCONFIG_S) ==
                             offsetof(CFM_SYSCONFIG_S, Sessions) +
                                 UI_SESSION_ENTRY_MAX * sizeof(CFM_SESSION_S),
                         "the session entries end the system configuration");
