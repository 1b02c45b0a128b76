// SPDX-License-Identifier: MIT
// The daemon's wire format: hex both ways, words, and lines cut anywhere into chunks,
// each against a plain model of what it must give.

#include "sim/Wire.h"
#include "tests/fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using namespace telmar;

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);

    // Bytes to hex and back are the same bytes; hex that parses prints back as itself.
    const std::vector<std::uint8_t> bytes(data, data + size);
    FUZZ_CHECK(sim::fromHex(sim::toHex(bytes)) == bytes);
    if (const auto parsed = sim::fromHex(raw)) {
        std::string upper = raw;
        for (auto& c : upper) {
            c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 32 : c);
        }
        FUZZ_CHECK(sim::toHex(*parsed) == upper);
    }

    // Words hold no blanks and are what is left when the blanks are taken out.
    std::string joined;
    for (const auto& word : sim::splitWords(raw)) {
        FUZZ_CHECK(!word.empty());
        for (char c : word) {
            FUZZ_CHECK(!blank(c));
        }
        joined += word;
    }
    std::string unblanked;
    for (char c : raw) {
        if (!blank(c)) {
            unblanked += c;
        }
    }
    FUZZ_CHECK(joined == unblanked);

    // Lines come out whole and in order however the stream is cut.
    FuzzedDataProvider in(data, size);
    const std::string text = in.ConsumeRandomLengthString(size);
    std::vector<std::string> expected;
    std::size_t start = 0;
    for (auto nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
        expected.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    sim::LineBuffer buffer;
    std::vector<std::string> got;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto n =
            std::min<std::size_t>(text.size() - at, in.ConsumeIntegralInRange<std::size_t>(1, 64));
        buffer.append(text.data() + at, n);
        at += n;
        if (in.ConsumeBool()) {
            while (auto line = buffer.next()) {
                got.push_back(*line);
            }
        }
    }
    while (auto line = buffer.next()) {
        got.push_back(*line);
    }
    FUZZ_CHECK(!buffer.overflowed());
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(buffer.takeRest() == text.substr(start));
    return 0;
}
