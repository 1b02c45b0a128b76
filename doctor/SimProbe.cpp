// SPDX-License-Identifier: MIT
#include "doctor/Probes.h"

#if TELMAR_WITH_SIM
#include "sim/Wire.h"

#include <sys/socket.h>
#endif

namespace telmar::doctor {

#if TELMAR_WITH_SIM

std::string simulatorSocket() {
    return sim::defaultSocketPath();
}

SimEndpoint probeSimulator(const std::string& socket) {
    using Kind = sim::net::ConnectError::Kind;
    SimEndpoint s;
    s.socket = socket;
    sim::net::ConnectError why;
    const int fd = sim::net::connectUnix(socket, sim::net::kConnectTimeoutMs, &why);
    if (fd < 0) {
        s.detail = why.text;
        switch (why.kind) {
        case Kind::NoServer:
            s.state = SimEndpoint::State::NotRunning;
            break;
        case Kind::Busy:
            s.state = SimEndpoint::State::Busy;
            break;
        case Kind::Foreign:
            s.state = SimEndpoint::State::Foreign;
            break;
        case Kind::BadPath:
            s.state = SimEndpoint::State::BadPath;
            break;
        default:
            s.state = SimEndpoint::State::Failed;
            break;
        }
        return s;
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0) {
        s.peerUid = static_cast<long>(peer.uid);
        s.peerPid = static_cast<long>(peer.pid);
    }
    sim::net::closeFd(fd);
    s.state = SimEndpoint::State::Answers;
    // The daemon's own state lines say "isp=1" for a box in programming mode.
    const sim::ControlReply reply = sim::sendControl(socket, "status", 3000);
    for (const std::string& line : reply.lines) {
        for (const std::string& word : sim::splitWords(line)) {
            s.programmingMode = s.programmingMode || word == "isp=1";
        }
    }
    return s;
}
#else
std::string simulatorSocket() {
    return {};
}

SimEndpoint probeSimulator(const std::string& socket) {
    SimEndpoint s;
    s.socket = socket;
    s.state = SimEndpoint::State::Failed;
    s.detail = "this build has no simulator";
    return s;
}
#endif

} // namespace telmar::doctor
