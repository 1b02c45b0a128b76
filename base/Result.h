// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace telmar::base {

// Why something failed, as one line: "what was tried: why it failed". A layer that
// passes a failure on puts its own context in front (docs/ARCHITECTURE.md).
struct Error {
    std::string text;
};

inline Error fail(std::string text) {
    return Error{std::move(text)};
}

// A value, or the Error that stands in its place.
template <typename T> class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error.text)) {}

    explicit operator bool() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const std::string& error() const { return error_; }
    // The failure with the caller's context in front: "context: cause".
    Error context(std::string_view what) const { return fail(std::string(what) + ": " + error_); }

  private:
    std::optional<T> value_;
    std::string error_;
};

} // namespace telmar::base
