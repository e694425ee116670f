#include <algorithm>
#include <set>

#include "core/discovery.h"
#include "core/file_info.h"
#include "core/lifecycle.h"
#include "core/utf8.h"
#include "host_fixture.h"

namespace kestrune::test {
namespace {

bool EndsWithDll(const std::wstring& name) {
    return name.size() >= 4 && name.compare(name.size() - 4, 4, L".dll") == 0;
}

bool IsDotName(const std::wstring& name) {
    return name == L"." || name == L"..";
}

struct Entry {
    std::wstring name;
    bool isFolder;
};

// The folder's entries in the order the file system hands them out.
std::vector<Entry> ListFolder(const std::wstring& folder) {
    std::vector<Entry> entries;
    WIN32_FIND_DATAW data;
    HANDLE listing = FindFirstFileW((folder + L"*").c_str(), &data);
    if (listing == INVALID_HANDLE_VALUE) return entries;
    do {
        entries.push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(listing, &data));
    FindClose(listing);
    return entries;
}

// What discovery must find, worked out independently: files ending in ".dll" in the
// base folder and its direct sub-folders, depth first in listing order.
std::vector<std::wstring> ExpectedPaths(const std::wstring& base, const std::wstring& skippedFolder = {}) {
    std::vector<std::wstring> expected;
    for (const Entry& entry : ListFolder(base)) {
        if (!entry.isFolder) {
            if (EndsWithDll(entry.name)) expected.push_back(base + entry.name);
        } else if (!IsDotName(entry.name) && entry.name != skippedFolder) {
            std::wstring sub = base + entry.name + L"\\";
            for (const Entry& inner : ListFolder(sub)) {
                if (!inner.isFolder && EndsWithDll(inner.name)) expected.push_back(sub + inner.name);
            }
        }
    }
    return expected;
}

// Found paths from index 1 on; slot 0 must stay empty.
std::vector<std::wstring> Found(const std::vector<std::wstring>& paths) {
    EXPECT_FALSE(paths.empty());
    if (paths.empty()) return {};
    EXPECT_EQ(paths[0], L"") << "slot 0 is never filled";
    return {paths.begin() + 1, paths.end()};
}

std::set<std::wstring> AsSet(const std::vector<std::wstring>& paths) {
    return {paths.begin(), paths.end()};
}

// Holds a folder open with no sharing, so nobody else can list it.
HandleOwner LockFolder(const std::wstring& folder) {
    return HandleOwner(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

class DiscoveryTest : public HostFixture {
protected:
    // Creates an empty file at base + relative, with its folders.
    void Touch(const std::wstring& relative) {
        ASSERT_TRUE(WriteFileBytes(folder.Make(L"wild_magic\\" + relative), "")) << ToUtf8(relative);
    }
    void MakeFolder(const std::wstring& relative) { CreateFolders(base + relative); }

    std::vector<std::wstring> Discover() {
        std::vector<std::wstring> paths;
        DiscoverDaemonsIn(base, paths);
        return paths;
    }

    const std::wstring base = folder.path() + L"wild_magic\\";
};

TEST_F(DiscoveryTest, MissingBaseFolderIsCreatedAndYieldsNothing) {
    ASSERT_FALSE(QueryFile(base).exists);
    std::vector<std::wstring> paths = {L"", L"C:\\left\\over.dll"};
    DiscoverDaemonsIn(base, paths);
    EXPECT_EQ(paths, std::vector<std::wstring>{L""});
    FileInfo created = QueryFile(base);
    EXPECT_TRUE(created.exists && created.isFolder);

    // Now present and empty: scanned, still nothing.
    EXPECT_EQ(Discover(), std::vector<std::wstring>{L""});
}

TEST_F(DiscoveryTest, FindsLowerCaseDllNamesInBaseAndDirectSubFoldersOnly) {
    for (const wchar_t* name : {L"a.dll", L".dll", L"tools\\b.dll", L"x.dll\\inner.dll", L"hidden.dll"}) Touch(name);
    for (const wchar_t* name :
         {L"A.DLL", L"a.Dll", L"b.dLL", L"a.dll.bak", L"a.dllx", L"adll", L"a.dl", L"tools\\B.DLL",
          L"tools\\old\\c.dll", L"tools\\y.dll\\deep.dll", L"x.dll\\inner.txt"}) {
        Touch(name);
    }
    MakeFolder(L"empty\\");
    MakeFolder(L"tools\\z.dll\\");
    // Hidden and system files are treated like any other.
    SetFileAttributesW((base + L"hidden.dll").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    // Entering ".." would reach this one; entering "." would list the base twice.
    ASSERT_TRUE(WriteFileBytes(folder.path() + L"parent.dll", ""));

    std::vector<std::wstring> found = Found(Discover());
    std::set<std::wstring> expected = {base + L"a.dll", base + L".dll", base + L"hidden.dll", base + L"tools\\b.dll",
                                       base + L"x.dll\\inner.dll"};
    EXPECT_EQ(AsSet(found), expected);
    EXPECT_EQ(found.size(), expected.size()) << "no path is recorded twice";
}

TEST_F(DiscoveryTest, ScanFolderNormalisesTheFolderAndHonoursTheDepthLimit) {
    for (const wchar_t* name : {L"one.dll", L"l2\\two.dll", L"l2\\l3\\three.dll", L"l2\\l3\\l4\\four.dll"}) Touch(name);
    // Forward slashes and no trailing separator: every recorded path uses "\".
    std::wstring slashed = base.substr(0, base.size() - 1);
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    std::vector<std::wstring> levels = {base + L"one.dll", base + L"l2\\two.dll", base + L"l2\\l3\\three.dll",
                                        base + L"l2\\l3\\l4\\four.dll"};
    struct Case {
        int maxDepth;
        size_t count;
    } cases[] = {{0, 1}, {1, 2}, {2, 3}, {-1, 4}};
    for (const Case& c : cases) {
        std::vector<std::wstring> paths(1);
        EXPECT_EQ(ScanFolder(slashed, paths, DaemonFilePattern, c.maxDepth), static_cast<int>(c.count)) << c.maxDepth;
        EXPECT_EQ(AsSet(Found(paths)), AsSet({levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(c.count)}))
            << "maxDepth " << c.maxDepth;
        EXPECT_EQ(paths.size(), c.count + 1) << "trimmed to count + 1";
        EXPECT_EQ(app.scan.level, 0);
        EXPECT_EQ(app.scan.pattern, nullptr) << "the compiled pattern is released";
        EXPECT_EQ(app.scan.matchData, nullptr);
    }
    // The pattern argument is what is matched.
    std::vector<std::wstring> paths(1);
    EXPECT_EQ(ScanFolder(base, paths, "^l?t.*$", -1), 2);
    EXPECT_EQ(AsSet(Found(paths)), AsSet({levels[1], levels[2]}));
}

TEST_F(DiscoveryTest, SubFoldersWithoutMatchesYieldLastIndexZero) {
    Touch(L"docs\\readme.txt");
    Touch(L"docs\\a.DLL");
    Touch(L"deep\\inner\\c.dll");
    MakeFolder(L"empty\\");
    EXPECT_EQ(Discover(), std::vector<std::wstring>{L""});
    std::vector<std::wstring> paths(1);
    EXPECT_EQ(ScanFolder(base, paths, DaemonFilePattern, 1), 0);
    EXPECT_EQ(paths.size(), 1u);
}

TEST_F(DiscoveryTest, OrderIsDepthFirstInListingOrder) {
    for (const wchar_t* name : {L"a.dll", L"m.dll", L"z.dll", L"q.txt", L"b\\b1.dll", L"b\\b2.dll", L"b\\note.txt",
                                L"n\\n1.dll", L"n\\sub\\deep.dll", L"y\\y1.dll"}) {
        Touch(name);
    }
    for (int i = 0; i < 12; ++i) Touch(L"f" + std::to_wstring(i) + L".dll");
    std::vector<std::wstring> expected = ExpectedPaths(base);
    ASSERT_EQ(expected.size(), 19u);
    // Only meaningful when a sub-folder's libraries fall between the base folder's own.
    auto firstNested = std::find_if(expected.begin(), expected.end(), [&](const std::wstring& p) {
        return p.find(L'\\', base.size()) != std::wstring::npos;
    });
    auto lastTopLevel = std::find_if(expected.rbegin(), expected.rend(), [&](const std::wstring& p) {
        return p.find(L'\\', base.size()) == std::wstring::npos;
    });
    ASSERT_TRUE(firstNested != expected.end() && firstNested < lastTopLevel.base());

    EXPECT_EQ(Found(Discover()), expected);
}

TEST_F(DiscoveryTest, ThousandsOfLibrariesAreAllRecorded) {
    // More than two growth steps of 2048, split so that one step is taken inside a sub-folder.
    std::set<std::wstring> expected;
    CreateFolders(base + L"more\\");
    for (int i = 0; i < 5000; ++i) {
        std::wstring path = base + (i < 3000 ? L"" : L"more\\") + std::to_wstring(i) + L".dll";
        ASSERT_TRUE(WriteFileBytes(path, ""));
        expected.insert(path);
    }
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(WriteFileBytes(base + L"more\\" + std::to_wstring(i) + L".txt", ""));

    std::vector<std::wstring> paths = Discover();
    EXPECT_EQ(paths.size(), 5001u) << "exactly count + 1 elements";
    EXPECT_EQ(AsSet(Found(paths)), expected);
    std::vector<std::wstring> scanned(1);
    EXPECT_EQ(ScanFolder(base, scanned, DaemonFilePattern, 1), 5000);
}

TEST_F(DiscoveryTest, NamesOutsideAsciiAreFoundExactlyAndSuchADaemonRuns) {
    const std::wstring matching[] = {
        L"caf\u00e9.dll",                       // accented Latin
        L"\u0434\u0435\u043c\u043e\u043d.dll",  // Cyrillic
        L"\u5b88\u62a4\u7a0b\u5e8f.dll",        // CJK
        L"\U0001F600.dll",                      // outside the Basic Multilingual Plane
        L"\u00fcber\\\u65e5\u672c\U00010348.dll",
    };
    const std::wstring other[] = {
        L"\u0434\u0435\u043c\u043e\u043d.DLL",
        L"caf\u00e9.dll.bak",
        L"\U0001F600.dl",
        L"wide\uff0e\uff44\uff4c\uff4c",  // full-width ".dll"
        L"\u00fcber\\\u0130.DLL",
    };
    std::set<std::wstring> expected;
    for (const std::wstring& name : matching) {
        Touch(name);
        expected.insert(base + name);
    }
    for (const std::wstring& name : other) Touch(name);
    std::wstring daemonPath = CopyTestDaemon(L"cooperative", base + L"\u00fcber\\\u0434\u0435\u043c\U0001F600.dll");
    expected.insert(daemonPath);

    std::vector<std::wstring> found = Found(Discover());
    EXPECT_EQ(AsSet(found), expected);
    ASSERT_EQ(found.size(), expected.size());

    Daemon* daemon = Add(daemonPath);
    ASSERT_NE(daemon, nullptr);
    EXPECT_EQ(daemon->path, daemonPath);
    StartDaemonThread(daemon, RequestNone);
    ASSERT_TRUE(WaitForEntry(daemonPath));
    SetDaemonRequest(daemon, RequestStop);
    EXPECT_TRUE(TickDaemon(daemon));
    EXPECT_TRUE(WaitForEvent(daemonPath, "return"));
}

// Names reach the matcher unchecked, so the encoding must be valid UTF-8 and equal the
// system's for every name, lone surrogates included.
TEST(FileNameEncodingTest, AgreesWithTheSystemConversion) {
    const std::wstring names[] = {
        L"plain.dll",
        L"caf\u00e9 \u00ff\u0100\u07ff\u0800.dll",
        L"\u5b88\uffff\ue000\ud7ff.dll",
        L"\U0001F600\U00010000\U0010FFFF.dll",
        L"high\xD800",
        L"high\xDBFFx.dll",
        L"\xDC00low.dll",
        L"\xDC00\xD800swapped",
        L"\xD800\xD800\xDC00",
        std::wstring(MAX_PATH - 1, L'\u20ac'),
    };
    for (const std::wstring& name : names) {
        char encoded[MAX_PATH * 3];
        size_t size = EncodeFileName(name.c_str(), encoded);
        EXPECT_EQ(std::string(encoded, size), ToUtf8(name)) << "name of " << name.size() << " units";
    }
}

TEST_F(DiscoveryTest, UnlistableSubFolderIsSkippedAndTheWalkGoesOn) {
    for (const wchar_t* name : {L"a.dll", L"k.dll", L"z.dll", L"b\\b.dll", L"m\\locked.dll", L"y\\y.dll"}) Touch(name);
    std::wstring locked = base + L"m";
    HandleOwner lock = LockFolder(locked);
    ASSERT_TRUE(lock);
    WIN32_FIND_DATAW data;
    ASSERT_EQ(FindFirstFileW((locked + L"\\*.*").c_str(), &data), INVALID_HANDLE_VALUE);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // Something must come after the locked folder in the listing for the test to mean anything.
    std::vector<Entry> listing = ListFolder(base);
    auto at = std::find_if(listing.begin(), listing.end(), [](const Entry& e) { return e.name == L"m"; });
    ASSERT_TRUE(at != listing.end() && std::any_of(at + 1, listing.end(), [](const Entry& e) {
                    return EndsWithDll(e.name) || (e.isFolder && !IsDotName(e.name));
                }));

    std::vector<std::wstring> expected = ExpectedPaths(base, L"m");
    ASSERT_EQ(expected.size(), 5u);
    EXPECT_EQ(Found(Discover()), expected);

    // A base folder that cannot be listed yields nothing and leaves no scan half open.
    HandleOwner baseLock = LockFolder(base);
    ASSERT_TRUE(baseLock);
    EXPECT_EQ(Discover(), std::vector<std::wstring>{L""});
    EXPECT_EQ(app.scan.level, 0);
    EXPECT_EQ(app.scan.pattern, nullptr);
    baseLock.reset();
    lock.reset();
    EXPECT_EQ(Found(Discover()).size(), 6u);
}

// Runs a program to its end and returns its exit code (high values when it could not).
DWORD RunProgram(const std::wstring& program, const std::wstring& argument, const std::wstring& currentFolder) {
    std::wstring commandLine = L"\"" + program + L"\" \"" + argument + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, currentFolder.c_str(),
                        &startup, &process)) {
        return static_cast<DWORD>(-1);
    }
    HandleOwner processOwner(process.hProcess), threadOwner(process.hThread);
    // Generous: the 32-bit program runs emulated (1 to 5 s in 160 runs). Within the suite's own
    // time-out, so that a program that never ends fails this case by name.
    if (WaitForSingleObject(process.hProcess, 60 * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        return static_cast<DWORD>(-2);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
}

std::vector<std::wstring> ReadLines(const std::wstring& path) {
    std::vector<std::wstring> lines;
    std::string text = ReadFileBytes(path);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(FromUtf8(text.substr(start, end - start)));
    }
    return lines;
}

TEST_F(DiscoveryTest, DiscoverDaemonsSearchesBesideTheProgramFile) {
    // The program's folder has spaces and letters outside ASCII; the current folder is
    // elsewhere, with a decoy wild_magic of its own.
    std::wstring home = folder.Make(L"Kestr\u00fcne \u041f\u0440\u043e\u0431\u0430\\");
    CreateFolders(home);
    std::wstring probe = home + L"probe.exe";
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"discovery_probe.exe").c_str(), probe.c_str(), FALSE));
    std::wstring wildMagic = home + L"wild_magic\\";
    for (const wchar_t* name : {L"a.dll", L"sub\\b.dll"}) {
        ASSERT_TRUE(WriteFileBytes(folder.Make(home.substr(folder.path().size()) + L"wild_magic\\" + name), ""));
    }
    std::wstring decoy = folder.path() + L"elsewhere\\";
    ASSERT_TRUE(WriteFileBytes(folder.Make(L"elsewhere\\wild_magic\\decoy.dll"), ""));

    std::wstring output = folder.path() + L"found.txt";
    ASSERT_EQ(RunProgram(probe, output, decoy), 0u) << "4294967294: the program did not end within 60 s";
    std::vector<std::wstring> lines = ReadLines(output);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"count 3");
    EXPECT_EQ(lines[1], L"");
    EXPECT_EQ(AsSet({lines.begin() + 2, lines.end()}), AsSet({wildMagic + L"a.dll", wildMagic + L"sub\\b.dll"}));
}

}  // namespace
}  // namespace kestrune::test
