/*
 * kestrune/daemon.h: what a Kestrune daemon (angel) exports.
 *
 * A daemon is a DLL in the wild_magic\ folder beside kestrune.exe, or in one
 * folder directly below it. Kestrune loads it at start and calls EntryPoint on
 * a thread of its own; when EntryPoint returns, the DLL is unloaded.
 *
 *   EntryPoint  required. The daemon's main function, run on its own thread.
 *   EntryState  optional. Called once on Kestrune's main thread while the DLL
 *               loads; returns the address of the daemon's state word. Kestrune
 *               writes StateWordStop (255) there to ask the daemon to stop and
 *               unloads it by force if it has not returned 30 seconds later.
 *               Without it, stopping the daemon unloads it at once.
 *   EntryMenu   optional. Called on Kestrune's main thread while a menu is
 *               built; see its declaration below.
 *
 * Kestrune accepts EntryState, the address it returns and EntryMenu only if
 * they lie at or above the export with ordinal 1. Without a .def file, linkers
 * number exports in name order, so ordinal 1 is EntryMenu when you export it
 * and EntryPoint otherwise: define that function first in your source (with
 * GCC, also pass -fno-toplevel-reorder so functions keep their order). Or give
 * EntryPoint ordinal 1 in a .def file and define it first.
 *
 * Usable from C and C++, with MSVC or mingw-w64, for 32-bit and 64-bit hosts.
 */
#ifndef KESTRUNE_DAEMON_H
#define KESTRUNE_DAEMON_H

#include <windows.h>

#ifdef __cplusplus
#define KESTRUNE_EXTERN_C extern "C"
#else
#define KESTRUNE_EXTERN_C
#endif

/* Exports EntryPoint and EntryState under their plain names. */
#define KESTRUNE_EXPORT KESTRUNE_EXTERN_C __declspec(dllexport)

/* The state word: Kestrune writes it, the daemon polls it. */
typedef volatile LONG StateWord;
enum { StateWordStop = 255 };

/* Placement argument of EntryMenu. */
enum { MenuPlacementContext = 0, MenuPlacementTray = 1 };

KESTRUNE_EXPORT void EntryPoint(void);
KESTRUNE_EXPORT StateWord* EntryState(void);

/*
 * EntryMenu(menu, window, placement), stdcall, called on Kestrune's main
 * thread while the daemon's thread runs. Store a new popup menu in *menu and
 * the window that is to receive its commands in *window, and return 1. Kestrune
 * destroys the menu after showing it, so build a new one on every call. A chosen
 * item arrives at the window as WM_COMMAND with the item's own identifier; keep
 * identifiers below 200. placement is MenuPlacementContext or MenuPlacementTray.
 * Return anything else to offer no menu.
 *
 * On 32-bit x86 a stdcall name is exported as EntryMenu@12 unless told
 * otherwise: write KESTRUNE_EXPORT_ENTRY_MENU once, at file scope, in the
 * source file that defines EntryMenu, and it is exported as plain EntryMenu.
 */
#if defined(_WIN64)
#define KESTRUNE_MENU_EXPORT KESTRUNE_EXPORT
#define KESTRUNE_EXPORT_ENTRY_MENU
#elif defined(__GNUC__)
#define KESTRUNE_MENU_EXPORT KESTRUNE_EXTERN_C
#define KESTRUNE_EXPORT_ENTRY_MENU __asm__(".section .drectve\n\t.ascii \" -export:EntryMenu=EntryMenu@12\"\n\t.text");
#elif defined(_MSC_VER)
#define KESTRUNE_MENU_EXPORT KESTRUNE_EXTERN_C
#define KESTRUNE_EXPORT_ENTRY_MENU __pragma(comment(linker, "/EXPORT:EntryMenu=_EntryMenu@12"))
#else
#error "Unknown compiler: export EntryMenu undecorated with a .def file"
#endif

KESTRUNE_MENU_EXPORT int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement);

/* Function types as Kestrune calls them. */
typedef void (*EntryPointFunction)(void);
typedef StateWord* (*EntryStateFunction)(void);
typedef int(WINAPI* EntryMenuFunction)(HMENU* menu, HWND* window, INT_PTR placement);

#endif
