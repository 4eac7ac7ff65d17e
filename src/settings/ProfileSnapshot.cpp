#include "settings/ProfileSnapshot.h"

#include "common/RegularFile.h"
#include "settings/IniFile.h"

#include <cerrno>

ProfileSnapshot::ProfileSnapshot(const std::string& path, std::size_t largestFile) {
    common::FileBytes file = common::readRegularFile(path, largestFile);
    m_tooLarge = file.error == EFBIG;
    if (file.outcome != common::FileBytes::Outcome::Read) {
        return;
    }
    // 8-bit text is kept as it is, without a copy of what may be a big file.
    m_text = detectProfileEncoding(file.bytes) == ProfileEncoding::Bytes ? std::move(file.bytes)
                                                                         : decodeProfileText(file.bytes);
}
