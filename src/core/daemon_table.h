// The table of loaded daemons.
#pragma once

#include <string>
#include <vector>

#include "core/daemon_record.h"

namespace kestrune {

// Loads the library at path and appends its record to the table; null when
// quitting, when path is no file, or when the library is refused.
Daemon* AddDaemon(const std::wstring& path, std::vector<DaemonOwner>& table);

// The first record whose path equals key regardless of letter case, or null.
Daemon* FindDaemonByPath(const std::wstring& key);

// Takes a record out of the table before it is unloaded: the last record takes its slot. Code
// that runs while the record is unloaded (its windows' teardown answering sent messages, the end
// of the session reached from there) then cannot find it, and so cannot unload it twice. Null
// when the record is not in the table.
DaemonOwner TakeOutOfTable(Daemon* daemon);

}  // namespace kestrune
