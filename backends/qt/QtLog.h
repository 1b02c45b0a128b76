// SPDX-License-Identifier: MIT
#pragma once

#include "base/Log.h"

#include <QtCore/QLoggingCategory>

namespace telmar::backends {

// The category of one log area: telmar.usb, telmar.link, telmar.backend,
// telmar.updater, telmar.panel. Their debug messages are off by default.
const QLoggingCategory& logCategory(base::LogArea area);

// Binds the debug log to those categories, for the Qt programs. TELMAR_DEBUG=1
// turns every category on; QT_LOGGING_RULES can pick some and wins over it. Lines
// carry a millisecond time stamp unless QT_MESSAGE_PATTERN says otherwise.
void installQtLog();

} // namespace telmar::backends
