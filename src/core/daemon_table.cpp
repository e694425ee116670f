#include "core/daemon_table.h"

#include <utility>

#include "core/application.h"
#include "core/case_fold.h"
#include "core/check.h"
#include "core/file_info.h"
#include "core/loader.h"

#include "fault/source_position.h"

namespace kestrune {

Daemon* AddDaemon(const std::wstring& path, std::vector<DaemonOwner>& table) {
    LN if (IsQuitting()) return nullptr;
    LN FileInfo file = QueryFile(path);
    LN if (!file.exists || file.isFolder) return nullptr;
    LN DaemonOwner daemon = LoadDaemon(path);
    LN if (!daemon) return nullptr;
    // Slot 0 stays empty: 0 is never a daemon's index.
    KESTRUNE_CHECK(!table.empty() && table.front() == nullptr);
    LN table.push_back(std::move(daemon));
    LN return table.back().get();
}

DaemonOwner TakeOutOfTable(Daemon* daemon) {
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN if (app.DaemonTable[i].get() != daemon) continue;
        LN std::swap(app.DaemonTable[i], app.DaemonTable.back());
        LN DaemonOwner taken = std::move(app.DaemonTable.back());
        LN app.DaemonTable.pop_back();
        LN return taken;
    }
    LN return nullptr;
}

Daemon* FindDaemonByPath(const std::wstring& key) {
    LN std::wstring lowerKey = LowerCaseCopy(key);
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN Daemon* daemon = app.DaemonTable[i].get();
        LN if (LowerCaseCopy(daemon->path) == lowerKey) return daemon;
    }
    LN return nullptr;
}

}  // namespace kestrune
