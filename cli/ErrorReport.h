// SPDX-License-Identifier: MIT
#pragma once

#include <span>
#include <streambuf>
#include <string>
#include <vector>

namespace telmar::cli {

// Standard error as the commands write it, passed on unchanged and kept line by line,
// so that a --json run can repeat its failure on standard output as one JSON object.
class TeeLines final : public std::streambuf {
  public:
    explicit TeeLines(std::streambuf* target) : target_(target) {}
    // Every complete line so far, and the unfinished one.
    std::vector<std::string> lines() const;

  protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

  private:
    void keep(char ch);

    std::streambuf* target_;
    std::vector<std::string> lines_;
    std::string open_;
};

// {"error":"...","exit_code":N}: the lines without the program's "telmarctl: ", joined
// by "; "; the exit code's meaning when nothing was said.
std::string errorJson(std::span<const std::string> lines, int exitCode);

} // namespace telmar::cli
