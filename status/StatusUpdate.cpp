// SPDX-License-Identifier: MIT
#include "status/StatusUpdate.h"

#include "protocol/Frames.h"
#include "protocol/StatusBlocks.h"
#include "status/AudioStatus.h"
#include "status/VideoStatus.h"

#include <cstdio>

namespace telmar::status {

StatusUpdate readStatusUpdate(protocol::ControlProtocol& protocol) {
    namespace block = protocol::block;
    namespace count = protocol::block_count;

    // Blocks 11 to 13 are used even when their read failed: a fresh zero-filled area
    // then reads as "absent", "code 0, RGB" and "no info received".
    StatusUpdate update;
    StatusBlocks& b = update.blocks;
    protocol.readBlock(block::InputStatus, b.inputStatus, count::InputStatus);
    protocol.readBlock(block::Avi, b.avi, count::Avi);
    protocol.readBlock(block::SourceProduct, b.sourceProduct, count::SourceProduct);
    const bool hdrRead = protocol.readBlock(block::Hdr, b.hdr, count::Hdr);

    if (!protocol::InputStatusBlock(b.inputStatus).inputPresent()) {
        update.video = StatusUpdate::Video::BlankAll;
        return update;
    }
    if (hdrRead) {
        update.video = StatusUpdate::Video::Set;
        update.lines = composeVideoLines(b.inputStatus, b.avi, b.sourceProduct, b.hdr);
    } else {
        update.video = StatusUpdate::Video::Keep;
    }
    update.audio = protocol.readBlock(block::AudioStatus, b.audio, count::AudioStatus)
                       ? composeAudioLine(b.audio)
                       : std::string(kAudioNoInfo);
    return update;
}

void StatusLines::apply(const StatusUpdate& update) {
    inputPresent = update.video != StatusUpdate::Video::BlankAll;
    if (!inputPresent) {
        *this = StatusLines{};
        return;
    }
    if (update.video == StatusUpdate::Video::Set) {
        const VideoLines& v = update.lines;
        text = {v.input, v.encryption, v.color, v.source, v.hdr, v.deepColor, update.audio};
        return;
    }
    text[Audio] = update.audio;
}

std::string versionText(const link::Reply& versionBlock) {
    const protocol::VersionBlock version(versionBlock);
    // Six numbers of at most three digits each fit with room to spare.
    char text[48];
    std::snprintf(text, sizeof text, "ver: %u.%u%u%u.%u%u", unsigned{version.number(0)},
                  unsigned{version.number(1)}, unsigned{version.number(2)},
                  unsigned{version.number(3)}, unsigned{version.number(4)},
                  unsigned{version.number(5)});
    return text;
}

} // namespace telmar::status
