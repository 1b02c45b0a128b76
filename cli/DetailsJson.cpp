// SPDX-License-Identifier: MIT
#include "cli/DetailsJson.h"

#include "status/DetailsRows.h"

#include <cmath>

namespace telmar::cli {

namespace {

using namespace status;

template <typename T, typename F> JsonValue maybe(const std::optional<T>& value, F show) {
    return value ? JsonValue(show(*value)) : JsonValue();
}

template <typename T> JsonValue maybe(const std::optional<T>& value) {
    return value ? JsonValue(*value) : JsonValue();
}

JsonValue name(std::string_view text) {
    return JsonValue(std::string(text));
}

// An optional code by its name.
template <typename T, typename N> JsonValue named(const std::optional<T>& value, N nameOf) {
    return value ? name(nameOf(*value)) : JsonValue();
}

// The codes are in units of 0.00002 and 0.0001: as many decimals, no binary noise.
double rounded(double value, double scale) {
    return std::round(value * scale) / scale;
}

JsonValue point(const Chromaticity& c) {
    return {{"x", rounded(c.x(), 1e5)}, {"y", rounded(c.y(), 1e5)}};
}

JsonValue videoJson(const VideoDetails& v) {
    const auto& t = v.timing;
    const std::string format = formatName(v);
    JsonValue bars;
    if (v.bars) {
        bars = {{"top_end", maybe(v.bars->topEnd)},
                {"bottom_start", maybe(v.bars->bottomStart)},
                {"left_end", maybe(v.bars->leftEnd)},
                {"right_start", maybe(v.bars->rightStart)}};
    }
    return {
        {"input_present", v.inputPresent},
        {"vic", maybe(v.vic)},
        {"hdmi_video_format", name(hdmiVideoFormatName(v.hdmiVideoFormat))},
        {"hdmi_vic", maybe(v.hdmiVic)},
        {"format", format.empty() ? JsonValue() : JsonValue(format)},
        {"active_width", maybe(t, [](const VideoTiming& x) { return x.activeWidth; })},
        {"active_height", maybe(t, [](const VideoTiming& x) { return x.activeHeight; })},
        {"field_rate_hz",
         maybe(t, [](const VideoTiming& x) { return rounded(x.fieldRateHz(), 1e3); })},
        {"interlaced", maybe(t, [](const VideoTiming& x) { return x.interlaced; })},
        {"pixel_clock_mhz", maybe(t, [](const VideoTiming& x) { return x.pixelClockMhz(); })},
        {"picture_aspect",
         maybe(t, [](const VideoTiming& x) { return name(pictureAspectName(x.aspect)); })},
        {"signalled_aspect", named(v.signalledAspect, signalledAspectName)},
        {"color_format", named(v.colourFormatCode, colourFormatName)},
        {"colorimetry", named(v.colorimetry, colorimetryName)},
        {"rgb_quantization", named(v.rgbQuantization, rgbQuantizationName)},
        {"ycc_quantization", named(v.yccQuantization, yccQuantizationName)},
        {"active_format", named(v.activeFormat, activeFormatName)},
        {"scan", named(v.scan, scanName)},
        {"bars", bars},
        {"it_content", maybe(v.itContent)},
        {"content_type", named(v.contentType, contentTypeName)},
        {"pixel_repetition", maybe(v.pixelRepetition)},
        {"scaling", named(v.scaling, scalingName)},
        {"deep_color_bits", maybe(v.deepColorBits)},
        {"hdcp", name(hdcpName(v.hdcp))},
        {"three_d", named(v.threeDStructure, threeDStructureName)},
    };
}

// The mastering display's and the content's values use 0 for "unknown": a source
// without them sends a Type 1 frame of zeros.
JsonValue known(std::uint16_t code) {
    return code == 0 ? JsonValue() : JsonValue(code);
}

bool unknownPoint(const Chromaticity& c) {
    return c.xCode == 0 && c.yCode == 0;
}

JsonValue hdrJson(const HdrDetails& h) {
    JsonValue primaries, white, gamut, maxLuminance, minLuminance, maxCll, maxFall;
    if (const auto& m = h.metadata) {
        if (!unknownPoint(m->red) || !unknownPoint(m->green) || !unknownPoint(m->blue)) {
            primaries = {
                {"red", point(m->red)}, {"green", point(m->green)}, {"blue", point(m->blue)}};
            gamut = name(gamutName(m->gamut));
        }
        if (!unknownPoint(m->white)) {
            white = point(m->white);
        }
        maxLuminance = known(m->maxLuminance);
        minLuminance =
            m->minLuminanceCode == 0 ? JsonValue() : JsonValue(rounded(m->minLuminance(), 1e4));
        maxCll = known(m->maxCll);
        maxFall = known(m->maxFall);
    }
    return {
        {"present", h.present},
        {"checksum_ok", maybe(h.checksumOk)},
        {"eotf_code", maybe(h.eotfCode)},
        {"eotf", named(h.eotfCode, eotfName)},
        {"descriptor_id", maybe(h.descriptorId)},
        {"primaries", primaries},
        {"white_point", white},
        {"gamut", gamut},
        {"max_luminance_cd_m2", maxLuminance},
        {"min_luminance_cd_m2", minLuminance},
        {"max_cll_cd_m2", maxCll},
        {"max_fall_cd_m2", maxFall},
    };
}

JsonValue sourceJson(const SourceDetails& s) {
    const auto text = [](const std::string& t) { return latin1ToUtf8(t); };
    return {
        {"present", s.present},
        {"checksum_ok", maybe(s.checksumOk)},
        {"vendor", maybe(s.vendor, text)},
        {"product", maybe(s.product, text)},
        {"device_type_code", maybe(s.deviceTypeCode)},
        {"device_type", named(s.deviceTypeCode, deviceTypeName)},
    };
}

JsonValue channelStatusJson(const AudioDetails& a) {
    const auto& cs = a.channelStatus;
    const auto field = [&cs](auto get) { return cs ? JsonValue(get(*cs)) : JsonValue(); };
    using C = ConsumerChannelStatus;
    return {
        {"professional", a.professional},
        {"linear_pcm", field([](const C& c) { return c.linearPcm; })},
        {"copyright_asserted", field([](const C& c) { return c.copyrightAsserted; })},
        {"pre_emphasis",
         field([](const C& c) { return named(c.preEmphasisCode, preEmphasisName); })},
        {"mode", field([](const C& c) { return c.mode; })},
        {"category_code", field([](const C& c) { return c.categoryCode; })},
        {"generation_bit", field([](const C& c) { return c.generationBit; })},
        {"source_number", field([](const C& c) { return maybe(c.sourceNumber); })},
        {"channel_number", field([](const C& c) { return maybe(c.channelNumber); })},
        {"sample_rate_hz", field([](const C& c) { return maybe(c.sampleRateHz); })},
        {"clock_accuracy",
         field([](const C& c) { return name(clockAccuracyName(c.clockAccuracyCode)); })},
        {"word_length_bits", field([](const C& c) { return maybe(c.wordLengthBits); })},
        {"original_sample_rate_hz",
         field([](const C& c) { return maybe(c.originalSampleRateHz); })},
    };
}

JsonValue infoFrameJson(const AudioInfoFrame& f) {
    JsonValue speakers;
    if (f.channelSlots) {
        speakers = JsonValue::array();
        for (const Speaker s : f.speakers()) {
            speakers.push_back(std::string(speakerName(s)));
        }
    }
    return {
        {"coding_type", named(f.codingType, codingTypeName)},
        {"channel_count", maybe(f.channelCount)},
        {"sample_rate_hz", maybe(f.sampleRateHz)},
        {"sample_size_bits", maybe(f.sampleSizeBits)},
        {"coding_extension", named(f.codingExtension, codingExtensionName)},
        {"allocation_code", f.allocationCode},
        {"speakers", speakers},
    };
}

JsonValue audioJson(const AudioDetails& a) {
    return {
        {"sample_rate_hz", a.sampleRateHz},
        {"hbr", a.hbr},
        {"channel_status", channelStatusJson(a)},
        {"infoframe", infoFrameJson(a.infoFrame)},
    };
}

void collectChanges(const JsonValue& before, const JsonValue& after, const std::string& path,
                    std::vector<std::string>& paths) {
    if (before == after) {
        return;
    }
    if (!before.is_object() || !after.is_object()) {
        paths.push_back(path);
        return;
    }
    const auto child = [&path](const std::string& key) {
        return path.empty() ? key : path + "." + key;
    };
    for (const auto& [key, value] : after.items()) {
        if (const auto it = before.find(key); it != before.end()) {
            collectChanges(*it, value, child(key), paths);
        } else {
            paths.push_back(child(key));
        }
    }
    for (const auto& [key, value] : before.items()) {
        if (!after.contains(key)) {
            paths.push_back(child(key));
        }
    }
}

} // namespace

JsonValue detailsJson(const SignalDetails& d) {
    return {
        {"video", videoJson(d.video)},
        {"hdr", maybe(d.hdr, hdrJson)},
        {"source", maybe(d.source, sourceJson)},
        {"audio", maybe(d.audio, audioJson)},
    };
}

JsonValue rawJson(const SignalDetails& d) {
    JsonValue raw = JsonValue::object();
    for (const RawBlock& block : d.raw) {
        raw[std::to_string(block.number)] = block.read ? JsonValue(rawHex(block)) : JsonValue();
    }
    return raw;
}

std::vector<std::string> changedPaths(const JsonValue& before, const JsonValue& after) {
    std::vector<std::string> paths;
    collectChanges(before, after, {}, paths);
    return paths;
}

} // namespace telmar::cli
