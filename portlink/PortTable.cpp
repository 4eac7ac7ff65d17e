#include "PortTable.h"

namespace portlink {

PortTable& PortTable::instance() {
    static PortTable table;
    return table;
}

void PortTable::store(int portNumber, const PortParams& params) {
    Entry& entry = m_entries.at(static_cast<std::size_t>(portNumber));
    const std::lock_guard lock(entry.paramsLock);
    entry.params = params;
}

PortParams PortTable::params(int portNumber) const {
    const Entry& entry = m_entries.at(static_cast<std::size_t>(portNumber));
    const std::lock_guard lock(entry.paramsLock);
    return entry.params;
}

std::mutex& PortTable::portLock(int portNumber) {
    return m_entries.at(static_cast<std::size_t>(portNumber)).useLock;
}

} // namespace portlink
