#include "system_warm_up.h"

#include <windows.h>

#include <objbase.h>

#include "core/owner.h"
#include "core/safe_point.h"

namespace daemoncheck {
namespace {

constexpr DWORD WarmUpWait = 10000;

void CALLBACK SignalSimpleCallback(PTP_CALLBACK_INSTANCE, PVOID event) {
    SetEvent(static_cast<HANDLE>(event));
}

DWORD WINAPI SignalWorkItem(LPVOID event) {
    SetEvent(static_cast<HANDLE>(event));
    return 0;
}

void CALLBACK SignalTimer(PVOID event, BOOLEAN) {
    SetEvent(static_cast<HANDLE>(event));
}

// Work, a timer and a wait each make the pool start threads and objects of its own once.
void WarmUpThreadPool() {
    kestrune::HandleOwner done(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!done) return;
    if (TrySubmitThreadpoolCallback(SignalSimpleCallback, done.get(), nullptr))
        WaitForSingleObject(done.get(), WarmUpWait);
    if (QueueUserWorkItem(SignalWorkItem, done.get(), WT_EXECUTEDEFAULT)) WaitForSingleObject(done.get(), WarmUpWait);
    HANDLE timer = nullptr;
    if (CreateTimerQueueTimer(&timer, nullptr, SignalTimer, done.get(), 1, 0, WT_EXECUTEONLYONCE)) {
        WaitForSingleObject(done.get(), WarmUpWait);
        DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    }
    kestrune::HandleOwner signalled(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    HANDLE wait = nullptr;
    if (signalled &&
        RegisterWaitForSingleObject(&wait, signalled.get(), SignalTimer, done.get(), WarmUpWait, WT_EXECUTEONLYONCE)) {
        WaitForSingleObject(done.get(), WarmUpWait);
        UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
    }
}

// The first use of a predefined key opens the root for the process and keeps it.
void WarmUpRegistry() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, L"Software", 0, KEY_READ, &key) == ERROR_SUCCESS) RegCloseKey(key);
    }
}

DWORD WINAPI EnterAndLeaveApartment(LPVOID) {
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) CoUninitialize();
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) CoUninitialize();
    return 0;
}

void WarmUpCom() {
    // The host enters a single-threaded apartment on its main thread at start and stays in it.
    static const HRESULT hostApartment = CoInitialize(nullptr);
    (void)hostApartment;
    kestrune::HandleOwner thread(CreateThread(nullptr, 0, EnterAndLeaveApartment, nullptr, 0, nullptr));
    if (thread) WaitForSingleObject(thread.get(), WarmUpWait);
}

void WarmUpSockets() {
    // Loaded for good and never cleaned up: the socket layer stays started for the process.
    HMODULE sockets = LoadLibraryW(L"ws2_32.dll");
    if (!sockets) return;
    using Startup = int(WINAPI*)(WORD, void*);
    using Socket = UINT_PTR(WINAPI*)(int, int, int);
    using Close = int(WINAPI*)(UINT_PTR);
    auto startup = reinterpret_cast<Startup>(reinterpret_cast<void*>(GetProcAddress(sockets, "WSAStartup")));
    auto socket = reinterpret_cast<Socket>(reinterpret_cast<void*>(GetProcAddress(sockets, "socket")));
    auto close = reinterpret_cast<Close>(reinterpret_cast<void*>(GetProcAddress(sockets, "closesocket")));
    if (!startup || !socket || !close) return;
    alignas(8) unsigned char data[1024] = {};  // WSADATA, which differs between the targets
    if (startup(MAKEWORD(2, 2), data) != 0) return;
    constexpr int InternetFamily = 2, StreamSocket = 1;
    UINT_PTR made = socket(InternetFamily, StreamSocket, 0);
    if (made != ~static_cast<UINT_PTR>(0)) close(made);
}

}  // namespace

void WarmUpSystemServices() {
    WarmUpThreadPool();
    WarmUpRegistry();
    WarmUpCom();
    WarmUpSockets();
    // The host's lock probe (a thread and two events) starts at the first pause or end; it is the host's, not a leak.
    kestrune::StartLockProbe();
}

}  // namespace daemoncheck
