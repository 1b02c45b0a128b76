// SPDX-License-Identifier: MIT
#pragma once

#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "status/SignalDetails.h"

#include <array>
#include <string>

namespace telmar::status {

// The six video lines, in the order the labels are written.
struct VideoLines {
    std::string input;      // label_video_format
    std::string encryption; // lblHdcp
    std::string color;      // lblColor
    std::string source;     // lblVideoSource
    std::string hdr;        // lblHdr
    std::string deepColor;  // lblDeepC
    bool operator==(const VideoLines&) const = default;
};

// What one status update does to the seven status labels. Texts are Latin-1.
struct StatusUpdate {
    enum class Video {
        BlankAll, // no input: blank all seven labels, audio included
        Keep,     // the HDR block read failed: leave the six video labels as they are
        Set,      // set the six video labels from `lines`
    };
    Video video = Video::BlankAll;
    VideoLines lines;
    std::string audio; // lblAudio, unless video is BlankAll
    // The blocks as read, for the signal details; the labels above never look at them.
    StatusBlocks blocks;
};

// The seven status lines as the window's labels show them, in label order; Latin-1.
struct StatusLines {
    enum Line { Input, Encryption, Color, Source, Hdr, DeepColor, Audio, Count };
    std::array<std::string, Count> text{};
    bool inputPresent = false;

    // Blanks all seven, keeps the video lines (the HDR block read failed) or sets them;
    // audio is set unless blanked.
    void apply(const StatusUpdate& update);
    bool operator==(const StatusLines&) const = default;
};

// Reads blocks 11, 12, 13, 14 and, when the input is present, 15, each into a fresh
// zero-filled reply area, composes the texts and keeps the blocks.
StatusUpdate readStatusUpdate(protocol::ControlProtocol& protocol);

// "ver: %d.%d%d%d.%d%d" from version block offsets 2 to 7.
std::string versionText(const link::Reply& versionBlock);

} // namespace telmar::status
