// SPDX-License-Identifier: MIT
#include "status/DetailsRows.h"

#include <cstdio>

namespace telmar::status {

namespace {

constexpr std::string_view kNone = "-";

std::string number(double value, const char* format) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string decimal(unsigned value) {
    return std::to_string(value);
}

std::string hexCode(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

// Three decimals without trailing zeros: "59.94", "25.175", "48".
std::string trimmed(double value) {
    std::string text = number(value, "%.3f");
    while (text.back() == '0') {
        text.pop_back();
    }
    if (text.back() == '.') {
        text.pop_back();
    }
    return text;
}

std::string kiloHertz(std::uint32_t hz) {
    return trimmed(hz / 1000.0) + " kHz";
}

std::string named(std::string_view name, const std::string& code) {
    return std::string(name) + " [" + code + "]";
}

// A code's name followed by the code: "limited [1]".
template <typename T> auto coded(std::string_view (*name)(T)) {
    return [name](T c) { return named(name(c), decimal(static_cast<unsigned>(c))); };
}

std::string chromaticity(const Chromaticity& c) {
    return "x " + number(c.x(), "%.4f") + ", y " + number(c.y(), "%.4f");
}

class Rows {
  public:
    Rows(std::string_view prefix, DetailsSection& section) : prefix_(prefix), s_(section) {}
    void add(std::string_view key, std::string_view label, std::string value) {
        s_.rows.push_back({prefix_ + std::string(key), label, std::move(value), true});
    }
    // A field the signal does not carry: what its code means, or "-".
    void empty(std::string_view key, std::string_view label, std::string why = {}) {
        s_.rows.push_back({prefix_ + std::string(key), label,
                           why.empty() ? std::string(kNone) : std::move(why), false});
    }
    template <typename T, typename F>
    void maybe(std::string_view key, std::string_view label, const std::optional<T>& value, F show,
               std::string why = {}) {
        if (value) {
            add(key, label, show(*value));
        } else {
            empty(key, label, std::move(why));
        }
    }

  private:
    std::string prefix_;
    DetailsSection& s_;
};

std::string yesNo(bool value) {
    return value ? "yes" : "no";
}

void videoRows(const VideoDetails& v, DetailsSection& section) {
    Rows r("video.", section);
    r.add("input_present", "Input", v.inputPresent ? "present" : "absent");
    const std::string format = formatName(v);
    if (!format.empty()) {
        r.add("format", "Format", format);
    } else {
        r.empty("format", "Format");
    }
    if (v.vic) {
        r.add("vic", "VIC",
              lookupVideoTiming(*v.vic) ? decimal(*v.vic) : named("reserved", decimal(*v.vic)));
    } else {
        r.empty("vic", "VIC", v.aviRead ? "none [0]" : "");
    }
    r.add("hdmi_video_format", "HDMI video format",
          named(hdmiVideoFormatName(v.hdmiVideoFormat), decimal(v.hdmiVideoFormat)));
    r.maybe("hdmi_vic", "HDMI_VIC", v.hdmiVic, [](std::uint8_t c) {
        return c >= 1 && c <= 4 ? decimal(c) : named("not defined", decimal(c));
    });
    const auto& t = v.timing;
    r.maybe("active_width", "Active width", t,
            [](const VideoTiming& x) { return decimal(x.activeWidth) + " pixels"; });
    r.maybe("active_height", "Active height", t,
            [](const VideoTiming& x) { return decimal(x.activeHeight) + " lines"; });
    r.maybe("field_rate_hz", "Field rate", t,
            [](const VideoTiming& x) { return trimmed(x.fieldRateHz()) + " Hz"; });
    r.maybe("interlaced", "Scan type", t,
            [](const VideoTiming& x) { return x.interlaced ? "interlaced" : "progressive"; });
    r.maybe("pixel_clock_mhz", "Pixel clock", t,
            [](const VideoTiming& x) { return trimmed(x.pixelClockMhz()) + " MHz"; });
    r.maybe("picture_aspect", "Picture aspect", t,
            [](const VideoTiming& x) { return std::string(pictureAspectName(x.aspect)); });
    r.maybe("signalled_aspect", "Picture aspect (AVI)", v.signalledAspect,
            coded(signalledAspectName), v.aviRead ? "no data [0]" : "");
    r.maybe("color_format", "Colour format", v.colourFormatCode, coded(colourFormatName));
    r.maybe(
        "colorimetry", "Colorimetry", v.colorimetry,
        [&](Colorimetry c) {
            std::string code = "C " + decimal(v.colorimetryCode.value_or(0));
            if (v.extendedColorimetryCode) {
                code += ", EC " + decimal(*v.extendedColorimetryCode);
            }
            return named(colorimetryName(c), code);
        },
        v.aviRead ? "no data [0]" : "");
    r.maybe("rgb_quantization", "RGB quantization", v.rgbQuantization, coded(rgbQuantizationName));
    r.maybe("ycc_quantization", "YCC quantization", v.yccQuantization, coded(yccQuantizationName));
    r.maybe("active_format", "Active format", v.activeFormat, coded(activeFormatName),
            v.aviRead ? "not present [A0 0]" : "");
    r.maybe("scan", "Scan information", v.scan, coded(scanName), v.aviRead ? "no data [0]" : "");
    r.maybe(
        "bars", "Bars", v.bars,
        [&](const Bars& b) {
            std::string text;
            if (b.topEnd) {
                text = "top ends at line " + decimal(*b.topEnd) + ", bottom starts at line " +
                       decimal(*b.bottomStart);
            }
            if (b.leftEnd) {
                text += text.empty() ? "" : "; ";
                text += "left ends at pixel " + decimal(*b.leftEnd) + ", right starts at pixel " +
                        decimal(*b.rightStart);
            }
            return named(text, decimal(v.barInfoCode.value_or(0)));
        },
        v.aviRead ? "no bar data [0]" : "");
    r.maybe("it_content", "IT content", v.itContent, yesNo);
    r.maybe("content_type", "Content type", v.contentType, coded(contentTypeName));
    r.maybe(
        "pixel_repetition", "Pixel repetition", v.pixelRepetition,
        [&](int times) {
            return named(times == 1 ? std::string("each pixel sent once")
                                    : "each pixel sent " + decimal(unsigned(times)) + " times",
                         decimal(v.pixelRepetitionCode.value_or(0)));
        },
        v.pixelRepetitionCode ? named("reserved", decimal(*v.pixelRepetitionCode)) : "");
    r.maybe("scaling", "Picture scaling", v.scaling, coded(scalingName));
    r.maybe(
        "deep_color_bits", "Colour depth", v.deepColorBits,
        [&](int b) {
            return named(decimal(unsigned(b)) + " bits per component", decimal(v.colourDepthCode));
        },
        named(v.colourDepthCode == 0 ? "not indicated" : "reserved", decimal(v.colourDepthCode)));
    r.add("hdcp", "HDCP", named(hdcpName(v.hdcp), decimal(v.hdcpCode)));
    r.maybe("three_d", "3D structure", v.threeDStructure, [&](std::uint8_t c) {
        std::string text = named(threeDStructureName(c), decimal(c));
        if (v.threeDMetaPresent.value_or(false)) {
            text += ", 3D metadata present";
        }
        return text;
    });
}

void hdrRows(const HdrDetails& h, DetailsSection& section) {
    Rows r("hdr.", section);
    r.add("present", "DRM InfoFrame", h.present ? "received" : "not received");
    r.maybe(
        "checksum_ok", "Checksum", h.checksumOk,
        [](bool ok) { return std::string(ok ? "OK" : "failed"); },
        h.present ? "cannot be checked" : "");
    r.maybe("eotf", "EOTF", h.eotfCode, coded(eotfName));
    r.maybe("descriptor_id", "Metadata descriptor", h.descriptorId, [](std::uint8_t c) {
        return named(c == 0 ? "Static Metadata Type 1" : "reserved", decimal(c));
    });
    const auto& m = h.metadata;
    static constexpr std::string_view kPrimaryKeys[] = {"primaries.red", "primaries.green",
                                                        "primaries.blue"};
    static constexpr std::string_view kPrimaryLabels[] = {"Red primary", "Green primary",
                                                          "Blue primary"};
    for (std::size_t i = 0; i < 3; ++i) {
        r.maybe(kPrimaryKeys[i], kPrimaryLabels[i], m, [i](const MasteringMetadata& x) {
            const Chromaticity& c = i == 0 ? x.red : i == 1 ? x.green : x.blue;
            return chromaticity(c) + " (sent as primary " + decimal(x.sentIndex[i]) + ")";
        });
    }
    r.maybe("white_point", "White point", m, [](const MasteringMetadata& x) {
        return (x.whiteIsD65 ? "D65, " : "") + chromaticity(x.white);
    });
    r.maybe("gamut", "Mastering gamut", m,
            [](const MasteringMetadata& x) { return std::string(gamutName(x.gamut)); });
    r.maybe("max_luminance_cd_m2", "Max mastering luminance", m,
            [](const MasteringMetadata& x) { return decimal(x.maxLuminance) + " cd/m2"; });
    r.maybe("min_luminance_cd_m2", "Min mastering luminance", m,
            [](const MasteringMetadata& x) { return number(x.minLuminance(), "%.4f") + " cd/m2"; });
    r.maybe("max_cll_cd_m2", "MaxCLL", m,
            [](const MasteringMetadata& x) { return decimal(x.maxCll) + " cd/m2"; });
    r.maybe("max_fall_cd_m2", "MaxFALL", m,
            [](const MasteringMetadata& x) { return decimal(x.maxFall) + " cd/m2"; });
}

void sourceRows(const SourceDetails& s, DetailsSection& section) {
    Rows r("source.", section);
    r.add("present", "SPD InfoFrame", s.present ? "received" : "not received");
    r.maybe(
        "checksum_ok", "Checksum", s.checksumOk,
        [](bool ok) { return std::string(ok ? "OK" : "failed"); },
        s.present ? "cannot be checked" : "");
    const auto text = [](const std::string& t) { return t.empty() ? std::string("(empty)") : t; };
    r.maybe("vendor", "Vendor", s.vendor, text);
    r.maybe("product", "Product", s.product, text);
    r.maybe("device_type", "Device type", s.deviceTypeCode,
            [](std::uint8_t c) { return named(deviceTypeName(c), hexCode(c)); });
}

void audioRows(const AudioDetails& a, DetailsSection& section) {
    Rows r("audio.", section);
    r.add("sample_rate_hz", "Sample rate",
          named(kiloHertz(a.sampleRateHz), decimal(a.boxRateCode)));
    r.add("hbr", "HBR audio", yesNo(a.hbr));
    r.add("channel_status.professional", "Channel status",
          a.professional ? "professional use" : "consumer use");
    const auto& cs = a.channelStatus;
    const std::string pro = a.professional ? "professional layout" : "";
    auto field = [&](std::string_view key, std::string_view label, auto show) {
        if (cs) {
            r.add(key, label, show(*cs));
        } else {
            r.empty(key, label, pro);
        }
    };
    field("channel_status.linear_pcm", "Audio samples", [](const ConsumerChannelStatus& c) {
        return std::string(c.linearPcm ? "linear PCM" : "not linear PCM");
    });
    field("channel_status.copyright_asserted", "Copyright", [](const ConsumerChannelStatus& c) {
        return std::string(c.copyrightAsserted ? "asserted" : "not asserted");
    });
    field("channel_status.pre_emphasis", "Pre-emphasis", [](const ConsumerChannelStatus& c) {
        return c.preEmphasisCode
                   ? named(preEmphasisName(*c.preEmphasisCode), decimal(*c.preEmphasisCode))
                   : std::string(kNone);
    });
    field("channel_status.mode", "Channel status mode", [](const ConsumerChannelStatus& c) {
        return named(c.mode == 0 ? "mode 0" : "reserved", decimal(c.mode));
    });
    field("channel_status.category_code", "Category", [](const ConsumerChannelStatus& c) {
        return named(categoryCodeName(c.categoryCode), hexCode(c.categoryCode));
    });
    field("channel_status.generation_bit", "Generation (L) bit",
          [](const ConsumerChannelStatus& c) { return decimal(c.generationBit ? 1 : 0); });
    field("channel_status.source_number", "Source number", [](const ConsumerChannelStatus& c) {
        return c.sourceNumber ? decimal(*c.sourceNumber) : "not specified [0]";
    });
    field("channel_status.channel_number", "Channel number", [](const ConsumerChannelStatus& c) {
        return c.channelNumber ? decimal(*c.channelNumber) : "not specified [0]";
    });
    field("channel_status.sample_rate_hz", "Sample rate (channel status)",
          [](const ConsumerChannelStatus& c) {
              return named(c.sampleRateHz          ? kiloHertz(*c.sampleRateHz)
                           : c.sampleRateCode == 1 ? "not indicated"
                                                   : "not defined",
                           hexCode(c.sampleRateCode));
          });
    field("channel_status.clock_accuracy", "Clock accuracy", [](const ConsumerChannelStatus& c) {
        return named(clockAccuracyName(c.clockAccuracyCode), decimal(c.clockAccuracyCode));
    });
    field("channel_status.word_length_bits", "Word length", [](const ConsumerChannelStatus& c) {
        return named(c.wordLengthBits        ? decimal(unsigned(*c.wordLengthBits)) + " bits"
                     : c.wordLengthCode <= 1 ? "not indicated"
                                             : "not defined",
                     hexCode(c.wordLengthCode));
    });
    field("channel_status.original_sample_rate_hz", "Original sample rate",
          [](const ConsumerChannelStatus& c) {
              return named(c.originalSampleRateHz    ? kiloHertz(*c.originalSampleRateHz)
                           : c.originalRateCode == 0 ? "not indicated"
                                                     : "not defined",
                           hexCode(c.originalRateCode));
          });
    const AudioInfoFrame& f = a.infoFrame;
    r.maybe("infoframe.coding_type", "Coding type", f.codingType, coded(codingTypeName),
            "refer to stream header [0]");
    r.maybe(
        "infoframe.channel_count", "Channels", f.channelCount,
        [](int n) { return decimal(unsigned(n)); }, "refer to stream header [0]");
    r.maybe("infoframe.sample_rate_hz", "Sample rate (InfoFrame)", f.sampleRateHz, kiloHertz,
            "refer to stream header [0]");
    r.maybe(
        "infoframe.sample_size_bits", "Sample size", f.sampleSizeBits,
        [](int b) { return decimal(unsigned(b)) + " bits"; }, "refer to stream header [0]");
    r.maybe("infoframe.coding_extension", "Coding extension", f.codingExtension,
            coded(codingExtensionName), "refer to CT [0]");
    r.add("infoframe.allocation_code", "Channel allocation", hexCode(f.allocationCode));
    if (f.channelSlots) {
        std::string list;
        for (const Speaker s : f.speakers()) {
            list += list.empty() ? "" : " ";
            list += speakerName(s);
        }
        r.add("infoframe.speakers", "Speakers", list);
    } else {
        r.empty("infoframe.speakers", "Speakers", named("reserved", hexCode(f.allocationCode)));
    }
}

// The rows of a block whose read failed: the same keys, each "not read".
template <typename Section, typename Fill>
void sectionRows(const std::optional<Section>& value, Fill fill, DetailsSection& section) {
    fill(value.value_or(Section{}), section);
    if (!value) {
        for (DetailRow& row : section.rows) {
            row.value = "not read";
            row.hasValue = false;
        }
    }
}

} // namespace

std::string rawHex(const RawBlock& block) {
    if (!block.read) {
        return "not read";
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < block.length && i < block.bytes.size(); ++i) {
        text += i == 0 ? "" : " ";
        text += kDigits[block.bytes[i] >> 4];
        text += kDigits[block.bytes[i] & 0x0F];
    }
    return text;
}

DetailsView detailsView(const SignalDetails& d) {
    DetailsView view;
    view.sections.resize(4);
    view.sections[0].title = "Video";
    view.sections[1].title = "HDR";
    view.sections[2].title = "Source";
    view.sections[3].title = "Audio";
    videoRows(d.video, view.sections[0]);
    sectionRows(d.hdr, hdrRows, view.sections[1]);
    sectionRows(d.source, sourceRows, view.sections[2]);
    sectionRows(d.audio, audioRows, view.sections[3]);
    for (const RawBlock& block : d.raw) {
        view.raw.push_back({block.number, rawHex(block)});
    }
    return view;
}

std::vector<std::string> changedKeys(const SignalDetails& before, const SignalDetails& after) {
    std::vector<std::string> keys;
    if (before == after) {
        return keys;
    }
    const DetailsView a = detailsView(before);
    const DetailsView b = detailsView(after);
    for (std::size_t s = 0; s < a.sections.size(); ++s) {
        const auto& rowsA = a.sections[s].rows;
        const auto& rowsB = b.sections[s].rows;
        for (std::size_t i = 0; i < rowsA.size() && i < rowsB.size(); ++i) {
            if (rowsA[i].value != rowsB[i].value) {
                keys.push_back(rowsB[i].key);
            }
        }
    }
    return keys;
}

} // namespace telmar::status
