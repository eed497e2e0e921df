#pragma once
// The service link's public headers, for the Qt sources. They include this header and
// never a "ui_*.h" of the link directly: the form compiler's scan of the Qt sources takes
// every included "ui_<name>.h" for the header of a form "<name>.ui" and stops the build
// when there is none. Headers of this folder are not scanned.

#include "ui_auth.h"
#include "ui_cfm.h"
#include "ui_connect.h"
#include "ui_env.h"
#include "ui_https.h"
#include "ui_language.h"
#include "ui_ipsec.h"
#include "ui_loginitem.h"
#include "ui_packet.h"
#include "ui_plugin.h"
#include "ui_pref.h"
#include "ui_profile_records.h"
#include "ui_proxy.h"
#include "ui_startup.h"
#include "ui_sysinfo.h"
#include "ui_update.h"
#include "ui_urgent.h"
