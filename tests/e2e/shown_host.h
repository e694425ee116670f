// Hosts started with every daemon given running: in the tray (RunningHost), or with the window
// shown from the tray as well (ShownHost).
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "host_process.h"
#include "test_daemons.h"

namespace kestrune::test {

// A test daemon and its place inside wild_magic\ (by default name.dll).
struct Placement {
    Placement(const wchar_t* daemonName) : name(daemonName) {}
    Placement(std::wstring daemonName, std::wstring where) : name(std::move(daemonName)), relative(std::move(where)) {}
    std::wstring name;
    std::wstring relative;
};

// Files that are not to run can be put into wild_magic\ through host before Start.
class RunningHost {
public:
    RunningHost(std::initializer_list<Placement> daemons = {}) : host(folder) {
        for (const Placement& daemon : daemons) paths.push_back(host.AddDaemon(daemon.name, daemon.relative));
    }
    bool Start() {
        if (!host.Start() || !host.WaitForMainWindow()) return false;
        for (const std::wstring& path : paths) {
            if (!WaitForEntry(path)) return false;
        }
        return host.Sync();
    }
    int Row(const std::wstring& suffix) const { return host.RowEndingWith(suffix); }
    // A close request, and the host gone with exit code 0.
    bool Close() {
        DWORD exitCode = 1;
        return host.CloseAndWait(60s, &exitCode) && exitCode == 0;
    }

    TempFolder folder;
    HostProcess host;
    std::vector<std::wstring> paths;
};

class ShownHost : public RunningHost {
public:
    using RunningHost::RunningHost;
    bool Start() {
        if (!RunningHost::Start()) return false;
        host.PressTrayIcon();
        return WaitUntil([&] { return host.IsWindowShown(); }) && host.Sync();
    }
};

}  // namespace kestrune::test
