#include "menu_builder.h"

#include <unordered_map>
#include <vector>
#include "fault/source_position.h"

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
    LN int count = GetMenuItemCount(menu);
    LN return count < 0 ? 0 : static_cast<UINT>(count);
}

const AddedItem* FindAddedItem(int id) {
    LN for (const AddedItem& item : addedItems) {
        LN if (item.id == id) return &item;
    }
    LN return nullptr;
}

}  // namespace

HMENU BeginPopupMenu(MenuHandler handler) {
    LN EndPopupMenu();
    LN HMENU popup = CreatePopupMenu();
    LN if (!popup) return nullptr;
    LN app.menuUnderConstruction = popup;
    LN app.menuHandler = handler;
    LN return popup;
}

void EndPopupMenu() {
    LN app.menuUnderConstruction = nullptr;
    LN app.menuHandler = nullptr;
    LN openSubmenus.clear();
    LN addedItems.clear();
}

HMENU CurrentMenu() {
    LN if (!app.menuUnderConstruction) return nullptr;
    LN return openSubmenus.empty() ? app.menuUnderConstruction : openSubmenus.back();
}

void AddMenuItem(int id, const wchar_t* text, bool enabled) {
    LN HMENU menu = CurrentMenu();
    LN if (!menu) return;
    LN UINT position = NextPosition(menu);
    LN if (!AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), text)) return;
    LN if (!enabled) EnableMenuItem(menu, position, MF_BYPOSITION | MF_GRAYED);
    LN addedItems.push_back({id, menu, position});
    LN bindings[id] = app.menuHandler;
}

HMENU OpenSubmenu(const wchar_t* text, bool enabled) {
    LN HMENU menu = CurrentMenu();
    LN if (!menu) return nullptr;
    LN HMENU submenu = CreatePopupMenu();
    LN UINT position = NextPosition(menu);
    LN if (submenu && !AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(submenu), text)) {
        LN DestroyMenu(submenu);
        LN submenu = nullptr;
    }
    LN if (submenu && !enabled) EnableMenuItem(menu, position, MF_BYPOSITION | MF_GRAYED);
    LN openSubmenus.push_back(submenu);
    LN return submenu;
}

void CloseSubmenu() {
    LN if (app.menuUnderConstruction && !openSubmenus.empty()) openSubmenus.pop_back();
}

void AddMenuSeparator() {
    LN HMENU menu = CurrentMenu();
    LN if (menu) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

void SetMenuItemText(int id, const wchar_t* text) {
    LN const AddedItem* item = app.menuUnderConstruction ? FindAddedItem(id) : nullptr;
    LN if (!item) return;
    LN MENUITEMINFOW info{};
    LN info.cbSize = sizeof info;
    LN info.fMask = MIIM_STRING;
    LN info.dwTypeData = const_cast<wchar_t*>(text);
    LN SetMenuItemInfoW(item->menu, item->position, TRUE, &info);
}

void MarkMenuItem(int id) {
    LN const AddedItem* item = app.menuUnderConstruction ? FindAddedItem(id) : nullptr;
    LN if (item) CheckMenuItem(item->menu, item->position, MF_BYPOSITION | MF_CHECKED);
}

bool RunMenuItemHandler(int id) {
    LN auto binding = bindings.find(id);
    LN if (binding == bindings.end() || !binding->second) return false;
    LN binding->second(id);
    LN return true;
}

}  // namespace kestrune
