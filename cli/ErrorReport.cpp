// SPDX-License-Identifier: MIT
#include "cli/ErrorReport.h"

#include "cli/Options.h"
#include "cli/Text.h"

#include <string_view>

namespace telmar::cli {

namespace {
// A script reads the error, not a terminal: one value of bounded size.
constexpr std::size_t kMaxErrorBytes = 4096;
} // namespace

std::vector<std::string> TeeLines::lines() const {
    std::vector<std::string> all = lines_;
    if (!open_.empty()) {
        all.push_back(open_);
    }
    return all;
}

TeeLines::int_type TeeLines::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof())) {
        return traits_type::not_eof(ch);
    }
    keep(traits_type::to_char_type(ch));
    return target_->sputc(traits_type::to_char_type(ch));
}

std::streamsize TeeLines::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i) {
        keep(text[i]);
    }
    return target_->sputn(text, count);
}

int TeeLines::sync() {
    return target_->pubsync();
}

void TeeLines::keep(char ch) {
    if (ch == '\n') {
        lines_.push_back(std::move(open_));
        open_.clear();
    } else if (open_.size() < kMaxErrorBytes) {
        open_ += ch;
    }
}

std::string errorJson(std::span<const std::string> lines, int exitCode) {
    constexpr std::string_view kPrefix = "telmarctl: ";
    std::string text;
    for (std::string_view line : lines) {
        if (line.substr(0, kPrefix.size()) == kPrefix) {
            line.remove_prefix(kPrefix.size());
        }
        if (!line.empty() && text.size() < kMaxErrorBytes) {
            appendJoined(text, "; ", line);
        }
    }
    if (text.empty()) {
        text = exitCode == kExitUsage   ? "usage error"
               : exitCode == kExitNoBox ? "no box found"
                                        : "the operation failed";
    }
    // The lines were made for a UTF-8 terminal; jsonLine replaces what is not UTF-8.
    return jsonLine({{"error", text}, {"exit_code", exitCode}});
}

} // namespace telmar::cli
