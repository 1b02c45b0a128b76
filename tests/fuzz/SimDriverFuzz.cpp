// SPDX-License-Identifier: MIT
// The sim backend facing a hostile daemon: a server that answers each connection with
// bytes of the fuzzer's choosing. Whatever it says, the backend keeps its promises:
// a count a bus can hold, a terminated string, no read longer than asked, a bounded
// queue, and every call back in bounded time.

#include "sim/SimDriver.h"
#include "sim/Wire.h"
#include "tests/fuzz/FuzzCheck.h"

#include <atomic>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace telmar;

// One listening socket for the whole run, in a folder of its own.
struct Listener {
    std::string folder;
    std::string path;
    int fd = -1;
    Listener() {
        char name[] = "/tmp/telmar-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(name) != nullptr);
        folder = name;
        path = folder + "/sim.sock";
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        FUZZ_CHECK(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0);
        FUZZ_CHECK(::listen(fd, 16) == 0);
    }
    ~Listener() {
        ::close(fd);
        ::unlink(path.c_str());
        ::rmdir(folder.c_str());
    }
};

// Takes the request line, answers with the next script, stops sending and waits for
// the client to hang up, so that the client always sees all of it and then the end.
void serve(int listenFd, const std::vector<std::string>& scripts, std::atomic<bool>& stop) {
    std::size_t next = 0;
    while (!stop) {
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0) {
            continue;
        }
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        char c = 0;
        while (::recv(fd, &c, 1, 0) == 1 && c != '\n') {
        }
        const std::string& script = next < scripts.size() ? scripts[next] : scripts.back();
        ++next;
        ::send(fd, script.data(), script.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        char drain[4096];
        while (!stop) {
            pollfd q{fd, POLLIN, 0};
            if (::poll(&q, 1, 5) > 0 && ::recv(fd, drain, sizeof drain, 0) <= 0) {
                break;
            }
        }
        ::close(fd);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Listener listener;
    FuzzedDataProvider in(data, size);
    // Answers to count, string and open, then what the open handle receives.
    std::vector<std::string> scripts;
    for (int i = 0; i < 3; ++i) {
        scripts.push_back(in.ConsumeRandomLengthString(8192));
    }
    scripts.push_back(in.ConsumeRemainingBytesAsString());

    std::atomic<bool> stop{false};
    std::thread server(serve, listener.fd, std::cref(scripts), std::ref(stop));
    {
        sim::SimDriver driver(listener.path);
        driver.setTimeouts(1, 1);
        std::uint32_t count = 0;
        if (driver.getNumDevices(count) == usb::kSuccess) {
            FUZZ_CHECK(count <= sim::SimDriver::kMaxDevices);
        }
        char text[usb::kDeviceStringSize];
        std::memset(text, 0x55, sizeof text);
        if (driver.getDeviceString(0, text, usb::kStringSerialNumber) == usb::kSuccess) {
            FUZZ_CHECK(std::memchr(text, '\0', sizeof text) != nullptr);
        }
        usb::Handle handle = usb::kNoHandle;
        if (driver.open(0, handle) == usb::kSuccess) {
            for (int round = 0; round < 3; ++round) {
                const std::uint8_t frame[] = {0x11, 0x08, 0xE0, 0x09};
                std::uint32_t written = 0;
                driver.write(handle, frame, sizeof frame, written);
                FUZZ_CHECK(written <= sizeof frame);
                std::uint32_t queued = 0;
                std::uint32_t queueStatus = 0;
                if (driver.checkRxQueue(handle, queued, queueStatus) == usb::kSuccess) {
                    FUZZ_CHECK(queued <= sim::SimDriver::kMaxQueued);
                }
                std::uint8_t reply[64];
                std::uint32_t got = 0;
                if (driver.read(handle, reply, sizeof reply, got) == usb::kSuccess) {
                    FUZZ_CHECK(got <= sizeof reply);
                }
                driver.flushBuffers(handle, 1, 1);
            }
            driver.close(handle);
        }
    }
    stop = true;
    server.join();
    return 0;
}
