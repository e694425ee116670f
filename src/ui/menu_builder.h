// Builds a popup menu item by item and binds host identifiers to their handler.
#pragma once

#include <windows.h>

#include <unordered_map>
#include <vector>

namespace kestrune {

using MenuHandler = void (*)(int id);

// Where an item added by the builder sits, so that later changes find exactly it
// and never an item of a daemon's merged menu that happens to carry the same identifier.
struct AddedItem {
    int id;
    HMENU menu;
    UINT position;
};

struct MenuConstruction {
    MenuHandler menuHandler = nullptr;  // of the popup under construction
    HMENU menuUnderConstruction = nullptr;
    std::vector<HMENU> openSubmenus;  // innermost last; a null entry stands for one that could not be created
    std::vector<AddedItem> addedItems;
    // Bindings outlive the popup: the chosen command arrives after it has been destroyed.
    std::unordered_map<int, MenuHandler> bindings;
};

// An empty popup under construction that remembers handler; 0 when it cannot be created.
// The caller owns the menu; EndPopupMenu lets the builder forget it.
HMENU BeginPopupMenu(MenuHandler handler);

// Whether a popup is under construction: between BeginPopupMenu and EndPopupMenu.
bool IsBuildingMenu();

// Forgets the popup under construction and its open submenus; destroys nothing.
void EndPopupMenu();

// Appends an item to the innermost open menu and binds id to the remembered handler.
void AddMenuItem(int id, const wchar_t* text, bool enabled);

// Appends a popup item and opens it: later items go into it.
HMENU OpenSubmenu(const wchar_t* text, bool enabled);
void CloseSubmenu();
void AddMenuSeparator();

// Change an item this builder added to the popup under construction.
void SetMenuItemText(int id, const wchar_t* text);
void MarkMenuItem(int id);

// The innermost open menu of the popup under construction, or 0.
HMENU CurrentMenu();

// Runs the handler bound to a chosen item's identifier; false when none is bound.
bool RunMenuItemHandler(int id);

// A WM_COMMAND from a menu: high word 0, no control window.
inline bool IsMenuCommand(WPARAM wParam, LPARAM lParam) {
    return lParam == 0 && HIWORD(wParam) == 0;
}

}  // namespace kestrune
