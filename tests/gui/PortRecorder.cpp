// Recording stand-in for SetComParam, SendData and GetUSBPort.
#include "PortRecorder.h"

#include "VellPortDll.h"

std::vector<PortCall>& RecordedPortCalls() {
    static std::vector<PortCall> calls;
    return calls;
}

int SetComParam(const char* port, int baudRate, int dataBits, char parity, int stopBits, int flowControl) {
    RecordedPortCalls().push_back(
        {"SetComParam", port, baudRate, dataBits, parity, stopBits, flowControl, {}});
    return VELLPORT_OK;
}

int SendData(const char* port, const unsigned char* data, int count) {
    RecordedPortCalls().push_back({"SendData", port, 0, 0, 0, 0, 0, {data, data + count}});
    return VELLPORT_OK;
}

int GetUSBPort(void) {
    RecordedPortCalls().push_back({"GetUSBPort", "", 0, 0, 0, 0, 0, {}});
    return VELLPORT_OK;
}
