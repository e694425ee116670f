#include "daemon_table.h"

#include "application.h"
#include "case_fold.h"
#include "file_info.h"
#include "loader.h"

namespace kestrune {

Daemon* AddDaemon(const std::wstring& path, std::vector<Daemon*>& table) {
    if (IsQuitting()) return nullptr;
    FileInfo file = QueryFile(path);
    if (!file.exists || file.isFolder) return nullptr;
    Daemon* daemon = LoadDaemon(path);
    if (!daemon) return nullptr;
    table.push_back(daemon);
    return daemon;
}

Daemon* FindDaemonByPath(const std::wstring& key) {
    std::wstring lowerKey = LowerCaseCopy(key);
    for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        Daemon* daemon = app.DaemonTable[i];
        if (daemon && LowerCaseCopy(daemon->path) == lowerKey) return daemon;
    }
    return nullptr;
}

}  // namespace kestrune
