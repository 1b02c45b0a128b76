// SPDX-License-Identifier: MIT
#include "status/StatusUpdate.h"

#include "base/Printable.h"
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
    auto& replies = update.blocks.replies;
    auto& read = update.blocks.read;
    const link::Reply& inputStatus = replies[0];
    read[0] = protocol.readBlock(block::InputStatus, replies[0], count::InputStatus);
    read[1] = protocol.readBlock(block::Avi, replies[1], count::Avi);
    read[2] = protocol.readBlock(block::SourceProduct, replies[2], count::SourceProduct);
    read[3] = protocol.readBlock(block::Hdr, replies[3], count::Hdr);

    if (!protocol::InputStatusBlock(inputStatus).inputPresent()) {
        update.video = StatusUpdate::Video::BlankAll;
        return update;
    }
    if (read[3]) {
        update.video = StatusUpdate::Video::Set;
        update.lines = composeVideoLines(inputStatus, replies[1], replies[2], replies[3]);
    } else {
        update.video = StatusUpdate::Video::Keep;
    }

    read[4] = protocol.readBlock(block::AudioStatus, replies[4], count::AudioStatus);
    update.audio = read[4] ? composeAudioLine(replies[4]) : std::string(kAudioNoInfo);
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
    } else {
        text[Audio] = update.audio;
    }
    // A source names itself (SPD): a newline or other control byte from it must not reach
    // a label, where it would break the line over the next one.
    for (std::string& line : text) {
        line = base::printableLatin1(line);
    }
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
