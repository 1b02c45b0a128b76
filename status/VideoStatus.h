// SPDX-License-Identifier: MIT
#pragma once

#include "link/PanelLink.h"
#include "status/StatusUpdate.h"

namespace telmar::status {

// The six video lines from the input status, AVI, source product and HDR blocks
// (blocks 11 to 14). The caller has already found the input present. Texts are Latin-1.
VideoLines composeVideoLines(const link::Reply& inputStatus, const link::Reply& avi,
                             const link::Reply& sourceProduct, const link::Reply& hdr);

} // namespace telmar::status
