#include "menu_builder.h"

#include <unordered_map>
#include <vector>

namespace kestrune {
namespace {

// Where an item added by the builder sits, so that later changes find exactly it
// and never an item of a daemon's merged menu that happens to carry the same identifier.
struct AddedItem {
    int id;
    HMENU menu;
    UINT position;
};

std::vector<HMENU> openSubmenus;  // innermost last; a null entry stands for one that could not be created
std::vector<AddedItem> addedItems;
// Bindings outlive the popup: the chosen command arrives after it has been destroyed.
std::unordered_map<int, MenuHandler> bindings;

UINT NextPosition(HMENU menu) {
    int count = GetMenuItemCount(menu);
    return count < 0 ? 0 : static_cast<UINT>(count);
}

const AddedItem* FindAddedItem(int id) {
    for (const AddedItem& item : addedItems) {
        if (item.id == id) return &item;
    }
    return nullptr;
}

}  // namespace

HMENU BeginPopupMenu(MenuHandler handler) {
    EndPopupMenu();
    HMENU popup = CreatePopupMenu();
    if (!popup) return nullptr;
    app.menuUnderConstruction = popup;
    app.menuHandler = handler;
    return popup;
}

void EndPopupMenu() {
    app.menuUnderConstruction = nullptr;
    app.menuHandler = nullptr;
    openSubmenus.clear();
    addedItems.clear();
}

HMENU CurrentMenu() {
    if (!app.menuUnderConstruction) return nullptr;
    return openSubmenus.empty() ? app.menuUnderConstruction : openSubmenus.back();
}

void AddMenuItem(int id, const wchar_t* text, bool enabled) {
    HMENU menu = CurrentMenu();
    if (!menu) return;
    UINT position = NextPosition(menu);
    if (!AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), text)) return;
    if (!enabled) EnableMenuItem(menu, position, MF_BYPOSITION | MF_GRAYED);
    addedItems.push_back({id, menu, position});
    bindings[id] = app.menuHandler;
}

HMENU OpenSubmenu(const wchar_t* text, bool enabled) {
    HMENU menu = CurrentMenu();
    if (!menu) return nullptr;
    HMENU submenu = CreatePopupMenu();
    UINT position = NextPosition(menu);
    if (submenu && !AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(submenu), text)) {
        DestroyMenu(submenu);
        submenu = nullptr;
    }
    if (submenu && !enabled) EnableMenuItem(menu, position, MF_BYPOSITION | MF_GRAYED);
    openSubmenus.push_back(submenu);
    return submenu;
}

void CloseSubmenu() {
    if (app.menuUnderConstruction && !openSubmenus.empty()) openSubmenus.pop_back();
}

void AddMenuSeparator() {
    HMENU menu = CurrentMenu();
    if (menu) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

void SetMenuItemText(int id, const wchar_t* text) {
    const AddedItem* item = app.menuUnderConstruction ? FindAddedItem(id) : nullptr;
    if (!item) return;
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<wchar_t*>(text);
    SetMenuItemInfoW(item->menu, item->position, TRUE, &info);
}

void MarkMenuItem(int id) {
    const AddedItem* item = app.menuUnderConstruction ? FindAddedItem(id) : nullptr;
    if (item) CheckMenuItem(item->menu, item->position, MF_BYPOSITION | MF_CHECKED);
}

bool RunMenuItemHandler(int id) {
    auto binding = bindings.find(id);
    if (binding == bindings.end() || !binding->second) return false;
    binding->second(id);
    return true;
}

}  // namespace kestrune
