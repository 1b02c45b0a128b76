// SPDX-License-Identifier: MIT
#include "usb/LibusbDriver.h"

#include "base/Log.h"
#include "usb/ReceiveBuffer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <libusb.h>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>

namespace telmar::usb {

namespace {

using std::chrono::milliseconds;

// How long a queue check waits for the first byte, so back-to-back checks idle.
constexpr milliseconds kQueueCheckWait{1};
// Control requests are tiny; the box answers them at once or not at all.
constexpr unsigned kControlTimeoutMs = 1000;
// Bounded so that closing never hangs on a transfer the system will not give back.
constexpr milliseconds kCancelWait{2000};
constexpr std::uint32_t kDefaultTimeoutMs = 1000;
constexpr int kInterface = 0;

struct Endpoints {
    std::uint8_t in = 0;
    std::uint8_t out = 0;
    std::uint16_t inPacketSize = 0;
};

// Bulk IN and OUT of interface 0, alternate setting 0.
bool findBulkEndpoints(libusb_device* device, Endpoints& found) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) {
        return false;
    }
    bool haveIn = false;
    bool haveOut = false;
    for (std::uint8_t i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& iface = config->interface[i];
        for (int alt = 0; alt < iface.num_altsetting; ++alt) {
            const libusb_interface_descriptor& desc = iface.altsetting[alt];
            if (desc.bInterfaceNumber != kInterface || desc.bAlternateSetting != 0) {
                continue;
            }
            for (std::uint8_t e = 0; e < desc.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = desc.endpoint[e];
                if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
                    continue;
                }
                const bool in =
                    (ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
                if (in && !haveIn) {
                    found.in = ep.bEndpointAddress;
                    found.inPacketSize = ep.wMaxPacketSize & 0x7FF;
                    haveIn = true;
                } else if (!in && !haveOut) {
                    found.out = ep.bEndpointAddress;
                    haveOut = true;
                }
            }
        }
    }
    libusb_free_config_descriptor(config);
    return haveIn && haveOut && found.inPacketSize > 0;
}

std::vector<std::uint8_t> portPath(libusb_device* device) {
    std::array<std::uint8_t, 8> ports{};
    const int n = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    if (n <= 0) {
        return {};
    }
    return {ports.begin(), ports.begin() + n};
}

// "1-4.2": bus 1, port 4, port 2 of the hub behind it; the name sysfs gives it too.
std::string linkName(libusb_device* device) {
    std::string name = std::to_string(libusb_get_bus_number(device));
    char sep = '-';
    for (const std::uint8_t port : portPath(device)) {
        name += sep;
        name += std::to_string(port);
        sep = '.';
    }
    return name;
}

// One open handle. Lives until close, and until its IN transfer is back from libusb.
struct OpenDevice {
    libusb_device* device = nullptr;
    libusb_device_handle* usb = nullptr;
    Endpoints endpoints;
    ReceiveBuffer received;
    libusb_transfer* transfer = nullptr;
    std::vector<std::uint8_t> inBuffer;

    std::mutex mutex;
    std::condition_variable transferDone;
    bool inFlight = false;
    bool stopping = false;
    std::atomic<bool> gone{false};
    // Why the handle was lost, for lastError(); set once, before `gone`.
    std::string goneReason;
    std::once_flag goneOnce;

    void markGone(std::string_view why) {
        std::call_once(goneOnce, [&] {
            goneReason = why;
            TELMAR_LOG(base::LogArea::Usb, "device lost: " + goneReason);
        });
        gone = true;
        received.markBroken();
    }
};

std::string_view transferStatusName(libusb_transfer_status status) {
    switch (status) {
    case LIBUSB_TRANSFER_ERROR:
        return "LIBUSB_TRANSFER_ERROR";
    case LIBUSB_TRANSFER_STALL:
        return "LIBUSB_TRANSFER_STALL";
    case LIBUSB_TRANSFER_NO_DEVICE:
        return "LIBUSB_TRANSFER_NO_DEVICE";
    default:
        return "LIBUSB_TRANSFER_FAILED";
    }
}

void LIBUSB_CALL onBulkIn(libusb_transfer* transfer) {
    auto* dev = static_cast<OpenDevice*>(transfer->user_data);
    bool resubmit = false;
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
        // One IN transfer is one packet; a short one is where the box ended its reply.
        if (dev->received.append(
                {transfer->buffer, static_cast<std::size_t>(transfer->actual_length)},
                transfer->actual_length < transfer->length)) {
            resubmit = true;
        } else {
            dev->markGone("bulk IN: receive buffer full (a device that sends unasked)");
        }
        break;
    case LIBUSB_TRANSFER_TIMED_OUT:
    case LIBUSB_TRANSFER_OVERFLOW:
        resubmit = true;
        break;
    case LIBUSB_TRANSFER_CANCELLED:
        break;
    case LIBUSB_TRANSFER_NO_DEVICE:
    case LIBUSB_TRANSFER_ERROR:
    case LIBUSB_TRANSFER_STALL:
    default:
        // A stalled or failing IN pipe cannot deliver replies any more; treat the
        // handle as lost rather than spin on resubmissions.
        dev->markGone("bulk IN: " + std::string(transferStatusName(transfer->status)));
        break;
    }
    std::lock_guard lock(dev->mutex);
    if (resubmit && !dev->stopping) {
        const int rc = libusb_submit_transfer(transfer);
        if (rc == LIBUSB_SUCCESS) {
            return;
        }
        dev->markGone(std::string("bulk IN resubmit: ") + libusb_error_name(rc));
    }
    dev->inFlight = false;
    dev->transferDone.notify_all();
}

} // namespace

Status statusFromLibusb(int code) {
    if (code >= 0) {
        return kSuccess;
    }
    switch (code) {
    case LIBUSB_ERROR_INVALID_PARAM:
        return kInvalidParameter;
    case LIBUSB_ERROR_ACCESS:
        return kAccessDenied;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return kDeviceNotFound;
    case LIBUSB_ERROR_TIMEOUT:
        return kTimedOut;
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return kNotSupported;
    default: // IO, BUSY, OVERFLOW, PIPE, INTERRUPTED, NO_MEM, OTHER and anything newer
        return kDeviceIoFailed;
    }
}

std::string_view permissionHint() {
    return "telmar: no permission to open the USB device; install 60-telmar.rules into "
           "/etc/udev/rules.d, run 'sudo udevadm control --reload-rules && sudo udevadm trigger' "
           "and plug the box in again";
}

struct LibusbDriver::Impl {
    std::vector<UsbId> ids;
    std::ostream& err;
    libusb_context* context = nullptr;
    int initResult = LIBUSB_ERROR_OTHER;

    std::atomic<std::uint32_t> readTimeoutMs{kDefaultTimeoutMs};
    std::atomic<std::uint32_t> writeTimeoutMs{kDefaultTimeoutMs};
    std::atomic<bool> hintShown{false};

    std::mutex mutex; // guards devices, handles, nextHandle, eventThread
    std::vector<libusb_device*> devices;
    bool listed = false;
    std::map<Handle, std::shared_ptr<OpenDevice>> handles;
    Handle nextHandle = 1;

    std::thread eventThread;
    std::atomic<bool> stopEvents{false};

    mutable std::mutex errorMutex;
    std::string lastError;
    std::string reachProblem;

    void setReachProblem(std::string text) {
        std::lock_guard lock(errorMutex);
        reachProblem = std::move(text);
    }
    // A refusal by the system, for the user: which device, and where to look.
    void refused(libusb_device* device, int rc) {
        const std::string where = "USB " + linkName(device);
        if (rc == LIBUSB_ERROR_ACCESS) {
            setReachProblem("A device with the box's USB id (" + where +
                            ") is attached, but this user may not open it: run telmarctl doctor");
        } else if (rc == LIBUSB_ERROR_BUSY) {
            setReachProblem("The box (" + where +
                            ") is held by another program: run telmarctl doctor");
        }
    }

    // Keeps the operation and libusb's name for the failure; the status stays coarse.
    Status fail(std::string_view operation, std::string_view why, Status status) {
        std::string text = std::string(operation) + ": " + std::string(why);
        TELMAR_LOG(base::LogArea::Usb, text + " (status " + std::to_string(status) + ")");
        std::lock_guard lock(errorMutex);
        lastError = std::move(text);
        return status;
    }
    Status failLibusb(std::string_view operation, int rc) {
        return fail(operation, libusb_error_name(rc), statusFromLibusb(rc));
    }
    Status failGone(std::string_view operation, const OpenDevice& dev) {
        return fail(operation, "device gone (" + dev.goneReason + ")", kDeviceNotFound);
    }

    Impl(std::vector<UsbId> idList, std::ostream& errStream)
        : ids(std::move(idList)), err(errStream) {
        initResult = libusb_init(&context);
        if (initResult != LIBUSB_SUCCESS) {
            context = nullptr;
        }
    }

    ~Impl() {
        std::map<Handle, std::shared_ptr<OpenDevice>> left;
        {
            std::lock_guard lock(mutex);
            left.swap(handles);
        }
        for (auto& [handle, dev] : left) {
            shutDown(*dev);
        }
        if (eventThread.joinable()) {
            stopEvents = true;
            libusb_interrupt_event_handler(context);
            eventThread.join();
        }
        releaseList();
        if (context != nullptr) {
            libusb_exit(context);
        }
    }

    void releaseList() {
        for (libusb_device* d : devices) {
            libusb_unref_device(d);
        }
        devices.clear();
    }

    bool wanted(libusb_device* device) const {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(device, &desc) != LIBUSB_SUCCESS) {
            return false;
        }
        return std::find(ids.begin(), ids.end(), UsbId{desc.idVendor, desc.idProduct}) != ids.end();
    }

    // Caller holds `mutex`.
    int refreshList() {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(context, &list);
        if (n < 0) {
            return static_cast<int>(n);
        }
        releaseList();
        for (ssize_t i = 0; i < n; ++i) {
            if (wanted(list[i])) {
                devices.push_back(libusb_ref_device(list[i]));
            }
        }
        libusb_free_device_list(list, 1);
        const auto place = [](libusb_device* d) {
            return std::tuple(libusb_get_bus_number(d), portPath(d), libusb_get_device_address(d));
        };
        std::sort(devices.begin(), devices.end(),
                  [&](libusb_device* a, libusb_device* b) { return place(a) < place(b); });
        listed = true;
        return LIBUSB_SUCCESS;
    }

    // Caller holds `mutex`. A referenced device, or nullptr.
    libusb_device* deviceAt(std::uint32_t index) {
        if (!listed && refreshList() != LIBUSB_SUCCESS) {
            return nullptr;
        }
        if (index >= devices.size()) {
            return nullptr;
        }
        return libusb_ref_device(devices[index]);
    }

    std::shared_ptr<OpenDevice> find(Handle handle) {
        std::lock_guard lock(mutex);
        const auto it = handles.find(handle);
        return it == handles.end() ? nullptr : it->second;
    }

    // Caller holds `mutex`. The handle of a device this driver has open, if any.
    libusb_device_handle* openHandleOf(libusb_device* device) {
        for (auto& [handle, dev] : handles) {
            if (dev->device == device && !dev->gone) {
                return dev->usb;
            }
        }
        return nullptr;
    }

    int openUsb(libusb_device* device, libusb_device_handle** usb) {
        const int rc = libusb_open(device, usb);
        if (rc == LIBUSB_ERROR_ACCESS && !hintShown.exchange(true)) {
            err << permissionHint() << std::endl;
        }
        return rc;
    }

    int control(OpenDevice& dev, std::uint8_t request, std::uint16_t value) {
        const int rc = libusb_control_transfer(dev.usb, kVendorRequestType, request, value,
                                               kInterface, nullptr, 0, kControlTimeoutMs);
        if (rc == LIBUSB_ERROR_NO_DEVICE) {
            dev.markGone(std::string("control: ") + libusb_error_name(rc));
        }
        return rc;
    }

    void startEvents() {
        std::lock_guard lock(mutex);
        if (eventThread.joinable()) {
            return;
        }
        eventThread = std::thread([this] {
            while (!stopEvents) {
                timeval tv{0, 100000};
                libusb_handle_events_timeout_completed(context, &tv, nullptr);
            }
        });
    }

    // Stops the IN transfer and gives the device back; the handle is already unlisted.
    void shutDown(OpenDevice& dev) {
        {
            std::unique_lock lock(dev.mutex);
            dev.stopping = true;
            // A vanished device cannot give the transfer back; do not wait for it.
            if (dev.inFlight && libusb_cancel_transfer(dev.transfer) == LIBUSB_SUCCESS) {
                dev.transferDone.wait_for(lock, kCancelWait, [&] { return !dev.inFlight; });
            }
        }
        libusb_release_interface(dev.usb, kInterface);
        // Closing drops every transfer still pending on the handle, so the transfer
        // is ours to free afterwards whether or not it came back.
        libusb_close(dev.usb);
        libusb_free_transfer(dev.transfer);
        dev.transfer = nullptr;
        libusb_unref_device(dev.device);
    }
};

LibusbDriver::LibusbDriver(std::vector<UsbId> ids, std::ostream& err)
    : impl_(std::make_unique<Impl>(std::move(ids), err)) {}

LibusbDriver::~LibusbDriver() = default;

Status LibusbDriver::getNumDevices(std::uint32_t& count) {
    if (impl_->context == nullptr) {
        impl_->setReachProblem(std::string("libusb cannot start (") +
                               libusb_error_name(impl_->initResult) + "): run telmarctl doctor");
        return impl_->failLibusb("getNumDevices: libusb_init", impl_->initResult);
    }
    impl_->setReachProblem({});
    std::lock_guard lock(impl_->mutex);
    const int rc = impl_->refreshList();
    if (rc != LIBUSB_SUCCESS) {
        return impl_->failLibusb("getNumDevices", rc);
    }
    count = static_cast<std::uint32_t>(impl_->devices.size());
    return kSuccess;
}

Status LibusbDriver::getDeviceString(std::uint32_t index, char* buffer, std::uint32_t option) {
    if (buffer == nullptr || option > kStringPid) {
        return impl_->fail("getDeviceString", "invalid parameter", kInvalidParameter);
    }
    if (impl_->context == nullptr) {
        return impl_->failLibusb("getDeviceString: libusb_init", impl_->initResult);
    }
    std::unique_lock lock(impl_->mutex);
    libusb_device* device = impl_->deviceAt(index);
    if (device == nullptr) {
        return impl_->fail("getDeviceString", "no device at index " + std::to_string(index),
                           kDeviceNotFound);
    }
    std::unique_ptr<libusb_device, decltype(&libusb_unref_device)> deviceRef(device,
                                                                             &libusb_unref_device);
    libusb_device_descriptor desc{};
    const int descRc = libusb_get_device_descriptor(device, &desc);
    if (descRc != LIBUSB_SUCCESS) {
        return impl_->failLibusb("getDeviceString", descRc);
    }
    char text[kDeviceStringSize] = {};
    switch (option) {
    case kStringVid:
    case kStringPid:
        std::snprintf(text, sizeof text, "%04x",
                      option == kStringVid ? desc.idVendor : desc.idProduct);
        copyDeviceString(buffer, text);
        return kSuccess;
    case kStringLinkName:
        copyDeviceString(buffer, "usb:" + linkName(device));
        return kSuccess;
    default:
        break;
    }

    const std::uint8_t stringIndex =
        option == kStringSerialNumber ? desc.iSerialNumber : desc.iProduct;
    if (stringIndex == 0) {
        copyDeviceString(buffer, "");
        return kSuccess;
    }
    // Reading a string needs the device open; borrow our own handle when we have one.
    // The lock stays held while a borrowed handle is in use, so no close can race it.
    libusb_device_handle* usb = impl_->openHandleOf(device);
    const bool borrowed = usb != nullptr;
    if (!borrowed) {
        lock.unlock();
        const int rc = impl_->openUsb(device, &usb);
        if (rc != LIBUSB_SUCCESS) {
            impl_->refused(device, rc);
            return impl_->failLibusb("getDeviceString", rc);
        }
    }
    const int rc = libusb_get_string_descriptor_ascii(
        usb, stringIndex, reinterpret_cast<unsigned char*>(text), sizeof text - 1);
    if (!borrowed) {
        libusb_close(usb);
    }
    if (rc < 0) {
        return impl_->failLibusb("getDeviceString", rc);
    }
    copyDeviceString(buffer, {text, static_cast<std::size_t>(rc)});
    return kSuccess;
}

Status LibusbDriver::open(std::uint32_t index, Handle& handle) {
    handle = kNoHandle;
    if (impl_->context == nullptr) {
        return impl_->failLibusb("open: libusb_init", impl_->initResult);
    }
    auto dev = std::make_shared<OpenDevice>();
    {
        std::lock_guard lock(impl_->mutex);
        dev->device = impl_->deviceAt(index);
    }
    if (dev->device == nullptr) {
        return impl_->fail("open", "no device at index " + std::to_string(index), kDeviceNotFound);
    }
    const auto fail = [&](int rc) {
        impl_->refused(dev->device, rc);
        if (dev->usb != nullptr) {
            libusb_close(dev->usb);
        }
        libusb_unref_device(dev->device);
        return impl_->failLibusb("open", rc);
    };
    if (!findBulkEndpoints(dev->device, dev->endpoints)) {
        libusb_unref_device(dev->device);
        return impl_->fail("open", "no bulk IN and OUT endpoints on interface 0", kNotSupported);
    }
    if (const int rc = impl_->openUsb(dev->device, &dev->usb); rc != LIBUSB_SUCCESS) {
        dev->usb = nullptr;
        return fail(rc);
    }
    // The kernel's serial driver may hold the interface; libusb gives it back on release.
    libusb_set_auto_detach_kernel_driver(dev->usb, 1);
    if (const int rc = libusb_claim_interface(dev->usb, kInterface); rc != LIBUSB_SUCCESS) {
        return fail(rc);
    }
    const auto failClaimed = [&](int rc) {
        libusb_release_interface(dev->usb, kInterface);
        return fail(rc);
    };
    if (const int rc = impl_->control(*dev, kRequestEnable, kValueEnable); rc < 0) {
        return failClaimed(rc);
    }
    if (const int rc = impl_->control(*dev, kRequestControl, kValueDeviceOpen); rc < 0) {
        return failClaimed(rc);
    }
    dev->transfer = libusb_alloc_transfer(0);
    if (dev->transfer == nullptr) {
        return failClaimed(LIBUSB_ERROR_NO_MEM);
    }
    dev->inBuffer.resize(dev->endpoints.inPacketSize);
    libusb_fill_bulk_transfer(dev->transfer, dev->usb, dev->endpoints.in, dev->inBuffer.data(),
                              dev->endpoints.inPacketSize, &onBulkIn, dev.get(), 0);
    impl_->startEvents();
    {
        std::lock_guard lock(dev->mutex);
        if (const int rc = libusb_submit_transfer(dev->transfer); rc != LIBUSB_SUCCESS) {
            libusb_free_transfer(dev->transfer);
            return failClaimed(rc);
        }
        dev->inFlight = true;
    }
    std::lock_guard lock(impl_->mutex);
    handle = impl_->nextHandle++;
    impl_->handles.emplace(handle, std::move(dev));
    return kSuccess;
}

Status LibusbDriver::close(Handle handle) {
    std::shared_ptr<OpenDevice> dev;
    {
        std::lock_guard lock(impl_->mutex);
        const auto it = impl_->handles.find(handle);
        if (it == impl_->handles.end()) {
            return impl_->fail("close", "no such handle", kInvalidHandle);
        }
        dev = std::move(it->second);
        impl_->handles.erase(it);
    }
    Status status = kDeviceNotFound;
    if (dev->gone) {
        impl_->failGone("close", *dev);
    } else if (const int rc = impl_->control(*dev, kRequestControl, kValueDeviceClose); rc < 0) {
        status = impl_->failLibusb("close", rc);
    } else {
        status = kSuccess;
    }
    impl_->shutDown(*dev);
    return status;
}

Status LibusbDriver::read(Handle handle, void* buffer, std::uint32_t count,
                          std::uint32_t& bytesRead) {
    bytesRead = 0;
    const auto dev = impl_->find(handle);
    if (!dev) {
        return impl_->fail("read", "no such handle", kInvalidHandle);
    }
    if (buffer == nullptr && count > 0) {
        return impl_->fail("read", "invalid parameter", kInvalidParameter);
    }
    if (dev->gone) {
        return impl_->failGone("read", *dev);
    }
    const std::size_t n = dev->received.read({static_cast<std::uint8_t*>(buffer), count},
                                             milliseconds(impl_->readTimeoutMs.load()));
    if (dev->gone) {
        return impl_->failGone("read", *dev);
    }
    bytesRead = static_cast<std::uint32_t>(n);
    return kSuccess;
}

Status LibusbDriver::write(Handle handle, const void* buffer, std::uint32_t count,
                           std::uint32_t& bytesWritten) {
    bytesWritten = 0;
    const auto dev = impl_->find(handle);
    if (!dev) {
        return impl_->fail("write", "no such handle", kInvalidHandle);
    }
    if (buffer == nullptr && count > 0) {
        return impl_->fail("write", "invalid parameter", kInvalidParameter);
    }
    if (dev->gone) {
        return impl_->failGone("write", *dev);
    }
    if (count == 0) {
        return kSuccess;
    }
    const unsigned timeout = std::max<std::uint32_t>(impl_->writeTimeoutMs.load(), 1);
    int transferred = 0;
    // libusb takes a non-const buffer for both directions; OUT data is only read.
    auto* data = static_cast<unsigned char*>(const_cast<void*>(buffer));
    const int rc = libusb_bulk_transfer(dev->usb, dev->endpoints.out, data, static_cast<int>(count),
                                        &transferred, timeout);
    bytesWritten = static_cast<std::uint32_t>(std::max(transferred, 0));
    if (rc == LIBUSB_ERROR_NO_DEVICE) {
        dev->markGone(std::string("write: ") + libusb_error_name(rc));
        return impl_->fail("write", libusb_error_name(rc), kDeviceNotFound);
    }
    if (rc != LIBUSB_SUCCESS) {
        return impl_->fail("write", libusb_error_name(rc),
                           rc == LIBUSB_ERROR_TIMEOUT ? kTimedOut : kWriteError);
    }
    if (bytesWritten != count) {
        return impl_->fail(
            "write", std::to_string(bytesWritten) + " of " + std::to_string(count) + " bytes sent",
            kWriteError);
    }
    return kSuccess;
}

Status LibusbDriver::flushBuffers(Handle handle, std::uint8_t flushTransmit,
                                  std::uint8_t flushReceive) {
    const auto dev = impl_->find(handle);
    if (!dev) {
        return impl_->fail("flushBuffers", "no such handle", kInvalidHandle);
    }
    if (dev->gone) {
        return impl_->failGone("flushBuffers", *dev);
    }
    if (flushReceive != 0) {
        dev->received.clear();
    }
    if (flushTransmit == 0 && flushReceive == 0) {
        return kSuccess;
    }
    if (const int rc = impl_->control(*dev, kRequestControl, kValuePurge); rc < 0) {
        return impl_->failLibusb("flushBuffers", rc);
    }
    return kSuccess;
}

std::string LibusbDriver::lastError() const {
    std::lock_guard lock(impl_->errorMutex);
    return impl_->lastError;
}

std::string LibusbDriver::reachProblem() const {
    std::lock_guard lock(impl_->errorMutex);
    return impl_->reachProblem;
}

Status LibusbDriver::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    impl_->readTimeoutMs = readMs;
    impl_->writeTimeoutMs = writeMs;
    return kSuccess;
}

Status LibusbDriver::getTimeouts(std::uint32_t& readMs, std::uint32_t& writeMs) {
    readMs = impl_->readTimeoutMs;
    writeMs = impl_->writeTimeoutMs;
    return kSuccess;
}

Status LibusbDriver::checkRxQueue(Handle handle, std::uint32_t& bytesQueued,
                                  std::uint32_t& queueStatus) {
    bytesQueued = 0;
    queueStatus = kRxQueueEmpty;
    const auto dev = impl_->find(handle);
    if (!dev) {
        return impl_->fail("checkRxQueue", "no such handle", kInvalidHandle);
    }
    if (dev->gone) {
        return impl_->failGone("checkRxQueue", *dev);
    }
    const std::size_t n = dev->received.waitForData(kQueueCheckWait);
    if (dev->gone) {
        return impl_->failGone("checkRxQueue", *dev);
    }
    bytesQueued = static_cast<std::uint32_t>(std::min<std::size_t>(n, UINT32_MAX));
    queueStatus = n > 0 ? kRxQueueReady : kRxQueueEmpty;
    return kSuccess;
}

} // namespace telmar::usb
