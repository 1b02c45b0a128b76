// SPDX-License-Identifier: MIT
#pragma once

// The signal details as the windows and telmarctl show them: sections of rows that a
// front end only paints. Texts are Latin-1 (only a source's names can hold bytes above
// 0x7F); every other text is ASCII.

#include "status/SignalDetails.h"

#include <string>
#include <string_view>
#include <vector>

namespace telmar::status {

struct DetailRow {
    // The field's path in telmarctl's JSON details, e.g. "hdr.max_cll_cd_m2".
    std::string key;
    std::string_view label;
    // With its unit, and the raw code in brackets where the code has a name; for an
    // empty field the code's own meaning ("refer to stream header [0]") or "-".
    std::string value;
    bool hasValue = false;
};

struct DetailsSection {
    std::string_view title; // "Video", "HDR", "Source", "Audio"
    std::vector<DetailRow> rows;
};

struct RawBlockText {
    std::uint8_t number = 0;
    std::string hex; // "E0 00 20 01 04 05 C0", the bytes asked for; "not read" on failure
};

struct DetailsView {
    std::vector<DetailsSection> sections;
    std::vector<RawBlockText> raw;
};

// Every section has the same rows in the same order on every poll, whatever the bytes,
// so a list can be updated in place.
DetailsView detailsView(const SignalDetails& details);

std::string rawHex(const RawBlock& block);

// The keys whose shown value differs; nothing to do when the two are equal.
std::vector<std::string> changedKeys(const SignalDetails& before, const SignalDetails& after);

} // namespace telmar::status
