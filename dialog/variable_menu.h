#pragma once
// The variable menu behind the small buttons beside text fields: every token of the host's variable
// language, grouped in submenus, with the host's constants, user variables and presets; the chosen
// token is typed into the button's field.
#include <cstdint>
#include <string>

#include "dialog/popup_menu.h"

namespace klvr {

class Form;
class UiHost;
class KeyboardState;
struct ModuleState;

// Builds the menu afresh from the fixed vocabulary and the host's tables as they are now.
PopupMenu BuildVariableMenu(const ModuleState& state);

// The text a chosen command id stands for; empty for 0, a separator or an id the menu never gives.
std::string ResolveVariableMenuItem(std::uint16_t id, const ModuleState& state);

// Brings Caps Lock to the wanted state.
void SetCapsLockState(KeyboardState& keyboard, bool wanted);

// Switches Caps Lock off, shows the menu at (x, y) in the owner's client pixels and types the chosen
// text into the owner's focused field.
void ShowVariableMenu(Form& owner, UiHost& ui, int x, int y);

// A variable button pressed with any mouse button at (x, y) in the owner's client pixels: the field it
// serves takes the focus, then the menu opens. Nothing happens when the button is unusable or no
// variable button, or when its field cannot take the focus (a focus-out rule kept it elsewhere).
void PressVariableButton(Form& owner, UiHost& ui, const std::string& button, int x, int y);

}  // namespace klvr
