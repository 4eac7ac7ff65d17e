// Records the port link calls the window makes, in place of the real library, and answers descriptions from
// a table.
#pragma once

#include <map>
#include <string>
#include <vector>

struct PortCall {
    std::string function;
    std::string port;
    int baud = 0;
    int dataBits = 0;
    char parity = 0;
    int stopBits = 0;
    int flow = 0;
    std::vector<unsigned char> bytes;
};

std::vector<PortCall>&
RecordedPortCalls(); // read once the window's worker has settled; the count at any time
std::size_t RecordedCallCount();

// What the stand-in's VellPortDescribe answers for a port name ("COM3"); a name not in the table is described
// as the fixed rule's /dev/ttyS<n-1> with no device there.
// A name VellPortDescribe refuses, as the library does when its own map line is not valid.
constexpr int kRefusedByItsMapLine = -1;

struct StandInPort {
    std::string devicePath;
    int state = 0; // an enum VellPortState, or kRefusedByItsMapLine (devicePath is then the reason)
    bool usb = false;
    int vendorId = -1;
    int productId = -1;
    std::string manufacturer;
    std::string product;
};

std::map<std::string, StandInPort>& StandInPorts();
// The names VellPortDescribe was asked for, in order, kept apart from the calls the window must make (asked
// on the window's describing thread: read them once its answers are in).
std::vector<std::string>& RecordedDescribes();
// While held, VellPortDescribe waits inside the call (at most 5 s) as a kernel read of a USB string can.
void HoldDescribes(bool held);
int DescribesHeld();
// SendData answers result, and VellPortLastError and VellPortLastDelivery on the sending thread say reason
// and delivery, until called again (VELLPORT_OK, "", VELLPORT_DELIVERY_CONFIRMED at first).
void AnswerSends(int result, const std::string& reason, int delivery);
// While held, SendData waits inside the call (at most 5 s) as a send to a silent host does.
void HoldSends(bool held);
int SendsHeld();
// How many names VellPortDescribe was asked for so far, read under its lock.
std::size_t DescribeCount();
// Descriptions handed out and not yet freed.
int LiveDescriptions();
