// SPDX-License-Identifier: MIT
#include "backends/TraceFormat.h"

#include "base/Log.h"
#include "base/Numbers.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <variant>

namespace telmar::backends {

namespace {

constexpr std::array<std::string_view, 10> kCallNames = {
    "getNumDevices", "getDeviceString", "open",        "close",       "read",
    "write",         "flush",           "setTimeouts", "getTimeouts", "checkRxQueue",
};

// Strings are 8-bit; bytes outside printable ASCII travel as \u00XX.
void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

class ObjectWriter {
  public:
    ObjectWriter& number(std::string_view key, std::uint64_t value) {
        start(key);
        out_ += std::to_string(value);
        return *this;
    }
    ObjectWriter& text(std::string_view key, std::string_view value) {
        start(key);
        appendJsonString(out_, value);
        return *this;
    }
    ObjectWriter& flag(std::string_view key, bool value) {
        start(key);
        out_ += value ? "true" : "false";
        return *this;
    }
    std::string done() { return out_ + '}'; }

  private:
    void start(std::string_view key) {
        out_ += out_.size() > 1 ? "," : "";
        appendJsonString(out_, key);
        out_ += ':';
    }
    std::string out_ = "{";
};

// A flat JSON object: string, non-negative integer and boolean values only.
using Value = std::variant<std::string, std::uint64_t, bool>;
using Object = std::map<std::string, Value, std::less<>>;

class LineParser {
  public:
    explicit LineParser(std::string_view text) : s_(text) {}

    bool parse(Object& object, std::string& error) {
        skipBlanks();
        if (!take('{')) {
            return fail(error, "expected '{'");
        }
        skipBlanks();
        if (take('}')) {
            return end(error);
        }
        while (true) {
            std::string key;
            skipBlanks();
            if (!string(key)) {
                return fail(error, "expected a quoted key");
            }
            skipBlanks();
            if (!take(':')) {
                return fail(error, "expected ':' after \"" + key + "\"");
            }
            skipBlanks();
            Value value;
            if (!this->value(value)) {
                return fail(error, "bad value for \"" + key + "\"");
            }
            if (!object.emplace(key, std::move(value)).second) {
                return fail(error, "\"" + key + "\" given twice");
            }
            skipBlanks();
            if (take('}')) {
                return end(error);
            }
            if (!take(',')) {
                return fail(error, "expected ',' or '}'");
            }
        }
    }

  private:
    bool end(std::string& error) {
        skipBlanks();
        return pos_ == s_.size() || fail(error, "text after the object");
    }
    bool fail(std::string& error, std::string what) {
        error = std::move(what);
        return false;
    }
    void skipBlanks() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool take(char c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) == word) {
            pos_ += word.size();
            return true;
        }
        return false;
    }
    bool value(Value& out) {
        if (pos_ >= s_.size()) {
            return false;
        }
        if (s_[pos_] == '"') {
            std::string text;
            if (!string(text)) {
                return false;
            }
            out = std::move(text);
            return true;
        }
        if (literal("true")) {
            out = true;
            return true;
        }
        if (literal("false")) {
            out = false;
            return true;
        }
        std::uint64_t n = 0;
        const char* first = s_.data() + pos_;
        const char* last = s_.data() + s_.size();
        const auto [ptr, ec] = std::from_chars(first, last, n);
        if (ec != std::errc{} || ptr == first || (*first == '0' && ptr - first > 1)) {
            return false;
        }
        pos_ += static_cast<std::size_t>(ptr - first);
        out = n;
        return true;
    }
    bool string(std::string& out) {
        if (!take('"')) {
            return false;
        }
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size()) {
                return false;
            }
            const char e = s_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                if (pos_ + 4 > s_.size()) {
                    return false;
                }
                // Only the 8-bit bytes the writer escapes.
                const auto code = base::parseNumber<std::uint8_t>(s_.substr(pos_, 4), 0xFF, 16);
                pos_ += 4;
                if (!code) {
                    return false;
                }
                out += static_cast<char>(*code);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

// Typed access to one object's fields, remembering the first problem.
class Fields {
  public:
    explicit Fields(const Object& object) : object_(object) {}

    template <typename T> bool number(std::string_view key, T& out, bool required = true) {
        const auto it = object_.find(key);
        if (it == object_.end()) {
            return !required || missing(key);
        }
        const auto* n = std::get_if<std::uint64_t>(&it->second);
        if (n == nullptr || *n > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) {
            return problem(key, "is not a number in range");
        }
        out = static_cast<T>(*n);
        return true;
    }
    bool text(std::string_view key, std::string& out, bool required = true) {
        const auto it = object_.find(key);
        if (it == object_.end()) {
            return !required || missing(key);
        }
        const auto* s = std::get_if<std::string>(&it->second);
        if (s == nullptr) {
            return problem(key, "is not a string");
        }
        out = *s;
        return true;
    }
    bool flag(std::string_view key, bool& out) {
        const auto it = object_.find(key);
        if (it == object_.end()) {
            return true;
        }
        const auto* b = std::get_if<bool>(&it->second);
        if (b == nullptr) {
            return problem(key, "is not true or false");
        }
        out = *b;
        return true;
    }
    bool bytes(std::string_view key, std::vector<std::uint8_t>& out) {
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
    const std::string& error() const { return error_; }

  private:
    bool missing(std::string_view key) { return problem(key, "missing"); }
    // Appended piece by piece: one concatenated expression trips a false GCC 12 warning.
    bool problem(std::string_view key, std::string_view what) {
        if (error_.empty()) {
            error_ += '"';
            error_ += key;
            error_ += "\" ";
            error_ += what;
        }
        return false;
    }

    const Object& object_;
    std::string error_;
};

bool readHeader(const Object& object, TraceHeader& header, std::string& error) {
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

bool readEntry(const Object& object, TraceEntry& e, std::string& error) {
    Fields f(object);
    std::string name;
    if (!f.text("call", name)) {
        error = f.error();
        return false;
    }
    bool known = false;
    for (std::size_t i = 0; i < kCallNames.size(); ++i) {
        if (kCallNames[i] == name) {
            e.call = static_cast<DriverCall>(i);
            known = true;
        }
    }
    if (!known) {
        error = "unknown call \"" + name + "\"";
        return false;
    }
    bool ok =
        f.number("t", e.atMs) && f.number("status", e.status) && f.text("error", e.error, false);
    switch (e.call) {
    case DriverCall::GetNumDevices:
        ok = ok && f.number("devices", e.number);
        break;
    case DriverCall::GetDeviceString:
        ok = ok && f.number("index", e.index) && f.number("option", e.option) &&
             f.text("string", e.text);
        if (ok && e.text.size() >= usb::kDeviceStringSize) {
            error = "\"string\" is longer than a device string can be";
            return false;
        }
        break;
    case DriverCall::Open:
        ok = ok && f.number("index", e.index) && f.number("handle", e.handle);
        break;
    case DriverCall::Close:
        ok = ok && f.number("handle", e.handle);
        break;
    case DriverCall::Read:
        ok = ok && f.number("handle", e.handle) && f.number("count", e.count) &&
             f.number("read", e.number) && f.bytes("data", e.bytes);
        if (ok && e.bytes.size() > e.count) {
            error = "\"data\" holds more bytes than \"count\" asked for";
            return false;
        }
        break;
    case DriverCall::Write:
        ok = ok && f.number("handle", e.handle) && f.bytes("data", e.bytes) &&
             f.number("written", e.number);
        e.count = static_cast<std::uint32_t>(e.bytes.size());
        break;
    case DriverCall::Flush:
        ok = ok && f.number("handle", e.handle) && f.number("tx", e.flushTransmit) &&
             f.number("rx", e.flushReceive);
        break;
    case DriverCall::SetTimeouts:
    case DriverCall::GetTimeouts:
        ok = ok && f.number("readMs", e.readMs) && f.number("writeMs", e.writeMs);
        break;
    case DriverCall::CheckRxQueue:
        ok = ok && f.number("handle", e.handle) && f.number("queued", e.number) &&
             f.number("queueStatus", e.queueStatus) && f.number("repeat", e.repeat, false) &&
             f.number("spanMs", e.spanMs, false);
        if (ok && e.repeat == 0) {
            error = "\"repeat\" must be at least 1";
            return false;
        }
        break;
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

} // namespace

std::string_view callName(DriverCall call) {
    return kCallNames[static_cast<std::size_t>(call)];
}

bool sameCall(const TraceEntry& a, const TraceEntry& b) {
    if (a.call != b.call) {
        return false;
    }
    switch (a.call) {
    case DriverCall::GetNumDevices:
    case DriverCall::GetTimeouts:
        return true;
    case DriverCall::GetDeviceString:
        return a.index == b.index && a.option == b.option;
    case DriverCall::Open:
        return a.index == b.index;
    case DriverCall::Close:
    case DriverCall::CheckRxQueue:
        return a.handle == b.handle;
    case DriverCall::Read:
        return a.handle == b.handle && a.count == b.count;
    case DriverCall::Write:
        return a.handle == b.handle && a.bytes == b.bytes;
    case DriverCall::Flush:
        return a.handle == b.handle && a.flushTransmit == b.flushTransmit &&
               a.flushReceive == b.flushReceive;
    case DriverCall::SetTimeouts:
        return a.readMs == b.readMs && a.writeMs == b.writeMs;
    }
    return false;
}

bool sameResult(const TraceEntry& a, const TraceEntry& b) {
    if (a.status != b.status || a.number != b.number) {
        return false;
    }
    switch (a.call) {
    case DriverCall::GetDeviceString:
        return a.text == b.text;
    case DriverCall::Open:
        return a.handle == b.handle;
    case DriverCall::Read:
        return a.bytes == b.bytes;
    case DriverCall::GetTimeouts:
        return a.readMs == b.readMs && a.writeMs == b.writeMs;
    case DriverCall::CheckRxQueue:
        return a.queueStatus == b.queueStatus;
    default:
        return true;
    }
}

std::string describeCall(const TraceEntry& e) {
    std::string args;
    switch (e.call) {
    case DriverCall::GetNumDevices:
    case DriverCall::GetTimeouts:
        break;
    case DriverCall::GetDeviceString:
        args = "index " + std::to_string(e.index) + ", option " + std::to_string(e.option);
        break;
    case DriverCall::Open:
        args = "index " + std::to_string(e.index);
        break;
    case DriverCall::Close:
    case DriverCall::CheckRxQueue:
        args = "handle " + handleText(e.handle);
        break;
    case DriverCall::Read:
        args = "handle " + handleText(e.handle) + ", " + std::to_string(e.count) + " bytes";
        break;
    case DriverCall::Write:
        args = "handle " + handleText(e.handle) + ", " + base::hexBytes(e.bytes);
        break;
    case DriverCall::Flush:
        args = "handle " + handleText(e.handle) + ", " + std::to_string(e.flushTransmit) + ", " +
               std::to_string(e.flushReceive);
        break;
    case DriverCall::SetTimeouts:
        args =
            "read " + std::to_string(e.readMs) + " ms, write " + std::to_string(e.writeMs) + " ms";
        break;
    }
    return std::string(callName(e.call)) + "(" + args + ")";
}

std::string describeResult(const TraceEntry& e) {
    std::string text = "-> status " + std::to_string(e.status);
    switch (e.call) {
    case DriverCall::GetNumDevices:
        text += ", " + std::to_string(e.number) + " devices";
        break;
    case DriverCall::GetDeviceString:
        text += ", \"" + e.text + "\"";
        break;
    case DriverCall::Open:
        text += ", handle " + handleText(e.handle);
        break;
    case DriverCall::Read:
        text += ", " + std::to_string(e.number) + " read: " + base::hexBytes(e.bytes);
        break;
    case DriverCall::Write:
        text += ", " + std::to_string(e.number) + " written";
        break;
    case DriverCall::GetTimeouts:
        text += ", read " + std::to_string(e.readMs) + " ms, write " + std::to_string(e.writeMs) +
                " ms";
        break;
    case DriverCall::CheckRxQueue:
        text += ", " + std::to_string(e.number) + " queued";
        if (e.repeat > 1) {
            text +=
                ", " + std::to_string(e.repeat) + " times in " + std::to_string(e.spanMs) + " ms";
        }
        break;
    default:
        break;
    }
    if (!e.error.empty()) {
        text += " (" + e.error + ")";
    }
    return text;
}

std::string formatHeader(const TraceHeader& h) {
    return ObjectWriter()
        .text("format", kTraceFormatName)
        .number("version", static_cast<std::uint64_t>(h.version))
        .text("program", h.program)
        .text("backend", h.backend)
        .text("started", h.started)
        .flag("simulatedBox", h.simulatedBox)
        .done();
}

std::string formatEntry(const TraceEntry& e) {
    ObjectWriter w;
    w.number("t", e.atMs).text("call", callName(e.call));
    switch (e.call) {
    case DriverCall::GetNumDevices:
        w.number("status", e.status).number("devices", e.number);
        break;
    case DriverCall::GetDeviceString:
        w.number("index", e.index).number("option", e.option).number("status", e.status);
        w.text("string", e.text);
        break;
    case DriverCall::Open:
        w.number("index", e.index).number("status", e.status).number("handle", e.handle);
        break;
    case DriverCall::Close:
        w.number("handle", e.handle).number("status", e.status);
        break;
    case DriverCall::Read:
        w.number("handle", e.handle).number("count", e.count).number("status", e.status);
        w.number("read", e.number).text("data", base::hexBytes(e.bytes));
        break;
    case DriverCall::Write:
        w.number("handle", e.handle).text("data", base::hexBytes(e.bytes));
        w.number("status", e.status).number("written", e.number);
        break;
    case DriverCall::Flush:
        w.number("handle", e.handle).number("tx", e.flushTransmit).number("rx", e.flushReceive);
        w.number("status", e.status);
        break;
    case DriverCall::SetTimeouts:
        w.number("readMs", e.readMs).number("writeMs", e.writeMs).number("status", e.status);
        break;
    case DriverCall::GetTimeouts:
        w.number("status", e.status).number("readMs", e.readMs).number("writeMs", e.writeMs);
        break;
    case DriverCall::CheckRxQueue:
        w.number("handle", e.handle).number("status", e.status).number("queued", e.number);
        w.number("queueStatus", e.queueStatus);
        if (e.repeat > 1) {
            w.number("repeat", e.repeat).number("spanMs", e.spanMs);
        }
        break;
    }
    if (!e.error.empty()) {
        w.text("error", e.error);
    }
    return w.done();
}

bool parseTrace(std::string_view text, Trace& trace, std::string& error) {
    trace = Trace{};
    std::size_t lineNumber = 0;
    bool haveHeader = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        const auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(lineNumber) + ": " + what;
            return false;
        };
        if (line.size() > kMaxTraceLine) {
            return fail("line too long");
        }
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
            continue; // blank lines, e.g. a final newline
        }
        Object object;
        std::string what;
        if (!LineParser(line).parse(object, what)) {
            return fail(what);
        }
        if (!haveHeader) {
            if (!readHeader(object, trace.header, what)) {
                return fail(what);
            }
            haveHeader = true;
            continue;
        }
        if (trace.entries.size() >= kMaxTraceEntries) {
            return fail("too many entries");
        }
        TraceEntry entry;
        if (!readEntry(object, entry, what)) {
            return fail(what);
        }
        trace.entries.push_back(std::move(entry));
    }
    if (!haveHeader) {
        error = "empty trace: no header line";
        return false;
    }
    return true;
}

} // namespace telmar::backends
