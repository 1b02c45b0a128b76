// SPDX-License-Identifier: MIT
#include "protocol/ControlProtocol.h"

#include "protocol/Frames.h"

#include <array>

namespace telmar::protocol {

ControlProtocol::ControlProtocol(link::PanelLink& link, StatusSink& status)
    : link_(link), status_(status) {}

bool ControlProtocol::writeRegister(std::uint8_t reg, std::uint8_t value) {
    const std::array<std::uint8_t, kWriteRegisterLength> request{
        kWriteRequest, kWriteRegisterLengthByte, kBlockEcho, reg, value};
    Reply reply{};
    if (link_.exchange(request, reply, kWriteRegisterMinReply) && reply[0] == kBlockEcho) {
        return true;
    }
    status_.showMessage(kWriteFailedText, kWriteFailedMs);
    return false;
}

bool ControlProtocol::readBlock(std::uint8_t block, Reply& reply, std::uint8_t count) {
    const std::array<std::uint8_t, kReadBlockLength> request{kReadRequest, count, kBlockEcho,
                                                             block};
    if (link_.exchange(request, reply, count) && reply[0] == kBlockEcho) {
        return true;
    }
    status_.showMessage(kBlockReadFailedText, kBlockReadFailedMs);
    return false;
}

bool ControlProtocol::readSettings(Reply& reply, std::uint8_t count) {
    const std::array<std::uint8_t, kReadSettingsLength> request{kReadRequest, count, kSettingsEcho};
    if (link_.exchange(request, reply, count) && reply[0] == kSettingsEcho) {
        return true;
    }
    status_.showMessage(kSettingsReadFailedText, kSettingsReadFailedMs);
    return false;
}

} // namespace telmar::protocol
