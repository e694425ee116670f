/* Leaves a thread of its own running whose id belonged to a thread the process had before the
   daemon was loaded: once a thread is gone, the system gives its id to a later thread. */
#include <windows.h>

#include <tlhelp32.h>

#include <kestrune/daemon.h>

#include "report.h"

#define EndWait 15000
#define MostTries 20000

static StateWord state;
static volatile DWORD keptId; /* the thread with this id stays */

static DWORD WINAPI RunIfKept(LPVOID unused) {
    (void)unused;
    while (GetCurrentThreadId() == keptId) Sleep(20);
    return 0;
}

/* The process's other threads, as many as one wait takes, each held open so that its id is not
   given away meanwhile. */
static int OpenOtherThreads(HANDLE* threads, DWORD* ids) {
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more && count < MAXIMUM_WAIT_OBJECTS;
         more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() || entry.th32ThreadID == GetCurrentThreadId()) continue;
        threads[count] = OpenThread(SYNCHRONIZE, FALSE, entry.th32ThreadID);
        if (threads[count]) ids[count++] = entry.th32ThreadID;
    }
    CloseHandle(snapshot);
    return count;
}

/* The id of the first of them to end (idle thread-pool workers leave after a few seconds), or 0;
   closing the handles lets the system give that id away. */
static DWORD WaitForOneToEnd(void) {
    HANDLE threads[MAXIMUM_WAIT_OBJECTS];
    DWORD ids[MAXIMUM_WAIT_OBJECTS];
    int count = OpenOtherThreads(threads, ids);
    DWORD ended = 0;
    if (count > 0) {
        DWORD woke = WaitForMultipleObjects((DWORD)count, threads, FALSE, EndWait);
        if (woke < WAIT_OBJECT_0 + (DWORD)count) ended = ids[woke - WAIT_OBJECT_0];
    }
    for (int i = 0; i < count; ++i) CloseHandle(threads[i]);
    return ended;
}

/* Starts short-lived threads until one is given id, which is left running. */
static BOOL KeepThreadWithId(DWORD id) {
    keptId = id;
    for (int i = 0; i < MostTries; ++i) {
        DWORD given = 0;
        HANDLE thread = CreateThread(NULL, 0, RunIfKept, NULL, 0, &given);
        if (!thread) return FALSE;
        if (given != id) WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        if (given == id) return TRUE;
    }
    return FALSE;
}

void EntryPoint(void) {
    Report("entry");
    DWORD id = WaitForOneToEnd();
    if (!id) {
        Report("no-thread-ended");
    } else if (KeepThreadWithId(id)) {
        ReportNumber("kept-reused-id", (long long)id);
    } else {
        Report("id-never-given-again");
    }
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
