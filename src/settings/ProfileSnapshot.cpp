// One reading of the settings file, for a run of reads that must see one state of it and read it only once.
#include "settings/ProfileSnapshot.h"

#include "settings/ProfileFile.h"

ProfileSnapshot::ProfileSnapshot(const std::string& path) : m_text(readProfileText(path)) {}
