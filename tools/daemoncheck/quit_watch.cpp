#include "quit_watch.h"

#include <iterator>

#include "import_redirect.h"

namespace daemoncheck {
namespace {

using PostQuitMessageFunction = void(WINAPI*)(int);

PostQuitMessageFunction realPostQuitMessage = nullptr;
DWORD watchedThread = 0;
volatile LONG mainThreadQuits = 0;

void WINAPI WatchedPostQuitMessage(int exitCode) {
    if (GetCurrentThreadId() == watchedThread) InterlockedIncrement(&mainThreadQuits);
    realPostQuitMessage(exitCode);
}

const ImportRedirect Redirects[] = {
    {L"user32.dll", "PostQuitMessage", reinterpret_cast<void**>(&realPostQuitMessage),
     FunctionAddress(&WatchedPostQuitMessage)},
};

}  // namespace

void WatchQuitRequests(HMODULE daemon, DWORD mainThread) {
    watchedThread = mainThread;
    RedirectImports(daemon, Redirects, std::size(Redirects));
}

LONG QuitRequestsOnMainThread() {
    return InterlockedCompareExchange(&mainThreadQuits, 0, 0);
}

}  // namespace daemoncheck
