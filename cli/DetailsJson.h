// SPDX-License-Identifier: MIT
#pragma once

// The signal details in `--json status`, as docs/telmarctl-status.schema.json writes
// them down: bare typed values, names for enumerations, numbers for codes, null for
// what the signal does not carry.

#include "cli/Text.h"
#include "status/SignalDetails.h"

#include <string>
#include <vector>

namespace telmar::cli {

// {"video": ..., "hdr": ..., "source": ..., "audio": ...}; a section whose block could
// not be read is null.
JsonValue detailsJson(const status::SignalDetails& details);

// {"11": "E0 00 ...", ..., "15": ...}: the bytes asked for, null for a failed read.
JsonValue rawJson(const status::SignalDetails& details);

// The dotted paths ("details.hdr.max_cll_cd_m2") of the values that differ: the
// deepest object member that differs; a list, or a member that comes or goes, by its
// own path. Empty when the two are equal.
std::vector<std::string> changedPaths(const JsonValue& before, const JsonValue& after);

} // namespace telmar::cli
