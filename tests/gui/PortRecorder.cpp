// Recording stand-in for SetComParam, SendData, GetUSBPort and the description calls.
#include "PortRecorder.h"

#include "VellPortDll.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

std::mutex g_describing;
std::condition_variable g_released;
bool g_held = false;
int g_waiting = 0;
std::mutex g_sending;
std::condition_variable g_sendsReleased;
bool g_sendsHeld = false;
int g_sendsWaiting = 0;
int g_sendResult = VELLPORT_OK;
std::string g_sendReason;
int g_sendDelivery = VELLPORT_DELIVERY_CONFIRMED;
// As the library keeps them: per thread, so only the thread that sent reads its answer.
thread_local std::string t_reason;
thread_local int t_delivery = VELLPORT_DELIVERY_NONE;

void Record(PortCall call) {
    const std::lock_guard lock(g_sending);
    RecordedPortCalls().push_back(std::move(call));
}

} // namespace

std::vector<PortCall>& RecordedPortCalls() {
    static std::vector<PortCall> calls;
    return calls;
}

std::size_t RecordedCallCount() {
    const std::lock_guard lock(g_sending);
    return RecordedPortCalls().size();
}

int SetComParam(const char* port, int baudRate, int dataBits, char parity, int stopBits, int flowControl) {
    Record({"SetComParam", port, baudRate, dataBits, parity, stopBits, flowControl, {}});
    return VELLPORT_OK;
}

int SendData(const char* port, const unsigned char* data, int count) {
    Record({"SendData", port, 0, 0, 0, 0, 0, {data, data + count}});
    std::unique_lock lock(g_sending);
    ++g_sendsWaiting;
    g_sendsReleased.wait_for(lock, std::chrono::seconds(5), [] { return !g_sendsHeld; });
    --g_sendsWaiting;
    t_reason = g_sendReason;
    t_delivery = g_sendDelivery;
    return g_sendResult;
}

void AnswerSends(int result, const std::string& reason, int delivery) {
    const std::lock_guard lock(g_sending);
    g_sendResult = result;
    g_sendReason = reason;
    g_sendDelivery = delivery;
}

void HoldSends(bool held) {
    const std::lock_guard lock(g_sending);
    g_sendsHeld = held;
    g_sendsReleased.notify_all();
}

int SendsHeld() {
    const std::lock_guard lock(g_sending);
    return g_sendsWaiting;
}

const char* VellPortLastError(void) {
    return t_reason.c_str();
}

int VellPortLastDelivery(void) {
    return t_delivery;
}

int VellPortExplainPermission(const char*, const char** group) {
    if (group != nullptr)
        *group = "dialout";
    return VELLPORT_FIX_JOIN_GROUP;
}

int GetUSBPort(void) {
    Record({"GetUSBPort", "", 0, 0, 0, 0, 0, {}});
    return VELLPORT_OK;
}

std::map<std::string, StandInPort>& StandInPorts() {
    static std::map<std::string, StandInPort> ports;
    return ports;
}

std::vector<std::string>& RecordedDescribes() {
    static std::vector<std::string> names;
    return names;
}

void HoldDescribes(bool held) {
    const std::lock_guard lock(g_describing);
    g_held = held;
    g_released.notify_all();
}

int DescribesHeld() {
    const std::lock_guard lock(g_describing);
    return g_waiting;
}

namespace {

// A description and the strings it points into, alive until freed.
struct Description {
    VellPortInfo info{};
    std::string name;
    StandInPort port;
};

std::map<VellPortInfo*, std::unique_ptr<Description>>& Descriptions() {
    static std::map<VellPortInfo*, std::unique_ptr<Description>> live;
    return live;
}

const char* TextOrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

} // namespace

std::size_t DescribeCount() {
    const std::lock_guard lock(g_describing);
    return RecordedDescribes().size();
}

int LiveDescriptions() {
    const std::lock_guard lock(g_describing);
    return static_cast<int>(Descriptions().size());
}

int VellPortDescribe(const char* port, VellPortInfo** info) {
    std::unique_lock lock(g_describing);
    RecordedDescribes().push_back(port);
    ++g_waiting;
    g_released.wait_for(lock, std::chrono::seconds(5), [] { return !g_held; });
    --g_waiting;
    std::string name(port);
    if (name.rfind("\\\\.\\", 0) == 0)
        name.erase(0, 4);
    if (name.rfind("COM", 0) != 0 || name.size() < 4)
        return VELLPORT_ERR_NAME;
    auto description = std::make_unique<Description>();
    description->name = name;
    const auto known = StandInPorts().find(name);
    if (known != StandInPorts().end() && known->second.state == kRefusedByItsMapLine) {
        t_reason = "VellPortDescribe(\"" + name + "\"): " + known->second.devicePath;
        return VELLPORT_ERR_NAME;
    }
    if (known != StandInPorts().end()) {
        description->port = known->second;
    } else {
        description->port.devicePath = "/dev/ttyS" + std::to_string(std::stoi(name.substr(3)) - 1);
        description->port.state = VELLPORT_STATE_MISSING;
    }
    const StandInPort& shown = description->port;
    VellPortInfo& out = description->info;
    out.portName = description->name.c_str();
    out.devicePath = shown.devicePath.c_str();
    out.state = shown.state;
    out.details.isUsb = shown.usb ? 1 : 0;
    out.details.vendorId = shown.vendorId;
    out.details.productId = shown.productId;
    out.details.manufacturer = TextOrNull(shown.manufacturer);
    out.details.product = TextOrNull(shown.product);
    *info = &out;
    Descriptions()[&out] = std::move(description);
    return VELLPORT_OK;
}

void VellPortFreeInfo(VellPortInfo* info) {
    const std::lock_guard lock(g_describing);
    Descriptions().erase(info);
}
