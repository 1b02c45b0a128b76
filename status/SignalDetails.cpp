// SPDX-License-Identifier: MIT
#include "status/SignalDetails.h"

#include "base/Printable.h"
#include "protocol/StatusBlocks.h"

#include <cmath>

namespace telmar::status {

namespace {

using Bytes = link::Reply;

std::uint8_t bits(std::uint8_t byte, unsigned high, unsigned low) {
    return static_cast<std::uint8_t>((byte >> low) & ((1u << (high - low + 1)) - 1));
}

std::uint16_t le16(const Bytes& b, std::size_t offset) {
    return static_cast<std::uint16_t>(b[offset] | (b[offset + 1] << 8));
}

// An InfoFrame held whole from offset 2 (type, version, length, checksum, payload): the
// sum of header, checksum and payload is 0 modulo 256. Empty when the payload runs past
// the bytes read.
std::optional<bool> checksumOk(const Bytes& b, std::size_t bytesRead) {
    const std::size_t end = 6u + b[4];
    if (end > bytesRead) {
        return std::nullopt;
    }
    unsigned sum = 0;
    for (std::size_t i = 2; i < end; ++i) {
        sum += b[i];
    }
    return (sum & 0xFF) == 0;
}

// HDMI_VIC 1 to 4 have the timings of these CTA codes.
std::optional<VideoTiming> hdmiVicTiming(std::uint8_t hdmiVic) {
    static constexpr std::uint8_t kSameAs[] = {0, 95, 94, 93, 98};
    if (hdmiVic >= 1 && hdmiVic <= 4) {
        return *lookupVideoTiming(kSameAs[hdmiVic]);
    }
    return std::nullopt;
}

void decodeInput(const Bytes& b, VideoDetails& v) {
    v.inputPresent = bits(b[6], 7, 6) == 3;
    v.hdmiVideoFormat = bits(b[2], 7, 5);
    if (v.hdmiVideoFormat == 1) {
        v.hdmiVic = b[3];
    } else if (v.hdmiVideoFormat == 2) {
        v.threeDStructure = bits(b[3], 7, 4);
        v.threeDMetaPresent = (b[3] & 0x08) != 0;
    }
    v.hdcpCode = bits(b[4], 2, 1);
    v.hdcp = v.hdcpCode == 1 ? Hdcp::Hdcp14 : v.hdcpCode == 2 ? Hdcp::Hdcp22 : Hdcp::NotEncrypted;
    v.colourDepthCode = bits(b[5], 3, 0);
    static constexpr int kBits[] = {8, 10, 12, 16};
    if (v.colourDepthCode >= 4 && v.colourDepthCode <= 7) {
        v.deepColorBits = kBits[v.colourDepthCode - 4];
    }
}

void decodeAvi(const Bytes& b, VideoDetails& v) {
    v.aviRead = true;
    const std::uint8_t pb1 = b[4], pb2 = b[5], pb3 = b[6], pb5 = b[8];
    v.colourFormatCode = bits(pb1, 7, 5);
    const bool activeFormatValid = (pb1 & 0x10) != 0;
    v.barInfoCode = bits(pb1, 3, 2);
    if (const auto s = bits(pb1, 1, 0); s != 0) {
        v.scan = static_cast<Scan>(s);
    }
    v.colorimetryCode = bits(pb2, 7, 6);
    if (const auto m = bits(pb2, 5, 4); m != 0) {
        v.signalledAspect = static_cast<SignalledAspect>(m);
    }
    if (activeFormatValid) {
        v.activeFormat = bits(pb2, 3, 0);
    }
    v.itContent = (pb3 & 0x80) != 0;
    if (*v.colorimetryCode == 3) {
        v.extendedColorimetryCode = bits(pb3, 6, 4);
        v.colorimetry = static_cast<Colorimetry>(0x30 + *v.extendedColorimetryCode);
    } else if (*v.colorimetryCode != 0) {
        v.colorimetry = static_cast<Colorimetry>(*v.colorimetryCode);
    }
    v.rgbQuantization = static_cast<RgbQuantization>(bits(pb3, 3, 2));
    v.scaling = static_cast<Scaling>(bits(pb3, 1, 0));
    if (b[7] != 0) {
        v.vic = b[7];
        if (const VideoTiming* t = lookupVideoTiming(b[7])) {
            v.timing = *t;
        }
    }
    if (*v.colourFormatCode != 0) {
        v.yccQuantization = static_cast<YccQuantization>(bits(pb5, 7, 6));
    }
    v.contentType = static_cast<ContentType>(bits(pb5, 5, 4));
    v.pixelRepetitionCode = bits(pb5, 3, 0);
    if (*v.pixelRepetitionCode <= 9) {
        v.pixelRepetition = *v.pixelRepetitionCode + 1;
    }
    if (*v.barInfoCode != 0) {
        Bars bars;
        if (*v.barInfoCode & 2) {
            bars.topEnd = le16(b, 9);
            bars.bottomStart = le16(b, 11);
        }
        if (*v.barInfoCode & 1) {
            bars.leftEnd = le16(b, 13);
            bars.rightStart = le16(b, 15);
        }
        v.bars = bars;
    }
}

SourceDetails decodeSource(const Bytes& b, std::size_t bytesRead) {
    const protocol::SourceProductBlock block(b);
    SourceDetails s;
    s.present = block.valid();
    if (!s.present) {
        return s;
    }
    s.length = b[4];
    s.checksumOk = checksumOk(b, bytesRead);
    s.vendor = base::printableLatin1(block.vendorName());
    s.product = base::printableLatin1(block.productDescription());
    if (s.length >= 25) {
        s.deviceTypeCode = b[30];
    }
    return s;
}

bool near(const Chromaticity& c, double x, double y, double tolerance) {
    return std::fabs(c.x() - x) <= tolerance && std::fabs(c.y() - y) <= tolerance;
}

Gamut nameGamut(const MasteringMetadata& m) {
    struct Reference {
        Gamut gamut;
        double rx, ry, gx, gy, bx, by;
    };
    static constexpr Reference kReferences[] = {
        {Gamut::Bt2020, 0.708, 0.292, 0.170, 0.797, 0.131, 0.046},
        {Gamut::DciP3D65, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060},
        {Gamut::Bt709, 0.640, 0.330, 0.300, 0.600, 0.150, 0.060},
    };
    for (const auto& r : kReferences) {
        if (near(m.red, r.rx, r.ry, kGamutTolerance) &&
            near(m.green, r.gx, r.gy, kGamutTolerance) &&
            near(m.blue, r.bx, r.by, kGamutTolerance)) {
            return r.gamut;
        }
    }
    return Gamut::Other;
}

MasteringMetadata decodeMastering(const Bytes& b) {
    std::array<Chromaticity, 3> sent{};
    for (std::size_t i = 0; i < 3; ++i) {
        sent[i] = {le16(b, 8 + 4 * i), le16(b, 10 + 4 * i)};
    }
    // Ties go to the lower index, so every index is used exactly once.
    std::uint8_t red = 0;
    for (std::uint8_t i = 1; i < 3; ++i) {
        if (sent[i].xCode > sent[red].xCode) {
            red = i;
        }
    }
    std::uint8_t green = red == 0 ? 1 : 0;
    for (std::uint8_t i = 0; i < 3; ++i) {
        if (i != red && sent[i].yCode > sent[green].yCode) {
            green = i;
        }
    }
    const auto blue = static_cast<std::uint8_t>(3 - red - green);
    MasteringMetadata m;
    m.red = sent[red];
    m.green = sent[green];
    m.blue = sent[blue];
    m.sentIndex = {red, green, blue};
    m.white = {le16(b, 20), le16(b, 22)};
    m.maxLuminance = le16(b, 24);
    m.minLuminanceCode = le16(b, 26);
    m.maxCll = le16(b, 28);
    m.maxFall = le16(b, 30);
    m.gamut = nameGamut(m);
    m.whiteIsD65 = near(m.white, 0.3127, 0.3290, kWhitePointTolerance);
    return m;
}

HdrDetails decodeHdr(const Bytes& b, std::size_t bytesRead) {
    HdrDetails h;
    h.present = protocol::HdrBlock(b).valid();
    if (!h.present) {
        return h;
    }
    h.length = b[4];
    h.checksumOk = checksumOk(b, bytesRead);
    h.eotfCode = bits(b[6], 2, 0);
    h.descriptorId = bits(b[7], 2, 0);
    if (*h.descriptorId == 0 && h.length >= 26) {
        h.metadata = decodeMastering(b);
    }
    return h;
}

// Channel-status codes with a rate; 0 where the code names none.
constexpr std::array<std::uint32_t, 16> kStatusRates{
    44100, 0, 48000, 32000, 22050, 0, 24000, 0, 88200, 768000, 96000, 0, 176400, 0, 192000, 0};
constexpr std::array<std::uint32_t, 16> kOriginalRates{0,     192000, 12000, 176400, 0,     96000,
                                                       8000,  88200,  16000, 24000,  11025, 22050,
                                                       32000, 48000,  0,     44100};
constexpr std::array<int, 16> kWordLengths{0,  0,  16, 20, 18, 22, 0, 0,
                                           19, 23, 20, 24, 17, 21, 0, 0};

template <std::size_t N>
std::optional<std::uint32_t> rateFrom(const std::array<std::uint32_t, N>& table, unsigned code) {
    return table[code] != 0 ? std::optional<std::uint32_t>(table[code]) : std::nullopt;
}

ConsumerChannelStatus decodeChannelStatus(const Bytes& b) {
    ConsumerChannelStatus cs;
    cs.linearPcm = (b[5] & 0x02) == 0;
    cs.copyrightAsserted = (b[5] & 0x04) == 0;
    if (cs.linearPcm) {
        cs.preEmphasisCode = bits(b[5], 5, 3);
    }
    cs.mode = bits(b[5], 7, 6);
    cs.categoryCode = bits(b[6], 6, 0);
    cs.generationBit = (b[6] & 0x80) != 0;
    if (const auto n = bits(b[7], 3, 0); n != 0) {
        cs.sourceNumber = n;
    }
    if (const auto n = bits(b[7], 7, 4); n != 0) {
        cs.channelNumber = n;
    }
    cs.sampleRateCode = bits(b[8], 3, 0);
    cs.sampleRateHz = rateFrom(kStatusRates, cs.sampleRateCode);
    cs.clockAccuracyCode = bits(b[8], 5, 4);
    cs.wordLengthCode = bits(b[9], 3, 0);
    if (kWordLengths[cs.wordLengthCode] != 0) {
        cs.wordLengthBits = kWordLengths[cs.wordLengthCode];
    }
    cs.originalRateCode = bits(b[9], 7, 4);
    cs.originalSampleRateHz = rateFrom(kOriginalRates, cs.originalRateCode);
    return cs;
}

using S = Speaker;
// Slots 4 to 8 of allocation codes 0x00 to 0x31 taken in pairs: an odd code is its even
// neighbour with LFE1 in slot 3.
constexpr std::array<std::array<Speaker, 5>, 25> kAllocations{{
    {S::None, S::None, S::None, S::None, S::None}, {S::FC, S::None, S::None, S::None, S::None},
    {S::None, S::BC, S::None, S::None, S::None},   {S::FC, S::BC, S::None, S::None, S::None},
    {S::None, S::LS, S::RS, S::None, S::None},     {S::FC, S::LS, S::RS, S::None, S::None},
    {S::None, S::LS, S::RS, S::BC, S::None},       {S::FC, S::LS, S::RS, S::BC, S::None},
    {S::None, S::LS, S::RS, S::BL, S::BR},         {S::FC, S::LS, S::RS, S::BL, S::BR},
    {S::None, S::None, S::None, S::FLc, S::FRc},   {S::FC, S::None, S::None, S::FLc, S::FRc},
    {S::None, S::BC, S::None, S::FLc, S::FRc},     {S::FC, S::BC, S::None, S::FLc, S::FRc},
    {S::None, S::LS, S::RS, S::FLc, S::FRc},       {S::FC, S::LS, S::RS, S::FLc, S::FRc},
    {S::FC, S::LS, S::RS, S::TpFC, S::None},       {S::FC, S::LS, S::RS, S::None, S::TpC},
    {S::None, S::LS, S::RS, S::TpFL, S::TpFR},     {S::None, S::LS, S::RS, S::FLw, S::FRw},
    {S::FC, S::LS, S::RS, S::BC, S::TpC},          {S::FC, S::LS, S::RS, S::BC, S::TpFC},
    {S::FC, S::LS, S::RS, S::TpFC, S::TpC},        {S::FC, S::LS, S::RS, S::TpFL, S::TpFR},
    {S::FC, S::LS, S::RS, S::FLw, S::FRw},
}};

AudioInfoFrame decodeAudioInfoFrame(const Bytes& b) {
    AudioInfoFrame a;
    a.codingTypeCode = bits(b[12], 7, 4);
    if (a.codingTypeCode != 0) {
        a.codingType = a.codingTypeCode;
    }
    if (const auto cc = bits(b[12], 2, 0); cc != 0) {
        a.channelCount = cc + 1;
    }
    static constexpr std::array<std::uint32_t, 8> kRates{0,     32000, 44100,  48000,
                                                         88200, 96000, 176400, 192000};
    a.sampleRateHz = rateFrom(kRates, bits(b[13], 4, 2));
    if (const auto ss = bits(b[13], 1, 0); ss != 0) {
        a.sampleSizeBits = 12 + 4 * ss;
    }
    if (const auto cxt = bits(b[14], 4, 0); cxt != 0) {
        a.codingExtension = cxt;
    }
    a.allocationCode = b[15];
    if (a.allocationCode <= 0x31) {
        const auto& row = kAllocations[a.allocationCode >> 1];
        const bool lfe = (a.allocationCode & 1) != 0;
        a.channelSlots = std::array<Speaker, 8>{
            S::FL, S::FR, lfe ? S::LFE1 : S::None, row[0], row[1], row[2], row[3], row[4]};
    }
    return a;
}

AudioDetails decodeAudio(const Bytes& b) {
    static constexpr std::array<std::uint32_t, 8> kBoxRates{32000, 44100,  48000,  88200,
                                                            96000, 176400, 192000, 768000};
    AudioDetails a;
    a.boxRateCode = bits(b[4], 2, 0);
    a.sampleRateHz = kBoxRates[a.boxRateCode];
    a.hbr = (b[4] & 0x20) != 0;
    a.professional = (b[5] & 0x01) != 0;
    if (!a.professional) {
        a.channelStatus = decodeChannelStatus(b);
    }
    a.infoFrame = decodeAudioInfoFrame(b);
    return a;
}

} // namespace

std::vector<Speaker> AudioInfoFrame::speakers() const {
    std::vector<Speaker> list;
    if (channelSlots) {
        for (const Speaker s : *channelSlots) {
            if (s != Speaker::None) {
                list.push_back(s);
            }
        }
    }
    return list;
}

SignalDetails decodeSignalDetails(const StatusBlocks& blocks) {
    SignalDetails d;
    for (std::size_t i = 0; i < StatusBlocks::kCount; ++i) {
        RawBlock& raw = d.raw[i];
        raw.number = static_cast<std::uint8_t>(StatusBlocks::kFirstBlock + i);
        raw.read = blocks.read[i];
        raw.length = StatusBlocks::kLengths[i];
        for (std::size_t j = 0; j < raw.length; ++j) {
            raw.bytes[j] = blocks.replies[i][j];
        }
    }
    // A failed block 11 read is a zero-filled area: no input, as the status lines say.
    decodeInput(blocks.replies[0], d.video);
    if (blocks.read[1]) {
        decodeAvi(blocks.replies[1], d.video);
    }
    if (!d.video.vic && d.video.hdmiVic) {
        d.video.timing = hdmiVicTiming(*d.video.hdmiVic);
    }
    if (blocks.read[2]) {
        d.source = decodeSource(blocks.replies[2], StatusBlocks::kLengths[2]);
    }
    if (blocks.read[3]) {
        d.hdr = decodeHdr(blocks.replies[3], StatusBlocks::kLengths[3]);
    }
    if (blocks.read[4]) {
        d.audio = decodeAudio(blocks.replies[4]);
    }
    return d;
}

std::string formatName(const VideoDetails& video) {
    return video.timing ? videoTimingName(*video.timing) : std::string();
}

} // namespace telmar::status
