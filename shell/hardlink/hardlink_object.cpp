#include "shell/hardlink/hardlink_object.h"

#include "shell/ui_language.h"

namespace kestrune {

namespace {
const InterfaceEntry<HardLinkObject> hardLinkRows[] = {
    {&IID_IHardLink, InterfaceOf<HardLinkObject, IHardLink>},
    {&IID_IDispatch, InterfaceOf<HardLinkObject, IHardLink>},
    {&IID_IShellExtInit, InterfaceOf<HardLinkObject, IShellExtInit>},
    {&IID_IContextMenu, InterfaceOf<HardLinkObject, IContextMenu>},
    {&IID_IShellIconOverlayIdentifier, InterfaceOf<HardLinkObject, IShellIconOverlayIdentifier>},
};
} // namespace

const InterfaceTable<HardLinkObject> HardLinkObject::interfaces = MakeInterfaceTable(hardLinkRows);

HardLinkObject::HardLinkObject() : caption_{}, targetFolder_{} {
    LoadUiString(kCaptionText, caption_, 100);
}

} // namespace kestrune
