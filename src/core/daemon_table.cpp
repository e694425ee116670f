#include "core/daemon_table.h"

#include "core/application.h"
#include "core/case_fold.h"
#include "core/check.h"
#include "core/file_info.h"
#include "core/loader.h"

#include "fault/source_position.h"

namespace kestrune {

Daemon* AddDaemon(const std::wstring& path, std::vector<Daemon*>& table) {
    LN if (IsQuitting()) return nullptr;
    LN FileInfo file = QueryFile(path);
    LN if (!file.exists || file.isFolder) return nullptr;
    LN Daemon* daemon = LoadDaemon(path);
    LN if (!daemon) return nullptr;
    // Slot 0 stays empty: 0 is never a daemon's index.
    KESTRUNE_CHECK(!table.empty() && table.front() == nullptr);
    LN table.push_back(daemon);
    LN return daemon;
}

void TakeOutOfTable(Daemon* daemon) {
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN if (app.DaemonTable[i] != daemon) continue;
        LN std::swap(app.DaemonTable[i], app.DaemonTable.back());
        LN app.DaemonTable.pop_back();
        LN return;
    }
}

Daemon* FindDaemonByPath(const std::wstring& key) {
    LN std::wstring lowerKey = LowerCaseCopy(key);
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN Daemon* daemon = app.DaemonTable[i];
        LN if (LowerCaseCopy(daemon->path) == lowerKey) return daemon;
    }
    LN return nullptr;
}

}  // namespace kestrune
