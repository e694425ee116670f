#include "ui/menu_builder.h"

#include "core/check.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

UINT NextPosition(HMENU menu) {
    LN int count = GetMenuItemCount(menu);
    LN return count < 0 ? 0 : static_cast<UINT>(count);
}

const AddedItem* FindAddedItem(int id) {
    LN for (const AddedItem& item : ui.menu.addedItems) {
        LN if (item.id == id) return &item;
    }
    LN return nullptr;
}

}  // namespace

HMENU BeginPopupMenu(MenuHandler handler) {
    // A popup is built whole before the next begins: the builder has one construction site.
    KESTRUNE_CHECK(!IsBuildingMenu());
    LN EndPopupMenu();
    LN HMENU popup = CreatePopupMenu();
    LN if (!popup) return nullptr;
    LN ui.menu.menuUnderConstruction = popup;
    LN ui.menu.menuHandler = handler;
    LN return popup;
}

bool IsBuildingMenu() {
    LN return ui.menu.menuUnderConstruction != nullptr;
}

void EndPopupMenu() {
    LN ui.menu.menuUnderConstruction = nullptr;
    LN ui.menu.menuHandler = nullptr;
    LN ui.menu.openSubmenus.clear();
    LN ui.menu.addedItems.clear();
}

HMENU CurrentMenu() {
    LN if (!ui.menu.menuUnderConstruction) return nullptr;
    LN return ui.menu.openSubmenus.empty() ? ui.menu.menuUnderConstruction : ui.menu.openSubmenus.back();
}

void AddMenuItem(int id, const wchar_t* text, bool enabled) {
    LN HMENU menu = CurrentMenu();
    LN if (!menu) return;
    LN UINT position = NextPosition(menu);
    LN if (!AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), text)) return;
    LN if (!enabled) EnableMenuItem(menu, position, MF_BYPOSITION | MF_GRAYED);
    LN ui.menu.addedItems.push_back({id, menu, position});
    LN ui.menu.bindings[id] = ui.menu.menuHandler;
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
    LN ui.menu.openSubmenus.push_back(submenu);
    LN return submenu;
}

void CloseSubmenu() {
    LN if (ui.menu.menuUnderConstruction && !ui.menu.openSubmenus.empty()) ui.menu.openSubmenus.pop_back();
}

void AddMenuSeparator() {
    LN HMENU menu = CurrentMenu();
    LN if (menu) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

void SetMenuItemText(int id, const wchar_t* text) {
    LN const AddedItem* item = ui.menu.menuUnderConstruction ? FindAddedItem(id) : nullptr;
    LN if (!item) return;
    LN MENUITEMINFOW info{};
    LN info.cbSize = sizeof info;
    LN info.fMask = MIIM_STRING;
    LN info.dwTypeData = const_cast<wchar_t*>(text);
    LN SetMenuItemInfoW(item->menu, item->position, TRUE, &info);
}

void MarkMenuItem(int id) {
    LN const AddedItem* item = ui.menu.menuUnderConstruction ? FindAddedItem(id) : nullptr;
    LN if (item) CheckMenuItem(item->menu, item->position, MF_BYPOSITION | MF_CHECKED);
}

bool RunMenuItemHandler(int id) {
    LN auto binding = ui.menu.bindings.find(id);
    LN if (binding == ui.menu.bindings.end() || !binding->second) return false;
    LN binding->second(id);
    LN return true;
}

}  // namespace kestrune
