// SPDX-License-Identifier: MIT
#include "tests/usb/emulation/UsbTestbed.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <linux/usbdevice_fs.h>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>

namespace telmar::test::usbemu {

namespace {

// The usbdevfs URB as the 64-bit kernel lays it out; a wrong offset would corrupt
// the client silently, so the layout is pinned here.
static_assert(sizeof(usbdevfs_urb) == 56);
static_assert(offsetof(usbdevfs_urb, status) == 4);
static_assert(offsetof(usbdevfs_urb, buffer) == 16);
static_assert(offsetof(usbdevfs_urb, buffer_length) == 24);
static_assert(offsetof(usbdevfs_urb, actual_length) == 28);

constexpr std::uint8_t kBulkIn = 0x81;
constexpr std::uint8_t kBulkOut = 0x01;
constexpr std::size_t kSetupSize = 8;

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

Bytes deviceDescriptor(const DeviceSpec& spec) {
    Bytes d = {18, 1};
    put16(d, 0x0200);
    d.insert(d.end(), {0, 0, 0, 64});
    put16(d, spec.vendorId);
    put16(d, spec.productId);
    put16(d, 0x0100);
    d.insert(d.end(), {1, 2, 3, 1}); // manufacturer, product, serial strings; one config
    return d;
}

Bytes configDescriptor(const DeviceSpec& spec) {
    const std::uint8_t endpoints = spec.bulkOut ? 2 : 1;
    Bytes c = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
    c.insert(c.end(), {9, 4, 0, 0, endpoints, 0xFF, 0, 0, 0});
    c.insert(c.end(), {7, 5, kBulkIn, 2, 64, 0, 0});
    if (spec.bulkOut) {
        c.insert(c.end(), {7, 5, kBulkOut, 2, 64, 0, 0});
    }
    c[2] = static_cast<std::uint8_t>(c.size());
    return c;
}

Bytes stringDescriptor(const std::string& text) {
    Bytes s = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (const char ch : text) {
        s.push_back(static_cast<std::uint8_t>(ch));
        s.push_back(0);
    }
    return s;
}

std::string hex(const Bytes& bytes) {
    std::string out;
    char buf[3];
    for (const auto b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

// One record in umockdev's text format: sysfs attributes, udev properties, /dev node.
std::string deviceRecord(const std::string& sysName, std::uint8_t devnum, const DeviceSpec& spec,
                         const Bytes& descriptors, const char* parent) {
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/001/%03u", devnum);
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", spec.vendorId,
                  spec.productId);
    std::ostringstream r;
    r << "P: /devices/pci0000:00/0000:00:14.0/" << parent << sysName << "\n"
      << "N: " << node << "\n"
      << "E: DEVNAME=/dev/" << node << "\n"
      << "E: DEVTYPE=usb_device\n"
      << "E: SUBSYSTEM=usb\n"
      << "E: BUSNUM=001\n"
      << "E: DEVNUM=" << (devnum < 10 ? "00" : "0") << unsigned(devnum) << "\n"
      << "A: busnum=1\\n\n"
      << "A: devnum=" << unsigned(devnum) << "\\n\n"
      << ids << "A: speed=12\\n\n"
      << "A: bConfigurationValue=1\\n\n"
      << "A: bNumConfigurations=1\\n\n"
      << "A: serial=" << spec.serial << "\\n\n"
      << "H: descriptors=" << hex(descriptors) << "\n";
    return r.str();
}

template <typename T> T readAt(const UMockdevIoctlData* d, std::size_t offset) {
    if (d->data_len < 0 || offset + sizeof(T) > static_cast<std::size_t>(d->data_len)) {
        throw std::runtime_error("ioctl argument too short");
    }
    T v;
    std::memcpy(&v, d->data + offset, sizeof v);
    return v;
}

template <typename T> void writeAt(UMockdevIoctlData* d, std::size_t offset, T v) {
    if (d->data_len < 0 || offset + sizeof(T) > static_cast<std::size_t>(d->data_len)) {
        throw std::runtime_error("ioctl argument too short");
    }
    std::memcpy(d->data + offset, &v, sizeof v);
}

struct DataRef {
    UMockdevIoctlData* data = nullptr;
    DataRef() = default;
    explicit DataRef(UMockdevIoctlData* owned) : data(owned) {}
    DataRef(const DataRef& o) : data(o.data) {
        if (data != nullptr) {
            g_object_ref(data);
        }
    }
    DataRef& operator=(const DataRef& o) {
        DataRef copy(o);
        std::swap(data, copy.data);
        return *this;
    }
    ~DataRef() {
        if (data != nullptr) {
            g_object_unref(data);
        }
    }
};

DataRef resolve(UMockdevIoctlData* parent, std::size_t offset, std::size_t len) {
    GError* error = nullptr;
    UMockdevIoctlData* d = umockdev_ioctl_data_resolve(parent, offset, len, &error);
    if (d == nullptr) {
        std::string message = error != nullptr ? error->message : "resolve failed";
        g_clear_error(&error);
        throw std::runtime_error(message);
    }
    return DataRef(d);
}

struct Urb {
    UMockdevIoctlClient* client;
    DataRef urb;
    DataRef buffer; // empty for a zero-length buffer
    std::uint64_t address;
};

struct Result {
    long value;
    int error;
};

} // namespace

Event vendorEvent(std::uint8_t request, std::uint16_t value) {
    return Event{Event::Kind::Vendor, request, value, {}};
}

Event outEvent(std::vector<std::uint8_t> frame) {
    return Event{Event::Kind::Out, 0, 0, std::move(frame)};
}

std::string describe(const Event& e) {
    char buf[64];
    switch (e.kind) {
    case Event::Kind::Claim:
        return "claim " + std::to_string(e.value);
    case Event::Kind::Release:
        return "release " + std::to_string(e.value);
    case Event::Kind::Vendor:
        std::snprintf(buf, sizeof buf, "vendor %02X %04X", e.request, e.value);
        return buf;
    case Event::Kind::Out: {
        std::string s = "out";
        for (const auto b : e.data) {
            std::snprintf(buf, sizeof buf, " %02X", b);
            s += buf;
        }
        return s;
    }
    }
    return "?";
}

std::string describe(const std::vector<Event>& events) {
    std::string s;
    for (const auto& e : events) {
        s += describe(e) + "\n";
    }
    return s;
}

// One emulated device and its usbdevfs state.
class EmulatedDevice {
  public:
    EmulatedDevice(DeviceSpec spec, Responder responder)
        : spec_(std::move(spec)), responder_(std::move(responder)) {}

    const DeviceSpec& spec() const { return spec_; }

    Result ioctl(UMockdevIoctlClient* client) {
        std::lock_guard lock(mutex_);
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        if (gone_) {
            // As usbfs does: what completed, even by the disconnect, can still be reaped.
            if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
                const Result r = reap(client, arg);
                return r.value == 0 ? r : Result{-1, ENODEV};
            }
            return {-1, ENODEV};
        }
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            DataRef caps = resolve(arg, 0, sizeof(std::uint32_t));
            writeAt<std::uint32_t>(caps.data, 0, 0);
            return {0, 0};
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE: {
            DataRef iface = resolve(arg, 0, sizeof(unsigned));
            const auto number = readAt<unsigned>(iface.data, 0);
            if (number != 0) {
                return {-1, EINVAL};
            }
            const bool claim = request == USBDEVFS_CLAIMINTERFACE;
            events_.push_back({claim ? Event::Kind::Claim : Event::Kind::Release, 0, 0, {}});
            return {0, 0};
        }
        case USBDEVFS_DISCONNECT_CLAIM: {
            DataRef dc = resolve(arg, 0, sizeof(usbdevfs_disconnect_claim));
            if (readAt<unsigned>(dc.data, 0) != 0) {
                return {-1, EINVAL};
            }
            events_.push_back({Event::Kind::Claim, 0, 0, {}});
            return {0, 0};
        }
        case USBDEVFS_IOCTL: {
            // libusb hands the interface back to the kernel driver after release;
            // this bus has none to bind, as a box without the serial driver loaded.
            DataRef call = resolve(arg, 0, sizeof(usbdevfs_ioctl));
            if (readAt<int>(call.data, offsetof(usbdevfs_ioctl, ioctl_code)) ==
                static_cast<int>(USBDEVFS_CONNECT)) {
                return {-1, ENODATA};
            }
            unknown_.push_back(request);
            return {-1, ENOTTY};
        }
        case USBDEVFS_SUBMITURB:
            return submit(client, arg);
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            return reap(client, arg);
        case USBDEVFS_DISCARDURB:
            return discard(client, readAt<std::uint64_t>(arg, 0));
        default:
            unknown_.push_back(request);
            return {-1, ENOTTY};
        }
    }

    void clientGone(UMockdevIoctlClient* client) {
        std::lock_guard lock(mutex_);
        const auto mine = [client](const Urb& u) { return u.client == client; };
        std::erase_if(pendingIn_, mine);
        std::erase_if(completed_, mine);
    }

    std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<unsigned long> unknown() const {
        std::lock_guard lock(mutex_);
        return unknown_;
    }
    void dropReplies(unsigned count) {
        std::lock_guard lock(mutex_);
        dropReplies_ = count;
    }
    void vanishOnPurge(unsigned n) {
        std::lock_guard lock(mutex_);
        vanishOnPurge_ = n;
    }
    bool gone() const {
        std::lock_guard lock(mutex_);
        return gone_;
    }

  private:
    Result submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        DataRef urbData = resolve(arg, 0, sizeof(usbdevfs_urb));
        const auto type = readAt<std::uint8_t>(urbData.data, offsetof(usbdevfs_urb, type));
        const auto endpoint = readAt<std::uint8_t>(urbData.data, offsetof(usbdevfs_urb, endpoint));
        const auto length = readAt<int>(urbData.data, offsetof(usbdevfs_urb, buffer_length));
        if (length < 0) {
            return {-1, EINVAL};
        }
        Urb urb{client, urbData, {}, urbData.data->client_addr};
        if (length > 0) {
            urb.buffer = resolve(urbData.data, offsetof(usbdevfs_urb, buffer),
                                 static_cast<std::size_t>(length));
        }
        if (type == USBDEVFS_URB_TYPE_CONTROL && endpoint == 0) {
            return control(std::move(urb));
        }
        if (type == USBDEVFS_URB_TYPE_BULK && endpoint == kBulkOut && spec_.bulkOut) {
            return bulkOut(std::move(urb));
        }
        if (type == USBDEVFS_URB_TYPE_BULK && endpoint == kBulkIn) {
            pendingIn_.push_back(std::move(urb));
            deliver();
            return {0, 0};
        }
        return {-1, EINVAL};
    }

    void finish(Urb urb, int status, int actual) {
        writeAt<int>(urb.urb.data, offsetof(usbdevfs_urb, status), status);
        writeAt<int>(urb.urb.data, offsetof(usbdevfs_urb, actual_length), actual);
        completed_.push_back(std::move(urb));
    }

    Result control(Urb urb) {
        UMockdevIoctlData* buf = urb.buffer.data;
        if (buf == nullptr || buf->data_len < static_cast<int>(kSetupSize)) {
            return {-1, EINVAL};
        }
        const auto requestType = buf->data[0];
        const auto request = buf->data[1];
        const auto value = static_cast<std::uint16_t>(buf->data[2] | buf->data[3] << 8);
        const auto wLength = static_cast<std::size_t>(buf->data[6] | buf->data[7] << 8);
        if (requestType == 0x40) {
            events_.push_back(vendorEvent(request, value));
            if (request == 0x02 && value == 0x0001 && ++purges_ == vanishOnPurge_) {
                vanish();
                return {-1, ENODEV};
            }
            finish(std::move(urb), 0, 0);
            return {0, 0};
        }
        std::optional<Bytes> reply;
        if (requestType == 0x80 && request == 6) { // GET_DESCRIPTOR
            const int kind = value >> 8;
            const int index = value & 0xFF;
            if (kind == 1) {
                reply = deviceDescriptor(spec_);
            } else if (kind == 2 && index == 0) {
                reply = configDescriptor(spec_);
            } else if (kind == 3) {
                static const char* const strings[] = {"", "TELMAR", "TELMAR box"};
                if (index == 0) {
                    reply = Bytes{4, 3, 0x09, 0x04};
                } else if (index == 3) {
                    reply = stringDescriptor(spec_.serial);
                } else if (index < 3) {
                    reply = stringDescriptor(strings[index]);
                }
            }
        }
        if (!reply) {
            finish(std::move(urb), -EPIPE, 0);
            return {0, 0};
        }
        const std::size_t room = static_cast<std::size_t>(buf->data_len) - kSetupSize;
        const std::size_t n = std::min({reply->size(), wLength, room});
        std::memcpy(buf->data + kSetupSize, reply->data(), n);
        finish(std::move(urb), 0, static_cast<int>(n));
        return {0, 0};
    }

    // The device leaves the bus: the kernel ends its pending transfers.
    void vanish() {
        gone_ = true;
        while (!pendingIn_.empty()) {
            Urb urb = std::move(pendingIn_.front());
            pendingIn_.pop_front();
            finish(std::move(urb), -ESHUTDOWN, 0);
        }
    }

    Result bulkOut(Urb urb) {
        const int length = urb.buffer.data != nullptr ? urb.buffer.data->data_len : 0;
        Bytes frame(urb.buffer.data != nullptr ? urb.buffer.data->data : nullptr,
                    urb.buffer.data != nullptr ? urb.buffer.data->data + length : nullptr);
        events_.push_back(outEvent(frame));
        finish(std::move(urb), 0, length);
        std::optional<Bytes> reply = responder_ ? responder_(frame) : std::nullopt;
        if (dropReplies_ > 0) {
            --dropReplies_;
            reply.reset();
        }
        if (reply) {
            inData_.push_back(std::move(*reply));
            deliver();
        }
        return {0, 0};
    }

    // Each reply completes one IN transfer, as the box ends it with a short packet.
    void deliver() {
        while (!inData_.empty() && !pendingIn_.empty()) {
            Urb urb = std::move(pendingIn_.front());
            pendingIn_.pop_front();
            Bytes& reply = inData_.front();
            const std::size_t room = urb.buffer.data != nullptr
                                         ? static_cast<std::size_t>(urb.buffer.data->data_len)
                                         : 0;
            const std::size_t n = std::min(room, reply.size());
            if (n > 0) {
                std::memcpy(urb.buffer.data->data, reply.data(), n);
            }
            reply.erase(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n));
            if (reply.empty()) {
                inData_.pop_front();
            }
            finish(std::move(urb), 0, static_cast<int>(n));
        }
    }

    Result reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        const auto it = std::find_if(completed_.begin(), completed_.end(),
                                     [client](const Urb& u) { return u.client == client; });
        if (it == completed_.end()) {
            return {-1, EAGAIN};
        }
        DataRef slot = resolve(arg, 0, sizeof(void*));
        if (!umockdev_ioctl_data_set_ptr(slot.data, 0, it->urb.data)) {
            throw std::runtime_error("cannot hand back the URB");
        }
        completed_.erase(it);
        return {0, 0};
    }

    Result discard(UMockdevIoctlClient* client, std::uint64_t address) {
        const auto it = std::find_if(pendingIn_.begin(), pendingIn_.end(), [&](const Urb& u) {
            return u.client == client && u.address == address;
        });
        if (it == pendingIn_.end()) {
            return {-1, EINVAL};
        }
        Urb urb = std::move(*it);
        pendingIn_.erase(it);
        finish(std::move(urb), -ENOENT, 0);
        return {0, 0};
    }

    DeviceSpec spec_;
    Responder responder_;
    mutable std::mutex mutex_;
    std::deque<Urb> pendingIn_;
    std::deque<Urb> completed_;
    std::deque<Bytes> inData_;
    std::vector<Event> events_;
    std::vector<unsigned long> unknown_;
    unsigned dropReplies_ = 0;
    unsigned purges_ = 0;
    unsigned vanishOnPurge_ = 0;
    bool gone_ = false;
};

namespace {

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    Result result{-1, EIO};
    try {
        result = static_cast<EmulatedDevice*>(user)->ioctl(client);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "usb emulation: %s\n", e.what());
    } catch (...) {
    }
    // Always complete: an ioctl left open would hang the client.
    umockdev_ioctl_client_complete(client, result.value, result.error);
    return TRUE;
}

void onClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    static_cast<EmulatedDevice*>(user)->clientGone(client);
}

} // namespace

struct UsbTestbed::Impl {
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::map<std::uint8_t, std::unique_ptr<EmulatedDevice>> devices;
    std::vector<UMockdevIoctlBase*> handlers;
    std::uint8_t nextDevnum = 2;
};

UsbTestbed::UsbTestbed() : impl_(std::make_unique<Impl>()) {
    impl_->testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(impl_->testbed);
    impl_->root = root;
    g_free(root);

    // The root hub: present on every real bus, and never one of ours.
    DeviceSpec hub{"0000:00:14.0", 0, 0x1D6B, 0x0002, true};
    Bytes descriptors = deviceDescriptor(hub);
    const Bytes config = configDescriptor(hub);
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    const std::string record = deviceRecord("usb1", 1, hub, descriptors, "");
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(impl_->testbed, record.c_str(), &error)) {
        const std::string message = error != nullptr ? error->message : "?";
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + message);
    }
}

UsbTestbed::~UsbTestbed() {
    for (UMockdevIoctlBase* h : impl_->handlers) {
        g_signal_handlers_disconnect_matched(h, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                             reinterpret_cast<gpointer>(&onIoctl), nullptr);
        g_signal_handlers_disconnect_matched(h, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                             reinterpret_cast<gpointer>(&onClientVanished),
                                             nullptr);
    }
    g_object_unref(impl_->testbed); // removes the tree and stops the handler thread
    for (UMockdevIoctlBase* h : impl_->handlers) {
        g_object_unref(h);
    }
}

void UsbTestbed::addDevice(const DeviceSpec& spec, Responder responder) {
    auto device = std::make_unique<EmulatedDevice>(spec, std::move(responder));
    Bytes descriptors = deviceDescriptor(spec);
    const Bytes config = configDescriptor(spec);
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    const std::uint8_t devnum = impl_->nextDevnum++;
    const std::string sysName = "1-" + std::to_string(spec.port);
    const std::string record = deviceRecord(sysName, devnum, spec, descriptors, "usb1/");
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(impl_->testbed, record.c_str(), &error)) {
        const std::string message = error != nullptr ? error->message : "?";
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + message);
    }
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03u", devnum);
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), device.get());
    g_signal_connect(handler, "client-vanished", G_CALLBACK(onClientVanished), device.get());
    if (!umockdev_testbed_attach_ioctl(impl_->testbed, node, handler, &error)) {
        const std::string message = error != nullptr ? error->message : "?";
        g_clear_error(&error);
        g_object_unref(handler);
        throw std::runtime_error("umockdev: " + message);
    }
    impl_->handlers.push_back(handler);
    impl_->devices.emplace(spec.port, std::move(device));
}

const std::string& UsbTestbed::rootDir() const {
    return impl_->root;
}

void UsbTestbed::exposeToOthersExceptNodes() {
    namespace fs = std::filesystem;
    const fs::path root(impl_->root);
    const fs::path nodes = root / "dev" / "bus" / "usb";
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& p = it->path();
        if (it->is_symlink(ec)) {
            continue;
        }
        const bool node = it->is_regular_file(ec) && p.string().rfind(nodes.string(), 0) == 0;
        if (node) {
            ::chmod(p.c_str(), 0600);
        } else if (it->is_directory(ec)) {
            ::chmod(p.c_str(), 0755);
        } else if (it->is_socket(ec)) {
            ::chmod(p.c_str(), 0666); // the preload library connects before it opens
        } else {
            ::chmod(p.c_str(), 0644);
        }
    }
    // The emulated uevent monitor makes its socket in the root.
    ::chmod(root.c_str(), 01777);
}

std::vector<Event> UsbTestbed::events(std::uint8_t port) const {
    return impl_->devices.at(port)->events();
}

void UsbTestbed::dropReplies(std::uint8_t port, unsigned count) {
    impl_->devices.at(port)->dropReplies(count);
}

void UsbTestbed::vanishOnPurge(std::uint8_t port, unsigned n) {
    impl_->devices.at(port)->vanishOnPurge(n);
}

std::vector<unsigned long> UsbTestbed::unknownRequests() const {
    std::vector<unsigned long> all;
    for (const auto& [port, device] : impl_->devices) {
        const auto u = device->unknown();
        all.insert(all.end(), u.begin(), u.end());
    }
    return all;
}

} // namespace telmar::test::usbemu
