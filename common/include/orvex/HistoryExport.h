// Export and import macro of the plug-in library (orvex_history): exports while the plug-in's own
// sources are built (ORVEX_BUILDING_HISTORY), imports in a host that links the exported classes.
#pragma once

#include "orvex/Export.h"

#if defined(ORVEX_BUILDING_HISTORY)
#define ORVEX_HISTORY_API ORVEX_DECL_EXPORT
#else
#define ORVEX_HISTORY_API ORVEX_DECL_IMPORT
#endif
