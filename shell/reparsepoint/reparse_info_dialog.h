// The reparse-point information dialog (resource 204): the mounted target, remove and change.
#pragma once
#include <windows.h>

namespace kestrune {

class ReparsePointObject;

// Dialog 204's controls.
constexpr int kRemoveButton = 201;
constexpr int kChangeButton = 202;
constexpr int kTargetEdit = 203;
constexpr int kTargetLabel = 204;

// Reads the folder's target and runs the dialog modally on `owner`; a target that cannot be read
// is told instead. Returns when the dialog is closed.
void ReparseInfoDialog(ReparsePointObject& object, HWND owner);

// Moves `window` so that it is centred on `reference`; nothing moves when either has no rectangle.
void CenterOnWindow(HWND window, HWND reference);

} // namespace kestrune
