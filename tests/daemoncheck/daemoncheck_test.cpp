#include <windows.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "host_process.h"
#include "run_program.h"
#include "temp_folder.h"
#include "test_daemons.h"

namespace kestrune::test {
namespace {

// Generous: the 32-bit checker runs emulated.
constexpr DWORD CheckTimeout = 600000;
const std::wstring QuickRun = L"--settle 500 --wait 3000";

class DaemoncheckTest : public ::testing::Test {
protected:
    // Copies test daemon name into the test's folder and checks the copy.
    ProgramRun Check(const std::wstring& name, const std::wstring& options = QuickRun) {
        return CheckFile(Place(name), options);
    }

    std::wstring Place(const std::wstring& name) { return CopyTestDaemon(name, folder.path() + name + L".dll"); }

    ProgramRun CheckFile(const std::wstring& path, const std::wstring& options = QuickRun) {
        return Run(options + L" " + Quoted(path));
    }

    // Checks a folder in folder mode.
    ProgramRun CheckFolder(const std::wstring& path, const std::wstring& options = L"") {
        return Run(L"--folder " + options + L" " + Quoted(path));
    }

    ProgramRun Run(const std::wstring& arguments) {
        ProgramRun run =
            RunProgram(ProgramFolder() + L"daemoncheck.exe", arguments, folder.path() + L"output.txt", CheckTimeout);
        EXPECT_TRUE(run.started && run.finished) << "daemoncheck did not start or did not end";
        return run;
    }

    TempFolder folder;
};

// True when a line starts with prefix (level and topic, as "FAIL menu ids:") and contains fragment.
bool HasLine(const ProgramRun& run, const std::string& prefix, const std::string& fragment = "") {
    for (const std::string& line : run.lines) {
        if (line.rfind(prefix, 0) == 0 && line.find(fragment) != std::string::npos) return true;
    }
    return false;
}

int CountLines(const ProgramRun& run, const std::string& prefix, const std::string& fragment = "") {
    int count = 0;
    for (const std::string& line : run.lines)
        count += line.rfind(prefix, 0) == 0 && line.find(fragment) != std::string::npos;
    return count;
}

std::string Verdict(const ProgramRun& run) {
    for (auto line = run.lines.rbegin(); line != run.lines.rend(); ++line) {
        if (!line->empty()) return *line;
    }
    return {};
}

// What a daemon that did everything right leaves in the report.
void ExpectCleanLeftovers(const ProgramRun& run) {
    EXPECT_TRUE(HasLine(run, "ok   threads:")) << run.output;
    EXPECT_TRUE(HasLine(run, "ok   windows:")) << run.output;
    EXPECT_FALSE(HasLine(run, "FAIL handles:")) << run.output;
    EXPECT_FALSE(HasLine(run, "WARN windows:")) << run.output;
}

using DaemoncheckCommandLine = DaemoncheckTest;

TEST_F(DaemoncheckCommandLine, WrongArgumentsPrintUsageAndExitTwo) {
    for (const wchar_t* arguments : {L"", L"--settle", L"--wait 40000 x.dll", L"--frobnicate x.dll", L"a.dll b.dll"}) {
        ProgramRun run = Run(arguments);
        EXPECT_EQ(run.exitCode, 2u) << "arguments: " << std::string(arguments, arguments + wcslen(arguments));
        EXPECT_TRUE(HasLine(run, "usage: daemoncheck")) << run.output;
        EXPECT_FALSE(HasLine(run, "verdict:")) << run.output;
    }
}

TEST_F(DaemoncheckCommandLine, FilesThatAreNoDaemonFailWithoutCrashing) {
    ProgramRun missing = CheckFile(folder.path() + L"absent.dll");
    EXPECT_EQ(missing.exitCode, 1u);
    EXPECT_TRUE(HasLine(missing, "FAIL file:", "cannot be opened")) << missing.output;
    EXPECT_TRUE(HasLine(missing, "FAIL load:", "LoadLibraryW failed")) << missing.output;

    std::wstring text = folder.Make(L"text.dll");
    ASSERT_TRUE(WriteFileBytes(text, "not a library at all\r\n"));
    ProgramRun notPe = CheckFile(text);
    EXPECT_EQ(notPe.exitCode, 1u);
    EXPECT_TRUE(HasLine(notPe, "FAIL file:", "no MZ header")) << notPe.output;
    EXPECT_EQ(Verdict(notPe).rfind("verdict: FAIL", 0), 0u) << notPe.output;

    // The headers of a real daemon whose sections are cut off: every offset in them points past the end.
    std::wstring whole = Place(L"cooperative");
    HANDLE file = CreateFileW(whole.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string head(4096, '\0');
    DWORD read = 0;
    ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr);
    CloseHandle(file);
    head.resize(read);
    std::wstring cut = folder.Make(L"cut.dll");
    ASSERT_TRUE(WriteFileBytes(cut, head));
    ProgramRun truncated = CheckFile(cut);
    EXPECT_EQ(truncated.exitCode, 1u) << truncated.output;
    EXPECT_TRUE(HasLine(truncated, "info exports:", "EntryPoint not exported")) << truncated.output;
    EXPECT_TRUE(HasLine(truncated, "FAIL load:")) << truncated.output;
    EXPECT_FALSE(HasLine(truncated, "FAIL crash:")) << truncated.output;

    ProgramRun program = CheckFile(ProgramFolder() + L"daemoncheck.exe");
    EXPECT_EQ(program.exitCode, 1u);
    EXPECT_TRUE(HasLine(program, "FAIL file:", "a program, not a DLL")) << program.output;
}

using DaemoncheckLoad = DaemoncheckTest;

TEST_F(DaemoncheckLoad, CooperativeDaemonPassesEveryCheck) {
    std::wstring path = Place(L"cooperative");
    ProgramRun run = CheckFile(path);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(Verdict(run), "verdict: PASS (0 failures, 0 warnings)") << run.output;
    EXPECT_TRUE(HasLine(run, "ok   file:")) << run.output;
    EXPECT_TRUE(HasLine(run, "info exports: EntryPoint (ordinal 1), EntryState (ordinal 2), EntryMenu not exported"))
        << run.output;
    EXPECT_TRUE(HasLine(run, "info bound:", "ordinal 1 is EntryPoint")) << run.output;
    EXPECT_TRUE(HasLine(run, "ok   EntryState:", "the host writes 255 there")) << run.output;
    EXPECT_TRUE(HasLine(run, "ok   stop:", "after 255 was written")) << run.output;
    EXPECT_TRUE(HasLine(run, "ok   handles:")) << run.output;
    for (const char* counter : {"GDI objects:", "USER objects:"}) {  // counted, or said not to be
        EXPECT_TRUE(HasLine(run, std::string("ok   ") + counter) ||
                    HasLine(run, std::string("info ") + counter, "not counted on this system"))
            << counter << "\n"
            << run.output;
    }
    ExpectCleanLeftovers(run);
    EXPECT_TRUE(HasLine(run, "ok   unload:", "the host freed its library, and its DllMain detach returned"))
        << run.output;
    EXPECT_EQ(ReadEvents(path), (std::vector<std::string>{"attach", "state", "entry", "stop-seen", "return", "detach"}))
        << "loaded once, EntryState called once, stopped through its word, unloaded";
}

TEST_F(DaemoncheckLoad, RefusedLibrariesSayWhy) {
    ProgramRun noEntry = Check(L"no_entry_point");
    EXPECT_EQ(noEntry.exitCode, 1u);
    EXPECT_TRUE(HasLine(noEntry, "FAIL load:", "no EntryPoint export")) << noEntry.output;
    // Found in the file although the host looks nothing else up.
    EXPECT_TRUE(HasLine(noEntry, "info exports:", "EntryPoint not exported, EntryState (ordinal")) << noEntry.output;
    EXPECT_TRUE(HasLine(noEntry, "info exports:", "EntryMenu (ordinal")) << noEntry.output;
    EXPECT_FALSE(HasLine(noEntry, "ok   run:")) << noEntry.output;

    ProgramRun refused = Check(L"dllmain_false");
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_TRUE(HasLine(refused, "FAIL load:", "error 1114")) << refused.output;
    EXPECT_TRUE(HasLine(refused, "info load:", "DllMain")) << refused.output;
}

TEST_F(DaemoncheckLoad, EntriesTheBoundRejectsAreFailures) {
    ProgramRun stateBelow = Check(L"state_below_bound");
    EXPECT_EQ(stateBelow.exitCode, 1u);
    EXPECT_TRUE(HasLine(stateBelow, "FAIL EntryState:", "below the bound")) << stateBelow.output;
    EXPECT_TRUE(HasLine(stateBelow, "FAIL EntryState:", "the export with ordinal 1 is Anchor")) << stateBelow.output;
    EXPECT_TRUE(HasLine(stateBelow, "info bound:", "ordinal 1 is Anchor")) << stateBelow.output;
    EXPECT_TRUE(HasLine(stateBelow, "info stop:", "no state word")) << stateBelow.output;

    ProgramRun zero = Check(L"state_returns_zero");
    EXPECT_EQ(zero.exitCode, 1u);
    EXPECT_TRUE(HasLine(zero, "FAIL EntryState:", "returned 0:")) << zero.output;

    ProgramRun header = Check(L"state_address_below_bound");
    EXPECT_EQ(header.exitCode, 1u);
    EXPECT_TRUE(HasLine(header, "FAIL EntryState:", ", below the bound")) << header.output;
    EXPECT_TRUE(HasLine(header, "FAIL EntryState:", "returned 0x")) << header.output;

    ProgramRun menuBelow = Check(L"menu_below_bound");
    EXPECT_EQ(menuBelow.exitCode, 1u);
    EXPECT_TRUE(HasLine(menuBelow, "FAIL EntryMenu:", "below the bound")) << menuBelow.output;
    EXPECT_FALSE(HasLine(menuBelow, "info menu:")) << "the host never calls it: " << menuBelow.output;

    // Above the bound but no word the host could write: the host ignores it, and so must the verdict.
    ProgramRun readOnly = Check(L"state_word_read_only");
    EXPECT_EQ(readOnly.exitCode, 1u) << readOnly.output;
    EXPECT_TRUE(HasLine(readOnly, "FAIL EntryState:", "not a writable, aligned 32-bit word")) << readOnly.output;
    EXPECT_TRUE(HasLine(readOnly, "info stop:", "no state word")) << readOnly.output;

    ProgramRun noOrdinalOne = Check(L"no_ordinal_one");
    EXPECT_EQ(noOrdinalOne.exitCode, 0u) << noOrdinalOne.output;
    EXPECT_TRUE(HasLine(noOrdinalOne, "info bound:", "no export with ordinal 1")) << noOrdinalOne.output;
    EXPECT_TRUE(HasLine(noOrdinalOne, "ok   EntryState:")) << noOrdinalOne.output;
}

TEST_F(DaemoncheckLoad, DllOfTheOtherArchitectureIsNamedAsSuch) {
    // A real daemon whose header claims the other machine.
    std::wstring path = Place(L"cooperative");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    LONG peOffset = 0;
    SetFilePointer(file, 0x3C, nullptr, FILE_BEGIN);
    ReadFile(file, &peOffset, sizeof peOffset, &done, nullptr);
    const bool host64 = sizeof(void*) == 8;
    WORD otherMachine = host64 ? 0x014c : 0x8664;
    SetFilePointer(file, peOffset + 4, nullptr, FILE_BEGIN);
    ASSERT_TRUE(WriteFile(file, &otherMachine, sizeof otherMachine, &done, nullptr));
    CloseHandle(file);

    ProgramRun run = CheckFile(path);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(
        HasLine(run, "FAIL file:",
                host64 ? "32-bit DLL cannot load into the 64-bit host" : "64-bit DLL cannot load into the 32-bit host"))
        << run.output;
    EXPECT_TRUE(HasLine(run, "FAIL load:", "LoadLibraryW failed")) << run.output;
}

using DaemoncheckDiscovery = DaemoncheckTest;

// The host's own walk decides: the name's letter case, the depth, the folder it lies in.
TEST_F(DaemoncheckDiscovery, FilesTheHostNeverDiscoversAreFailuresThatSayWhy) {
    const std::wstring wild = folder.path() + L"wild_magic\\";
    ProgramRun misnamed = CheckFile(CopyTestDaemon(L"cooperative", wild + L"Tool.DLL"));
    EXPECT_EQ(misnamed.exitCode, 1u) << misnamed.output;
    EXPECT_TRUE(HasLine(misnamed, "FAIL discovery:", "never discovers \"Tool.DLL\"")) << misnamed.output;
    EXPECT_TRUE(HasLine(misnamed, "ok   stop:")) << "the other checks still run: " << misnamed.output;

    ProgramRun deep = CheckFile(CopyTestDaemon(L"cooperative", wild + L"one\\two\\deep.dll"));
    EXPECT_EQ(deep.exitCode, 1u) << deep.output;
    EXPECT_TRUE(HasLine(deep, "FAIL discovery: it lies 2 folders below wild_magic")) << deep.output;

    ProgramRun found = CheckFile(CopyTestDaemon(L"cooperative", wild + L"one\\found.dll"));
    EXPECT_EQ(found.exitCode, 0u) << found.output;
    EXPECT_TRUE(HasLine(found, "ok   discovery: the host discovers it as wild_magic\\one\\found.dll")) << found.output;

    ProgramRun elsewhere = Check(L"cooperative");
    EXPECT_TRUE(HasLine(elsewhere, "info discovery: not in a wild_magic folder")) << elsewhere.output;
}

// The host takes the current directory out of its DLL search; so does the checker, and both
// leave a daemon whose dependency lies only there without a row.
TEST_F(DaemoncheckDiscovery, DependencyOnlyInTheCurrentDirectoryGetsNoRowHereOrInTheHost) {
    TempFolder current;
    CopyTestDaemon(L"cwd_helper", current.path() + L"cwd_helper.dll");
    HostProcess host(folder);
    std::wstring dependent = host.AddDaemon(L"needs_cwd_helper", L"needs.dll");
    std::wstring control = host.AddDaemon(L"cooperative");

    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str()));  // inherited by the checker
    ProgramRun file = CheckFile(dependent);
    ProgramRun listing = CheckFolder(host.WildMagic());
    SetCurrentDirectoryW(previous);

    EXPECT_EQ(file.exitCode, 1u) << file.output;
    EXPECT_TRUE(HasLine(file, "FAIL load:", "error 126")) << file.output;
    EXPECT_TRUE(HasLine(file, "FAIL load: needs cwd_helper.dll", "nor the current directory")) << file.output;
    EXPECT_EQ(listing.exitCode, 1u) << listing.output;
    EXPECT_TRUE(HasLine(listing, "no row  needs.dll:", "needs cwd_helper.dll")) << listing.output;
    EXPECT_TRUE(HasLine(listing, "row     cooperative.dll:")) << listing.output;

    ASSERT_TRUE(host.Start(current.path()));
    ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
    ASSERT_TRUE(WaitForEntry(control));
    ASSERT_TRUE(host.Sync());
    EXPECT_EQ(host.RowEndingWith(L"\\needs.dll"), -1) << "the host agrees: no row";
    EXPECT_GE(host.RowEndingWith(L"\\cooperative.dll"), 0);
    EXPECT_FALSE(HasEvent(dependent, "attach"));
    ASSERT_TRUE(host.CloseAndWait(120s));
}

using DaemoncheckFolder = DaemoncheckTest;

// Good, hostile and misnamed files side by side: one line each, in the walk's order.
TEST_F(DaemoncheckFolder, MixedFolderGetsOneCorrectLinePerFile) {
    const std::wstring wild = folder.path() + L"wild_magic\\";
    CopyTestDaemon(L"cooperative", wild + L"good.dll");
    CopyTestDaemon(L"menu_good", wild + L"menus\\menu_good.dll");
    CopyTestDaemon(L"cooperative", wild + L"Tool.DLL");
    CopyTestDaemon(L"cooperative", wild + L"menus\\deeper\\deep.dll");
    CopyTestDaemon(L"no_entry_point", wild + L"no_entry.dll");
    CopyTestDaemon(L"state_returns_zero", wild + L"lost_word.dll");
    CopyTestDaemon(L"only_entry", wild + L"no_word.dll");
    CopyTestDaemon(L"fault_in_state", wild + L"crashes.dll");
    ASSERT_TRUE(CopyFileW(OtherArchitectureTestDaemon(L"cooperative").c_str(), (wild + L"foreign.dll").c_str(), FALSE))
        << "the other target's test daemons must be built";
    ASSERT_TRUE(WriteFileBytes(wild + L"notes.dll", "not a library"));

    ProgramRun run = CheckFolder(wild);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    const std::string otherBits = sizeof(void*) == 8 ? "32-bit" : "64-bit";
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"row     good.dll: ", "with its state word, no menu"},
        {"row     menus\\menu_good.dll: ", "with its state word and its menu"},
        {"skipped Tool.DLL: ", "not a daemon's name"},
        {"skipped menus\\deeper\\: ", "the host does not look inside it"},
        {"no row  no_entry.dll: ", "no EntryPoint export"},
        {"row     lost_word.dll: ", "but its state word is lost: EntryState returned 0"},
        {"row     no_word.dll: ", "without a state word"},
        {"no row  crashes.dll: ", ") in EntryState at"},
        {"no row  foreign.dll: ", otherBits + " DLL cannot load"},
        {"no row  notes.dll: ", "LoadLibraryW failed"},
    };
    for (const auto& [prefix, fragment] : expected) {
        EXPECT_EQ(CountLines(run, prefix), 1) << prefix << "\n" << run.output;
        EXPECT_TRUE(HasLine(run, prefix, fragment)) << prefix << fragment << "\n" << run.output;
    }
    int fileLines = CountLines(run, "row ") + CountLines(run, "no row ") + CountLines(run, "skipped ");
    EXPECT_EQ(fileLines, static_cast<int>(expected.size())) << run.output;
    EXPECT_TRUE(HasLine(run, "folder: 10 entries seen, 8 DLLs discovered, 4 with a row")) << run.output;
    EXPECT_EQ(Verdict(run), "verdict: FAIL (5 failures, 1 warning)") << run.output;
}

TEST_F(DaemoncheckFolder, CleanFolderPassesAndFullCheckRunsOnEachRow) {
    const std::wstring wild = folder.path() + L"wild_magic\\";
    std::wstring good = CopyTestDaemon(L"cooperative", wild + L"good.dll");
    CopyTestDaemon(L"menu_good", wild + L"menus\\menu_good.dll");
    CopyTestDaemon(L"cooperative", wild + L"readme.txt");

    ProgramRun quick = CheckFolder(wild);
    EXPECT_EQ(quick.exitCode, 0u) << quick.output;
    EXPECT_EQ(Verdict(quick), "verdict: PASS (0 failures, 0 warnings)") << quick.output;
    EXPECT_FALSE(HasEvent(good, "entry")) << "a row is decided at loading; nothing runs";

    ProgramRun full = CheckFolder(wild, L"--full " + QuickRun);
    EXPECT_EQ(full.exitCode, 0u) << full.output;
    EXPECT_EQ(CountLines(full, "verdict: PASS"), 3) << "one per daemon and the folder's: " << full.output;
    EXPECT_TRUE(HasEvent(good, "stop-seen")) << "the full check ran it";

    ProgramRun missing = CheckFolder(folder.path() + L"absent\\");
    EXPECT_EQ(missing.exitCode, 1u) << missing.output;
    EXPECT_TRUE(HasLine(missing, "FAIL folder: no such folder")) << missing.output;
}

// A full check of a folder adds a line for each file whose library the host keeps.
TEST_F(DaemoncheckFolder, FullCheckGivesAKeptLibraryItsOwnLine) {
    const std::wstring wild = folder.path() + L"wild_magic\\";
    CopyTestDaemon(L"cooperative", wild + L"good.dll");
    CopyTestDaemon(L"leaves_queue_timer", wild + L"timer.dll");

    ProgramRun run = CheckFolder(wild, L"--full " + QuickRun);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_TRUE(HasLine(run, "row     timer.dll: ", "with its state word")) << run.output;
    EXPECT_TRUE(HasLine(run,
                        "kept    timer.dll: the host keeps its library mapped after the daemon ended: its code "
                        "still ran after it returned (a timer, a wait or a queued call it left armed)"))
        << run.output;
    EXPECT_EQ(CountLines(run, "kept    "), 1) << "the polite one is freed: " << run.output;
    EXPECT_EQ(Verdict(run), "verdict: FAIL (1 failure, 0 warnings)") << run.output;
}

using DaemoncheckRun = DaemoncheckTest;

TEST_F(DaemoncheckRun, DaemonThatIgnoresItsWordWouldBeForceUnloaded) {
    std::wstring path = Place(L"ignores_word");
    ProgramRun run = CheckFile(path, L"--settle 300 --wait 300");
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_TRUE(HasLine(run, "FAIL stop:", "still running")) << run.output;
    EXPECT_TRUE(HasLine(run, "FAIL stop:", "unless it returns within 30 s")) << run.output;
    EXPECT_TRUE(HasLine(run, "FAIL stop:", "keeps its library, whose DllMain detach never runs")) << run.output;
    EXPECT_TRUE(HasLine(run, "ok   threads:")) << "its thread was terminated: " << run.output;
    EXPECT_TRUE(HasEvent(path, "entry"));
    EXPECT_FALSE(HasEvent(path, "detach")) << "ended by force: the host keeps its library and never tears it down";
}

TEST_F(DaemoncheckRun, DaemonsWithoutStateWordAreStoppedByForce) {
    ProgramRun forever = Check(L"only_entry");
    EXPECT_EQ(forever.exitCode, 0u) << "a missing state word is a warning: " << forever.output;
    EXPECT_TRUE(HasLine(forever, "WARN EntryState:", "not exported")) << forever.output;
    EXPECT_TRUE(HasLine(forever, "info stop:", "terminates its thread")) << forever.output;
    EXPECT_EQ(Verdict(forever), "verdict: PASS (0 failures, 1 warning)") << forever.output;
    ExpectCleanLeftovers(forever);

    ProgramRun quick = Check(L"returns_at_once");
    EXPECT_EQ(quick.exitCode, 0u) << quick.output;
    // Whether the host still saw its thread alive is a race; either way it is reported.
    EXPECT_TRUE(HasLine(quick, "info run:", "returned by itself") || HasLine(quick, "WARN run:", "already returned"))
        << quick.output;
    EXPECT_FALSE(HasLine(quick, "info stop:")) << "a daemon that has returned needs no stop: " << quick.output;
}

TEST_F(DaemoncheckRun, BusyDaemonStopsWithinTheWait) {
    ProgramRun run = Check(L"busy");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(HasLine(run, "ok   run:", "on a thread of its own")) << run.output;
    EXPECT_TRUE(HasLine(run, "ok   stop:", "returned")) << run.output;
    ExpectCleanLeftovers(run);
}

TEST_F(DaemoncheckRun, SlowCleanupIsTimedOrLeftOpenNeverCalledHung) {
    std::wstring path = Place(L"slow_cleanup");  // returns about a second after it sees 255
    ProgramRun patient = CheckFile(path, L"--settle 300");
    EXPECT_EQ(patient.exitCode, 0u) << patient.output;
    EXPECT_TRUE(HasLine(patient, "ok   stop: returned", "after 255 was written")) << patient.output;

    ProgramRun hasty = CheckFile(path, L"--settle 300 --wait 200");
    EXPECT_EQ(hasty.exitCode, 1u) << hasty.output;
    EXPECT_TRUE(HasLine(hasty, "FAIL stop:", "unless it returns within 30 s")) << hasty.output;
    EXPECT_FALSE(HasLine(hasty, "FAIL stop:", "ends it by force now")) << hasty.output;
}

// The report of a fault is made where a stack overflow leaves room for it, and names the entry.
TEST_F(DaemoncheckRun, CrashesGiveAVerdictThatNamesTheEntry) {
    ProgramRun overflow = Check(L"fault_stack_exhausted");
    EXPECT_EQ(overflow.exitCode, 1u) << overflow.output;
    EXPECT_TRUE(HasLine(overflow, "FAIL crash: exception 0xC00000FD (Stack overflow) in EntryPoint at",
                        "in the host this ends the whole process"))
        << overflow.output;
    EXPECT_EQ(Verdict(overflow).rfind("verdict: FAIL (1 failure", 0), 0u) << overflow.output;

    ProgramRun state = Check(L"fault_in_state");
    EXPECT_EQ(state.exitCode, 1u) << state.output;
    EXPECT_TRUE(HasLine(state, "FAIL crash: exception", ") in EntryState at")) << state.output;
    EXPECT_EQ(Verdict(state).rfind("verdict: FAIL", 0), 0u) << state.output;

    ProgramRun menu = Check(L"fault_in_menu");
    EXPECT_EQ(menu.exitCode, 1u) << menu.output;
    EXPECT_TRUE(HasLine(menu, "FAIL crash: exception", ") in EntryMenu at")) << menu.output;
}

using DaemoncheckMenu = DaemoncheckTest;

TEST_F(DaemoncheckMenu, GoodMenuIsListedWithItsWindow) {
    std::wstring path = Place(L"menu_good");
    ProgramRun run = CheckFile(path);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(HasLine(run, "info menu: placement 0 (context menu): EntryMenu returned 1")) << run.output;
    EXPECT_TRUE(HasLine(run, "info menu: placement 1 (tray menu): EntryMenu returned 1")) << run.output;
    // The tree, in walking order, once per placement.
    const std::vector<std::string> tree = {"        1      \"First\"",     "        2      \"Second\" (checked)",
                                           "        0      separator",     "        >      \"More\"",
                                           "            3      \"Third\"", "            199    \"Last\" (greyed)"};
    for (const std::string& item : tree) {
        EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), item), 2) << item << "\n" << run.output;
    }
    EXPECT_EQ(CountLines(run, "ok   menu ids: identifiers up to 199"), 2) << run.output;
    EXPECT_TRUE(HasLine(run,
                        "ok   menu window: message-only window of class \"KestruneTestMenuWindow\", owned by "
                        "the daemon's thread"))
        << run.output;
    ExpectCleanLeftovers(run);
    EXPECT_TRUE(HasEvent(path, "menu 0"));
    EXPECT_TRUE(HasEvent(path, "menu 1"));
    for (const std::string& event : ReadEvents(path)) EXPECT_NE(event.rfind("command", 0), 0u) << "nothing is chosen";
}

TEST_F(DaemoncheckMenu, BrokenMenusFail) {
    ProgramRun high = Check(L"menu_high_ids");
    EXPECT_EQ(high.exitCode, 1u);
    EXPECT_EQ(CountLines(high, "FAIL menu ids: identifiers reach 250"), 2) << high.output;

    ProgramRun null = Check(L"menu_null");
    EXPECT_EQ(null.exitCode, 1u);
    EXPECT_EQ(CountLines(null, "FAIL menu:"), 2) << null.output;
    EXPECT_TRUE(HasLine(null, "FAIL menu: placement 1 (tray menu): EntryMenu returned 1 but no menu")) << null.output;

    ProgramRun notMenu = Check(L"menu_not_a_menu");
    EXPECT_EQ(notMenu.exitCode, 1u);
    EXPECT_TRUE(HasLine(notMenu, "FAIL menu: placement 0", "which is not a menu")) << notMenu.output;
    ExpectCleanLeftovers(notMenu);

    ProgramRun reused = Check(L"menu_reused");
    EXPECT_EQ(reused.exitCode, 1u);
    EXPECT_TRUE(HasLine(reused, "FAIL menu: EntryMenu handed over the same menu twice")) << reused.output;
    EXPECT_EQ(CountLines(reused, "FAIL"), 1) << reused.output;

    ProgramRun crash = Check(L"menu_crashes");
    EXPECT_EQ(crash.exitCode, 1u) << crash.output;
    EXPECT_TRUE(HasLine(crash, "FAIL crash: exception 0xC0000005", "in menu_crashes.dll")) << crash.output;
    EXPECT_EQ(Verdict(crash).rfind("verdict: FAIL", 0), 0u) << crash.output;
}

// The unload destroys the window and its class, as the host's does: said once, nothing left open.
TEST_F(DaemoncheckMenu, WindowMadeInsideEntryMenuBelongsToTheHostAndGoesWithTheDaemon) {
    ProgramRun run = Check(L"menu_window_on_host_thread");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(HasLine(run, "FAIL menu window:", "owned by the host's main thread")) << run.output;
    EXPECT_EQ(CountLines(run, "FAIL windows:"), 1) << run.output;
    EXPECT_TRUE(HasLine(run, "FAIL windows: top-level window of class \"KestruneTestStrayWindow\" on the host's main",
                        "the host destroyed it at the unload"))
        << run.output;
    EXPECT_FALSE(HasLine(run, "WARN windows: window class \"KestruneTestStrayWindow\" is still registered"))
        << run.output;
    EXPECT_EQ(CountLines(run, "FAIL"), 2) << run.output;
}

// The two faults of 32-bit x86 alone: a decorated export name and a caller-cleans EntryMenu.
TEST_F(DaemoncheckMenu, CallingConventionOfEntryMenuIsChecked) {
    ProgramRun good = Check(L"menu_good");
    EXPECT_FALSE(HasLine(good, "FAIL menu:", "bytes on the stack")) << good.output;
    EXPECT_EQ(good.exitCode, 0u) << good.output;

    // x64 has a single calling convention; on 32-bit x86 a cdecl EntryMenu leaves its 12 bytes behind.
    ProgramRun callerCleans = Check(L"menu_cdecl");
    if (sizeof(void*) == 8) {
        EXPECT_EQ(callerCleans.exitCode, 0u) << callerCleans.output;
    } else {
        EXPECT_EQ(callerCleans.exitCode, 1u) << callerCleans.output;
        EXPECT_TRUE(HasLine(callerCleans, "FAIL menu: placement 0", "EntryMenu left 12 bytes on the stack"))
            << callerCleans.output;
        EXPECT_TRUE(HasLine(callerCleans, "FAIL menu: placement 1", "EntryMenu left 12 bytes on the stack"))
            << callerCleans.output;
    }
    EXPECT_TRUE(HasLine(callerCleans, "ok   menu window:")) << "the checker goes on unharmed: " << callerCleans.output;
}

TEST_F(DaemoncheckMenu, ExportNameOfEntryMenuIsChecked) {
    ProgramRun decorated = Check(L"menu_decorated");
    if (sizeof(void*) == 8) {
        EXPECT_EQ(decorated.exitCode, 0u) << decorated.output;
        EXPECT_TRUE(HasLine(decorated, "ok   EntryMenu:")) << decorated.output;
    } else {
        EXPECT_EQ(decorated.exitCode, 1u) << decorated.output;
        EXPECT_TRUE(HasLine(decorated, "FAIL exports: exports \"EntryMenu@12\" but no \"EntryMenu\"",
                            "KESTRUNE_EXPORT_ENTRY_MENU"))
            << decorated.output;
        EXPECT_TRUE(HasLine(decorated, "info EntryMenu: not exported")) << decorated.output;
    }
}

using DaemoncheckLeaks = DaemoncheckTest;

TEST_F(DaemoncheckLeaks, LeftoverHandleAndThreadAreFound) {
    ProgramRun handle = Check(L"leaks_handle");
    EXPECT_EQ(handle.exitCode, 1u);
    EXPECT_TRUE(HasLine(handle, "FAIL handles: 1 handle left behind")) << handle.output;
    EXPECT_TRUE(HasLine(handle, "FAIL handles:", "(Event)")) << handle.output;
    EXPECT_TRUE(HasLine(handle, "ok   threads:")) << handle.output;

    std::wstring path = Place(L"leaks_thread");
    ProgramRun thread = CheckFile(path);
    EXPECT_EQ(thread.exitCode, 1u);
    EXPECT_EQ(CountLines(thread, "FAIL threads:"), 1) << thread.output;
    EXPECT_TRUE(HasLine(thread, "FAIL threads:", "in the daemon) is still alive after the daemon ended"))
        << thread.output;
    EXPECT_TRUE(HasLine(thread, "ok   handles:")) << thread.output;
    EXPECT_FALSE(HasEvent(path, "detach")) << "the host keeps a library whose thread ran on, and never tears it down";
}

// The system gives an ended thread's id to a later one: a leftover with the id of a thread that
// was there before the load is still the daemon's.
TEST_F(DaemoncheckLeaks, LeftoverThreadWithTheIdOfAGoneOneIsFound) {
    std::wstring path = Place(L"leaks_thread_on_reused_id");
    ProgramRun run = CheckFile(path, L"--settle 500 --wait 25000");
    const long long id = LastNumber(path, "kept-reused-id");
    ASSERT_GT(id, 0) << "no id came back: " << ::testing::PrintToString(ReadEvents(path));
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_TRUE(HasLine(run, "FAIL threads:", "thread " + std::to_string(id) + " (started at ")) << run.output;
    EXPECT_FALSE(HasLine(run, "ok   threads:")) << run.output;
}

// Threads of the C runtime begin in its DLL: they are the daemon's because its code made them,
// and so is the thread that one of them made in turn.
TEST_F(DaemoncheckLeaks, ThreadsTheDaemonMadeThroughItsRuntimeAreLeftovers) {
    std::wstring path = Place(L"leaks_runtime_thread");
    ProgramRun run = CheckFile(path);
    ASSERT_TRUE(HasEvent(path, "grandchild")) << run.output;
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_EQ(CountLines(run, "FAIL threads:"), 2) << run.output;
    EXPECT_FALSE(HasLine(run, "FAIL threads:", "in the daemon)")) << "neither began in its image: " << run.output;
    EXPECT_EQ(CountLines(run, "FAIL threads:"), CountLines(run, "FAIL threads:", "the host keeps its library mapped"))
        << "both return into its code: " << run.output;
}

// Thread-pool workers, the timer thread and the registry's root handle are the system's: a
// daemon that uses them and releases what it made passes.
TEST_F(DaemoncheckLeaks, WhatTheSystemKeepsIsNotChargedToTheDaemon) {
    std::wstring path = Place(L"uses_system_services");
    ProgramRun run = CheckFile(path);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(Verdict(run), "verdict: PASS (0 failures, 0 warnings)") << run.output;
    ExpectCleanLeftovers(run);
    EXPECT_TRUE(HasLine(run, "ok   handles:")) << run.output;
    EXPECT_TRUE(HasLine(run, "ok   unload:", "the host freed its library"))
        << "its pool work touched nothing later: " << run.output;
    for (const char* event : {"pool-work", "pool-legacy-work", "pool-timer", "registry-read", "return"})
        EXPECT_TRUE(HasEvent(path, event)) << event << " did not happen";
}

using DaemoncheckLeftBehind = DaemoncheckTest;

// Whatever runs the daemon's code after it returned keeps its library mapped in the host, whose
// teardown then never runs: the checker ends as the host does, without it.
TEST_F(DaemoncheckLeftBehind, CodeStillRunningAfterTheReturnKeepsTheLibrary) {
    const std::string touched =
        "FAIL unload: its code still ran after it returned (a timer, a wait or a queued call "
        "it left armed): the host keeps its library mapped";
    const std::string keptCopy =
        "the host keeps its library mapped for the rest of its run, and a later start loads the same copy again "
        "without a fresh DllMain";
    const std::vector<std::tuple<std::wstring, std::string, std::string>> cases = {
        {L"leaves_queue_timer", touched, ""},
        {L"leaves_pool_timer", touched, ""},
        {L"leaves_worker_thread", "FAIL threads:", "in the daemon) is still alive after the daemon ended: " + keptCopy},
    };
    for (const auto& [daemon, prefix, fragment] : cases) {
        const std::string name(daemon.begin(), daemon.end());
        std::wstring path = Place(daemon);
        ProgramRun run = CheckFile(path);
        EXPECT_EQ(run.exitCode, 1u) << name << "\n" << run.output;
        EXPECT_TRUE(HasLine(run, prefix, fragment)) << name << "\n" << run.output;
        EXPECT_FALSE(HasLine(run, "ok   unload:")) << name << "\n" << run.output;
        EXPECT_TRUE(HasEvent(path, "return")) << name;
        EXPECT_FALSE(HasEvent(path, "detach")) << name << ": a kept library is never torn down";
    }
}

// Windows the daemon left on the host's thread are destroyed at the unload, and the quit request
// that a destruction makes is swallowed there: the check goes on to its end.
TEST_F(DaemoncheckLeftBehind, WindowsLeftOnTheHostThreadGoAtTheUnload) {
    ProgramRun ansi = Check(L"ansi_window_on_host_thread");
    EXPECT_EQ(ansi.exitCode, 1u) << ansi.output;
    EXPECT_TRUE(HasLine(ansi,
                        "FAIL windows: message-only ANSI window of class \"KestruneTestAnsiWindow\" on the host's "
                        "main thread was still open when the daemon ended",
                        "the host destroyed it at the unload"))
        << ansi.output;
    EXPECT_FALSE(HasLine(ansi, "FAIL windows:", "PostQuitMessage")) << ansi.output;
    EXPECT_TRUE(HasLine(ansi, "ok   windows: no window of the daemon is left open")) << ansi.output;

    ProgramRun quits = Check(L"quits_on_destroy");
    EXPECT_EQ(quits.exitCode, 1u) << quits.output;
    EXPECT_TRUE(HasLine(quits, "FAIL windows: top-level window of class \"KestruneTestQuitsOnDestroy\"",
                        "the host destroyed it at the unload"))
        << quits.output;
    EXPECT_TRUE(HasLine(quits,
                        "FAIL windows: destroying its window on the host's main thread asked that thread to quit "
                        "(PostQuitMessage): the host swallows that request"))
        << quits.output;
    EXPECT_EQ(CountLines(quits, "FAIL windows:"), 2)
        << "the input-method window that came with it is not the daemon's: " << quits.output;
    EXPECT_TRUE(HasLine(quits, "ok   unload:", "the host freed its library")) << quits.output;
}

// Without a state word Stop ends the daemon by force; its detach, which would wait for the lock
// the ended thread held, never runs.
TEST_F(DaemoncheckLeftBehind, DaemonEndedByForceNeverHasItsDetachRun) {
    std::wstring path = Place(L"detach_takes_work_lock");
    ProgramRun run = CheckFile(path);
    EXPECT_EQ(run.exitCode, 0u) << "a missing state word is a warning: " << run.output;
    EXPECT_TRUE(
        HasLine(run, "info stop: no state word: Stop ends it by force", "its DllMain detach never runs in the host"))
        << run.output;
    EXPECT_TRUE(HasLine(run, "WARN EntryState:", "its DllMain detach never run")) << run.output;
    EXPECT_TRUE(HasEvent(path, "entry"));
    EXPECT_FALSE(HasEvent(path, "detach"));
}

// A daemon that returned is freed on the host's main thread: a detach that never returns hangs it.
TEST_F(DaemoncheckLeftBehind, DetachThatNeverReturnsFails) {
    std::wstring path = Place(L"detach_waits_on_left_lock");
    ProgramRun run = CheckFile(path);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_TRUE(HasLine(run, "FAIL unload: its DllMain detach has not returned", "the host hangs")) << run.output;
    EXPECT_EQ(Verdict(run), "verdict: FAIL (1 failure, 0 warnings)") << run.output;
    EXPECT_TRUE(HasEvent(path, "detach-waits"));
    EXPECT_FALSE(HasEvent(path, "detach"));
}

}  // namespace
}  // namespace kestrune::test
