// The plug-in callbacks the browser reaches through its NPPluginFuncs.
#pragma once

#include "np_types.h"

namespace zv::npzorvex {

// Writes the version and the callbacks into a table already known to be
// long enough for them; the entries the plug-in does not provide are
// cleared where the declared size covers them.
void FillPluginFuncs(NPPluginFuncs& table);

// The entries of browsers of minor version 9 on (URL notification).
void AddNotificationEntries(NPPluginFuncs& table);

// The shortest table the two functions above write into.
inline constexpr size_t kWrittenTableSize = offsetof(NPPluginFuncs, getvalue);

}  // namespace zv::npzorvex
