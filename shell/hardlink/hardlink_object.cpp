#include "shell/hardlink/hardlink_object.h"

#include "server/module.h"

namespace kestrune {

const wchar_t kCreateHardLinkMenuText[] = L"ここにハードリンクを作成(&L)";
const wchar_t kCreateHardLinkFailedText[] = L"ハードリンクの作成に失敗しました。ファイルが使用中の可能性があります。";

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

HardLinkObject::HardLinkObject() : caption_{}, targetFolder_{}, droppedFile_{} {
    LoadStringW(Module().instance, 101, caption_, 100);
}

} // namespace kestrune
