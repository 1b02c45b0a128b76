// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace telmar::link {

// Where a program shows a warning box. The call returns once the user has
// dismissed the box.
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void showWarning(std::string_view text, std::string_view caption) = 0;
};

// Where the updater draws one line of text at x 10 and the given y.
class LineSink {
  public:
    virtual ~LineSink() = default;
    virtual void drawStatusLine(std::string_view text, int y) = 0;
};

// Caption of every warning box the link shows.
inline constexpr std::string_view kLinkCaption = " ";

} // namespace telmar::link
