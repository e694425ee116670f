#include "core/lifecycle.h"
#include "host_fixture.h"
#include "pe_edit.h"

namespace kestrune::test {
namespace {

using LoaderTest = HostFixture;

// Loads the daemon at path and runs it until its EntryPoint has returned; the record is then out
// of the table, as the reaper takes it out before the unload. Null when it did not load or end.
DaemonOwner RunToItsReturn(const std::wstring& path) {
    Daemon* daemon = AddDaemon(path, app.DaemonTable);
    if (!daemon) return nullptr;
    StartDaemonThread(daemon, RequestNone);
    const bool returned = WaitUntil([&] { return !IsThreadAlive(daemon->thread.get()); });
    DaemonOwner record = TakeOutOfTable(daemon);
    if (returned) return record;
    UnloadWhenHoldable(std::move(record));
    return nullptr;
}

TEST_F(LoaderTest, OnlyEntryPointLoadsWithoutStateWordOrMenu) {
    std::wstring path = Place(L"only_entry");
    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);
    EXPECT_NE(daemon->entryPointAddress, nullptr);
    EXPECT_EQ(daemon->stateWordAddress, nullptr);
    EXPECT_EQ(daemon->entryMenuAddress, nullptr);
    EXPECT_EQ(daemon->flags, 0u);
    EXPECT_EQ(daemon->request, 0);
    EXPECT_EQ(daemon->thread.get(), nullptr) << "loading starts no thread";
    EXPECT_EQ(ReadEvents(path), std::vector<std::string>{"attach"}) << "EntryPoint runs only on its own thread";
}

TEST_F(LoaderTest, CooperativeDaemonGetsItsStateWordOnTheLoadingThread) {
    std::wstring path = Place(L"cooperative");
    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);
    ASSERT_NE(daemon->stateWordAddress, nullptr);
    EXPECT_EQ(ReadEvents(path), (std::vector<std::string>{"attach", "state"}));
    HMODULE module = GetModuleHandleW(path.c_str());
    EXPECT_EQ(module, daemon->library.get());
}

TEST_F(LoaderTest, LibraryWithoutEntryPointIsFreedAndItsEntryStateNeverCalled) {
    std::wstring path = Place(L"no_entry_point");
    EXPECT_EQ(Add(path), nullptr);
    EXPECT_EQ(ReadEvents(path), (std::vector<std::string>{"attach", "detach"}));
    EXPECT_FALSE(IsModuleLoaded(path));
}

TEST_F(LoaderTest, EntryStateBelowTheOrdinalOneExportIsNotCalled) {
    std::wstring path = Place(L"state_below_bound");
    // The daemon's own layout must hold for the case to mean anything.
    HMODULE probe = LoadLibraryW(path.c_str());
    ASSERT_NE(probe, nullptr);
    auto state = reinterpret_cast<uintptr_t>(GetProcAddress(probe, "EntryState"));
    auto bound = reinterpret_cast<uintptr_t>(GetProcAddress(probe, MAKEINTRESOURCEA(1)));
    auto anchor = reinterpret_cast<uintptr_t>(GetProcAddress(probe, "Anchor"));
    ASSERT_EQ(bound, anchor);
    ASSERT_LT(state, bound);
    FreeLibrary(probe);

    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);
    EXPECT_EQ(daemon->stateWordAddress, nullptr);
    EXPECT_FALSE(HasEvent(path, "state"));
}

TEST_F(LoaderTest, NoOrdinalOneMeansBoundZeroSoEveryAddressPasses) {
    std::wstring path = Place(L"no_ordinal_one");
    HMODULE probe = LoadLibraryW(path.c_str());
    ASSERT_NE(probe, nullptr);
    ASSERT_EQ(GetProcAddress(probe, MAKEINTRESOURCEA(1)), nullptr);
    ASSERT_LT(reinterpret_cast<uintptr_t>(GetProcAddress(probe, "EntryState")),
              reinterpret_cast<uintptr_t>(GetProcAddress(probe, "EntryPoint")));
    FreeLibrary(probe);

    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);
    EXPECT_NE(daemon->stateWordAddress, nullptr);
    EXPECT_TRUE(HasEvent(path, "state"));
}

TEST_F(LoaderTest, UnusableStateWordsLeaveTheDaemonRunnableWithoutOne) {
    for (const wchar_t* name : {L"state_returns_zero", L"state_address_below_bound"}) {
        std::wstring path = Place(name);
        Daemon* daemon = Add(path);
        ASSERT_NE(daemon, nullptr) << name;
        EXPECT_TRUE(HasEvent(path, "state")) << name << ": EntryState is called";
        EXPECT_EQ(daemon->stateWordAddress, nullptr) << name;
        StartDaemonThread(daemon, RequestNone);
        EXPECT_TRUE(WaitForEntry(path)) << name << " runs";
        UnloadWhenHoldable(TakeOutOfTable(daemon));
    }
}

TEST_F(LoaderTest, EntryMenuBelowTheBoundIsDropped) {
    std::wstring path = Place(L"menu_below_bound");
    HMODULE probe = LoadLibraryW(path.c_str());
    ASSERT_NE(probe, nullptr);
    auto bound = reinterpret_cast<uintptr_t>(GetProcAddress(probe, MAKEINTRESOURCEA(1)));
    ASSERT_LT(reinterpret_cast<uintptr_t>(GetProcAddress(probe, "EntryMenu")), bound);
    ASSERT_GE(reinterpret_cast<uintptr_t>(GetProcAddress(probe, "EntryState")), bound);
    FreeLibrary(probe);

    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);
    EXPECT_EQ(daemon->entryMenuAddress, nullptr);
    EXPECT_NE(daemon->stateWordAddress, nullptr);
}

TEST_F(LoaderTest, FilesThatAreNoLibrariesAreRefused) {
    std::wstring text = folder.Make(L"text.dll");
    ASSERT_TRUE(WriteFileBytes(text, "this is not a library\r\n"));
    std::wstring empty = folder.Make(L"empty.dll");
    ASSERT_TRUE(WriteFileBytes(empty, ""));
    std::wstring refusing = Place(L"dllmain_false");
    for (const std::wstring& path : {text, empty, refusing}) {
        EXPECT_EQ(Add(path), nullptr);
        EXPECT_FALSE(IsModuleLoaded(path));
    }
    EXPECT_TRUE(HasEvent(refusing, "attach-refused"));
    EXPECT_EQ(LastDaemonIndex(), 0);
}

TEST_F(LoaderTest, ExportsOutsideTheImageAreNeverCalled) {
    std::string original = ReadFileBytes(TestDaemonPath(L"cooperative"));
    ASSERT_FALSE(original.empty());
    uint32_t outside = SizeOfImage(original) + 0x10000;

    std::string badEntry = original;
    ASSERT_TRUE(PatchExportRva(badEntry, "EntryPoint", outside));
    std::wstring badEntryPath = folder.Make(L"bad_entry.dll");
    ASSERT_TRUE(WriteFileBytes(badEntryPath, badEntry));
    EXPECT_EQ(Add(badEntryPath), nullptr) << "an EntryPoint that is no code refuses the library";
    EXPECT_FALSE(IsModuleLoaded(badEntryPath));

    std::string badState = original;
    ASSERT_TRUE(PatchExportRva(badState, "EntryState", outside));
    std::wstring badStatePath = folder.Make(L"bad_state.dll");
    ASSERT_TRUE(WriteFileBytes(badStatePath, badState));
    Daemon* daemon = Add(badStatePath);
    ASSERT_NE(daemon, nullptr) << "a bad EntryState only costs the state word";
    EXPECT_EQ(daemon->stateWordAddress, nullptr);
    EXPECT_FALSE(HasEvent(badStatePath, "state"));
}

// A damaged or foreign image fails quietly instead of raising a box that waits for a press.
TEST_F(LoaderTest, LoadingRunsWithTheSystemsErrorBoxesOffAndGivesTheModeBack) {
    DWORD before = 0;
    ASSERT_TRUE(SetThreadErrorMode(0, &before));
    std::wstring path = Place(L"reports_error_mode");
    ASSERT_NE(Add(path), nullptr);
    std::string expected = "error-mode " + std::to_string(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    EXPECT_TRUE(HasEvent(path, expected)) << "events: " << testing::PrintToString(ReadEvents(path));
    EXPECT_EQ(GetThreadErrorMode(), 0u) << "the thread's own mode comes back";
    SetThreadErrorMode(before, nullptr);
}

TEST_F(LoaderTest, StateWordThatCannotBeWrittenIsRefused) {
    // Read-only: writing 255 would fault. Misaligned: not one 32-bit word.
    for (const wchar_t* name : {L"state_word_read_only", L"state_word_misaligned"}) {
        std::wstring path = Place(name);
        Daemon* daemon = Add(path);
        ASSERT_NE(daemon, nullptr) << "the daemon still loads, without a state word";
        EXPECT_TRUE(HasEvent(path, "state"));
        EXPECT_EQ(daemon->stateWordAddress, nullptr) << testing::PrintToString(std::wstring(name));
    }
}

TEST_F(LoaderTest, FilePartIsTheTextAfterTheLastSeparator) {
    EXPECT_EQ(FilePartOf(L"C:\\app\\wild_magic\\clock\\clock.dll"), L"clock.dll");
    EXPECT_EQ(FilePartOf(L"C:\\app/wild_magic/x.dll"), L"x.dll");
    EXPECT_EQ(FilePartOf(L"plain.dll"), L"plain.dll");
    EXPECT_EQ(FilePartOf(L"C:\\folder\\"), L"");
}

// The public header's export macros: plain names on both targets, never a stdcall "@12".
TEST_F(LoaderTest, HeaderExportsEveryEntryUnderItsPlainName) {
    for (const wchar_t* name : {L"menu_good", L"menu_high_ids"}) {
        HMODULE module = LoadLibraryW(TestDaemonPath(name).c_str());
        ASSERT_NE(module, nullptr);
        for (const char* entry : {"EntryPoint", "EntryState", "EntryMenu"}) {
            EXPECT_NE(GetProcAddress(module, entry), nullptr) << entry;
        }
        EXPECT_EQ(GetProcAddress(module, "EntryMenu@12"), nullptr);
        EXPECT_EQ(GetProcAddress(module, "_EntryMenu@12"), nullptr);
        FreeLibrary(module);
    }
}

TEST_F(LoaderTest, UnloadingAnEndedDaemonFreesTheLibraryWithoutTerminating) {
    std::wstring path = Place(L"returns_at_once");
    DaemonOwner daemon = RunToItsReturn(path);
    ASSERT_NE(daemon, nullptr);
    DWORD exitCode = 99;
    GetExitCodeThread(daemon->thread.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u) << "the thread procedure returns 0";
    EXPECT_EQ(UnloadDaemon(std::move(daemon)), LibraryFate::Quarantined) << "nothing of it runs";
    EXPECT_TRUE(WaitForLibraryFreed(path));
    EXPECT_EQ(ReadEvents(path), (std::vector<std::string>{"attach", "entry", "return", "detach"}));
    UnloadDaemon(nullptr);
}

// "Start" right after "Stop": the library still waits in quarantine, and the start takes it back
// whole, its code runnable and its entry found.
TEST_F(LoaderTest, ADaemonStartedAgainDuringItsQuarantineRuns) {
    std::wstring path = Place(L"returns_at_once");
    DaemonOwner first = RunToItsReturn(path);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(UnloadDaemon(std::move(first)), LibraryFate::Quarantined);
    DaemonOwner again = RunToItsReturn(path);
    ASSERT_NE(again, nullptr) << "loaded again while in quarantine";
    EXPECT_EQ(UnloadDaemon(std::move(again)), LibraryFate::Quarantined);
    EXPECT_TRUE(WaitForLibraryFreed(path));
    EXPECT_EQ(ReadEvents(path), (std::vector<std::string>{"attach", "entry", "return", "entry", "return", "detach"}));
}

// The host's windows are listed once and the list kept while no window is made on its
// thread: a window a daemon makes after an earlier unload still goes with its library.
TEST_F(LoaderTest, AWindowMadeOnTheHostsThreadAfterAnEarlierUnloadGoesWithItsLibrary) {
    Daemon* earlier = Add(Place(L"cooperative"));
    Daemon* maker = Add(Place(L"menu_window_on_host_thread"));
    ASSERT_TRUE(earlier && maker && maker->entryMenuAddress);
    UnloadDaemon(TakeOutOfTable(earlier));
    HMENU menu = nullptr;
    HWND window = nullptr;
    ASSERT_EQ(maker->entryMenuAddress(&menu, &window, 0), 1);
    DestroyMenu(menu);
    ASSERT_TRUE(IsWindow(window));
    UnloadDaemon(TakeOutOfTable(maker));
    EXPECT_FALSE(IsWindow(window));
}

}  // namespace
}  // namespace kestrune::test
