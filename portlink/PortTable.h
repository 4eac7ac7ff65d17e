// The parameters stored per port number, and the lock that serialises the calls for each port.
#pragma once

#include "PortName.h"
#include "PortParams.h"

#include <array>
#include <mutex>

namespace portlink {

class PortTable {
public:
    // The one table of the process; ports are shared by every caller, like the devices they stand for.
    static PortTable& instance();

    void store(int portNumber, const PortParams& params);
    PortParams params(int portNumber) const;
    std::mutex& portLock(int portNumber);

private:
    struct Entry {
        mutable std::mutex paramsLock;
        PortParams params;
        std::mutex useLock;
    };
    std::array<Entry, kLastPort + 1> m_entries;
};

} // namespace portlink
