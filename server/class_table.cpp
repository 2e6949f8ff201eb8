// The class table: the order of lookup, of registration and of unregistration.
#include "kestrune_h.h"
#include "server/class_factory.h"
#include "server/com_object.h"
#include "server/module.h"
#include "server/registration.h"
#include "shell/hardlink/hardlink_object.h"
#include "shell/operationhook/operationhook_object.h"
#include "shell/reparsepoint/reparsepoint_object.h"
#include "shell/propntfs/propntfs_object.h"

namespace kestrune {
namespace {

template <UINT ResourceId> HRESULT UpdateRegistryFor(BOOL doRegister) {
    return UpdateRegistryFromResource(ResourceId, doRegister);
}

ClassEntry classTable[] = {
    {&CLSID_HardLink, UpdateRegistryFor<101>, ClassFactory::Create, CreateComObject<HardLinkObject>, nullptr},
    {&CLSID_ReparsePoint, UpdateRegistryFor<102>, ClassFactory::Create, CreateComObject<ReparsePointObject>, nullptr},
    {&CLSID_OperationHook, UpdateRegistryFor<105>, ClassFactory::Create, CreateComObject<OperationHookObject>, nullptr},
    {&CLSID_PropNTFS, UpdateRegistryFor<106>, ClassFactory::Create, CreateComObject<PropNtfsObject>, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

} // namespace

ClassEntry* LibraryClassTable() { return classTable; }

} // namespace kestrune
