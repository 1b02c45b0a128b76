// SPDX-License-Identifier: MIT
#include "backends/TraceFormat.h"

#include "base/Log.h"
#include "base/Printable.h"

#include <algorithm>
#include <array>
#include <concepts>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <type_traits>
#include <variant>

namespace telmar::backends {

namespace {

constexpr std::array<std::string_view, 10> kCallNames = {
    "getNumDevices", "getDeviceString", "open",        "close",       "read",
    "write",         "flush",           "setTimeouts", "getTimeouts", "checkRxQueue",
};

using Json = nlohmann::ordered_json;

// Strings are 8-bit: each byte is the character of the same number, so bytes outside
// printable ASCII are written as \u00XX.
std::string line(const Json& object) {
    return object.dump(-1, ' ', true);
}

// Input echoed in an error, kept short and harmless.
std::string shown(std::string_view text) {
    return '"' + base::printable(text, 40) + '"';
}

// Typed access to one object's fields, remembering the first problem.
class Fields {
  public:
    explicit Fields(const Json& object) : object_(object) {}

    template <typename T> bool number(const char* key, T& out, bool required = true) {
        const auto it = object_.find(key);
        if (it == object_.end()) {
            return !required || problem(key, "missing");
        }
        if (it->is_number() && !it->is_number_unsigned()) {
            return bad(key);
        }
        if (!it->is_number_unsigned() ||
            it->get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) {
            return problem(key, "is not a number in range");
        }
        out = static_cast<T>(it->get<std::uint64_t>());
        return true;
    }
    bool text(const char* key, std::string& out, bool required = true) {
        const auto it = object_.find(key);
        if (it == object_.end()) {
            return !required || problem(key, "missing");
        }
        if (!it->is_string()) {
            return problem(key, "is not a string");
        }
        auto bytes = base::utf8ToLatin1(it->get_ref<const std::string&>());
        if (!bytes) {
            return bad(key);
        }
        out = std::move(*bytes);
        return true;
    }
    bool flag(const char* key, bool& out) {
        const auto it = object_.find(key);
        if (it == object_.end()) {
            return true;
        }
        if (!it->is_boolean()) {
            return problem(key, "is not true or false");
        }
        out = it->get<bool>();
        return true;
    }
    bool bytes(const char* key, std::vector<std::uint8_t>& out) {
        std::string hex;
        if (!text(key, hex)) {
            return false;
        }
        auto decoded = base::fromHex(hex, true);
        if (!decoded) {
            return problem(key, "is not hexadecimal bytes");
        }
        if (decoded->size() > kMaxEntryBytes) {
            return problem(key, "is too long");
        }
        out = std::move(*decoded);
        return true;
    }
    // One field of an entry, by the type of the member it fills.
    template <std::integral T> bool get(const char* key, T& out) { return number(key, out); }
    bool get(const char* key, std::string& out) { return text(key, out); }
    bool get(const char* key, std::vector<std::uint8_t>& out) { return bytes(key, out); }
    const std::string& error() const { return error_; }

  private:
    bool bad(std::string_view key) {
        return problem({}, "bad value for \"" + std::string(key) + '"');
    }
    bool problem(std::string_view key, std::string_view what) {
        if (error_.empty()) {
            error_ = key.empty() ? std::string(what)
                                 : '"' + std::string(key) + "\" " + std::string(what);
        }
        return false;
    }

    const Json& object_;
    std::string error_;
};

// One line as a flat JSON object; a key given twice is refused, not overwritten.
base::Result<Json> parseObject(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || text[first] != '{') {
        return base::fail("expected '{'");
    }
    std::set<std::string, std::less<>> keys;
    std::string twice;
    const auto noteKey = [&](int depth, Json::parse_event_t event, Json& parsed) {
        if (depth == 1 && event == Json::parse_event_t::key && twice.empty() &&
            !keys.insert(parsed.get<std::string>()).second) {
            twice = parsed.get<std::string>();
        }
        return true;
    };
    try {
        Json object = Json::parse(text, noteKey);
        if (!twice.empty()) {
            return base::fail(shown(twice) + " given twice");
        }
        return object;
    } catch (const Json::parse_error& e) {
        if (std::string_view(e.what()).find("; expected end of input") != std::string_view::npos) {
            return base::fail("text after the object");
        }
        return base::fail("expected a JSON object; it breaks off at byte " +
                          std::to_string(e.byte));
    } catch (const Json::exception&) {
        // A number no double holds (1e400) is the library's out_of_range, not a
        // parse_error; it is as unreadable as any other line.
        return base::fail("a number out of range");
    }
}

// The fields of each call after "t" and "call", in the order they are written: its
// arguments, then its results from "status" on. An error text follows when there is one.
using E = TraceEntry;
struct Slot {
    const char* key;
    std::variant<std::uint32_t E::*, usb::Handle E::*, std::uint8_t E::*, std::string E::*,
                 std::vector<std::uint8_t> E::*>
        member;
};
const std::vector<Slot> kFields[] = {
    {{"status", &E::status}, {"devices", &E::number}},
    {{"index", &E::index}, {"option", &E::option}, {"status", &E::status}, {"string", &E::text}},
    {{"index", &E::index}, {"status", &E::status}, {"handle", &E::handle}},
    {{"handle", &E::handle}, {"status", &E::status}},
    {{"handle", &E::handle},
     {"count", &E::count},
     {"status", &E::status},
     {"read", &E::number},
     {"data", &E::bytes}},
    {{"handle", &E::handle}, {"data", &E::bytes}, {"status", &E::status}, {"written", &E::number}},
    {{"handle", &E::handle},
     {"tx", &E::flushTransmit},
     {"rx", &E::flushReceive},
     {"status", &E::status}},
    {{"readMs", &E::readMs}, {"writeMs", &E::writeMs}, {"status", &E::status}},
    {{"status", &E::status}, {"readMs", &E::readMs}, {"writeMs", &E::writeMs}},
    {{"handle", &E::handle},
     {"status", &E::status},
     {"queued", &E::number},
     {"queueStatus", &E::queueStatus}},
};

// The arguments of a call are the fields before its "status", the results the rest.
bool sameFields(const TraceEntry& a, const TraceEntry& b, bool arguments) {
    bool inArguments = true;
    for (const Slot& slot : kFields[static_cast<std::size_t>(a.call)]) {
        inArguments = inArguments && std::string_view(slot.key) != "status";
        if (inArguments == arguments &&
            !std::visit([&](auto member) { return a.*member == b.*member; }, slot.member)) {
            return false;
        }
    }
    return true;
}

Json toJson(std::uint64_t n) {
    return n;
}
Json toJson(const std::string& latin1) {
    return base::latin1ToUtf8(latin1);
}
Json toJson(const std::vector<std::uint8_t>& bytes) {
    return base::hexBytes(bytes);
}

bool readHeader(const Json& object, TraceHeader& header, std::string& error) {
    Fields f(object);
    std::string format;
    if (!f.text("format", format) || format != kTraceFormatName) {
        error = "not a telmar USB trace (the first line must name \"" +
                std::string(kTraceFormatName) + "\")";
        return false;
    }
    if (!f.number("version", header.version)) {
        error = f.error();
        return false;
    }
    if (header.version != kTraceFormatVersion) {
        error = "trace format version " + std::to_string(header.version) +
                " is not supported (this build reads version " +
                std::to_string(kTraceFormatVersion) + ")";
        return false;
    }
    if (!f.text("program", header.program, false) || !f.text("backend", header.backend, false) ||
        !f.text("started", header.started, false) || !f.flag("simulatedBox", header.simulatedBox)) {
        error = f.error();
        return false;
    }
    return true;
}

bool readEntry(const Json& object, TraceEntry& e, std::string& error) {
    Fields f(object);
    std::string name;
    if (!f.text("call", name)) {
        error = f.error();
        return false;
    }
    const auto known = std::ranges::find(kCallNames, name);
    if (known == kCallNames.end()) {
        error = "unknown call " + shown(name);
        return false;
    }
    e.call = static_cast<DriverCall>(known - kCallNames.begin());
    bool ok = f.number("t", e.atMs) && f.text("error", e.error, false);
    for (const Slot& slot : kFields[static_cast<std::size_t>(e.call)]) {
        ok = ok && std::visit([&](auto member) { return f.get(slot.key, e.*member); }, slot.member);
    }
    if (e.call == DriverCall::CheckRxQueue) {
        ok = ok && f.number("repeat", e.repeat, false) && f.number("spanMs", e.spanMs, false);
    }
    e.count = e.call == DriverCall::Write ? static_cast<std::uint32_t>(e.bytes.size()) : e.count;
    if (ok && e.text.size() >= usb::kDeviceStringSize) {
        error = "\"string\" is longer than a device string can be";
        return false;
    }
    if (ok && e.bytes.size() > e.count) {
        error = "\"data\" holds more bytes than \"count\" asked for";
        return false;
    }
    if (ok && e.repeat == 0) {
        error = "\"repeat\" must be at least 1";
        return false;
    }
    // Written back only with a repeat above 1, so accepted only with one.
    if (ok && e.spanMs != 0 && e.repeat == 1) {
        error = "\"spanMs\" needs a \"repeat\" above 1";
        return false;
    }
    if (!ok) {
        error = f.error();
    }
    return ok;
}

std::string handleText(usb::Handle handle) {
    if (handle == usb::kNoHandle) {
        return "none";
    }
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(handle));
    return text;
}

// How the log labels a field's value; a field not listed shows its value alone.
struct Label {
    std::string_view key;
    const char* before;
    const char* after;
};
constexpr Label kLabels[] = {
    {"index", "index ", ""},     {"option", "option ", ""},  {"handle", "handle ", ""},
    {"count", "", " bytes"},     {"readMs", "read ", " ms"}, {"writeMs", "write ", " ms"},
    {"devices", "", " devices"}, {"read", "", " read"},      {"written", "", " written"},
    {"queued", "", " queued"},
};

// The arguments of a call, or its results after the status, appended to `text` as the
// log shows them: "handle 0x1, 64 bytes". The queue status is not shown.
std::string describeFields(const TraceEntry& e, bool arguments, std::string text) {
    bool inArguments = true;
    for (const Slot& slot : kFields[static_cast<std::size_t>(e.call)]) {
        const std::string_view key = slot.key;
        inArguments = inArguments && key != "status";
        if (inArguments != arguments || key == "status" || key == "queueStatus") {
            continue;
        }
        const std::string value = std::visit(
            [&](auto member) -> std::string {
                const auto& v = e.*member;
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, usb::Handle>) {
                    return handleText(v);
                } else if constexpr (std::is_same_v<T, std::string>) {
                    return '"' + base::printable(v, usb::kDeviceStringSize) + '"';
                } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
                    return base::hexBytes(v);
                } else {
                    return std::to_string(v);
                }
            },
            slot.member);
        // A read's bytes follow its count: "5 read: 01 02".
        text += text.empty() ? "" : key == "data" && !arguments ? ": " : ", ";
        const auto label = std::ranges::find(kLabels, key, &Label::key);
        text += label == std::end(kLabels) ? value : label->before + value + label->after;
    }
    return text;
}

} // namespace

std::string_view callName(DriverCall call) {
    return kCallNames[static_cast<std::size_t>(call)];
}

bool sameCall(const TraceEntry& a, const TraceEntry& b) {
    return a.call == b.call && sameFields(a, b, true);
}

bool sameResult(const TraceEntry& a, const TraceEntry& b) {
    return sameFields(a, b, false);
}

std::string describeCall(const TraceEntry& e) {
    return std::string(callName(e.call)) + "(" + describeFields(e, true, {}) + ")";
}

std::string describeResult(const TraceEntry& e) {
    std::string text = describeFields(e, false, "-> status " + std::to_string(e.status));
    if (e.repeat > 1) {
        text += ", " + std::to_string(e.repeat) + " times in " + std::to_string(e.spanMs) + " ms";
    }
    if (!e.error.empty()) {
        text += " (" + base::printable(e.error, 200) + ")";
    }
    return text;
}

std::string formatHeader(const TraceHeader& h) {
    Json j;
    j["format"] = kTraceFormatName;
    j["version"] = h.version;
    j["program"] = base::latin1ToUtf8(h.program);
    j["backend"] = base::latin1ToUtf8(h.backend);
    j["started"] = base::latin1ToUtf8(h.started);
    j["simulatedBox"] = h.simulatedBox;
    return line(j);
}

std::string formatEntry(const TraceEntry& e) {
    Json j;
    j["t"] = e.atMs;
    j["call"] = callName(e.call);
    for (const Slot& slot : kFields[static_cast<std::size_t>(e.call)]) {
        std::visit([&](auto member) { j[slot.key] = toJson(e.*member); }, slot.member);
    }
    if (e.repeat > 1) {
        j["repeat"] = e.repeat;
        j["spanMs"] = e.spanMs;
    }
    if (!e.error.empty()) {
        j["error"] = base::latin1ToUtf8(e.error);
    }
    return line(j);
}

bool TraceParser::take(std::string_view text) {
    if (!error_.empty()) {
        return false;
    }
    ++lineNumber_;
    const auto fail = [&](const std::string& what) {
        error_ = "line " + std::to_string(lineNumber_) + ": " + what;
        return false;
    };
    if (text.size() > kMaxTraceLine) {
        return fail("line too long");
    }
    if (text.find_first_not_of(" \t\r") == std::string_view::npos) {
        return true; // blank lines, e.g. a final newline
    }
    auto object = parseObject(text);
    if (!object) {
        return fail(object.error());
    }
    std::string what;
    if (!haveHeader_) {
        haveHeader_ = readHeader(*object, trace_.header, what);
        return haveHeader_ || fail(what);
    }
    if (trace_.entries.size() >= kMaxTraceEntries) {
        return fail("too many entries");
    }
    TraceEntry entry;
    if (!readEntry(*object, entry, what)) {
        return fail(what);
    }
    trace_.entries.push_back(std::move(entry));
    return true;
}

base::Result<Trace> TraceParser::finish() {
    if (error_.empty() && !haveHeader_) {
        error_ = "empty trace: no header line";
    }
    if (!error_.empty()) {
        return base::fail(error_);
    }
    return std::move(trace_);
}

base::Result<Trace> parseTrace(std::string_view text) {
    TraceParser parser;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (!parser.take(text.substr(0, end))) {
            break;
        }
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return parser.finish();
}

base::Result<Trace> readTrace(std::FILE* file) {
    const auto tooLarge = base::fail("larger than " + std::to_string(kMaxTraceBytes >> 20) +
                                     " MiB, more than a trace may be");
    // A file known to be too large is refused before a byte of it is read.
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        std::rewind(file);
        if (size > 0 && static_cast<std::size_t>(size) > kMaxTraceBytes) {
            return tooLarge;
        }
    }
    TraceParser parser;
    std::string pending;
    std::vector<char> chunk(64 * 1024);
    std::size_t total = 0;
    while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), file)) {
        total += n;
        if (total > kMaxTraceBytes) {
            return tooLarge;
        }
        std::string_view rest(chunk.data(), n);
        for (auto end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
            pending.append(rest.substr(0, end));
            if (!parser.take(pending)) {
                return parser.finish();
            }
            pending.clear();
            rest.remove_prefix(end + 1);
        }
        pending.append(rest);
        if (pending.size() > kMaxTraceLine) {
            parser.take(pending);
            return parser.finish();
        }
    }
    if (std::ferror(file)) {
        return base::fail("cannot be read");
    }
    parser.take(pending);
    return parser.finish();
}

} // namespace telmar::backends
