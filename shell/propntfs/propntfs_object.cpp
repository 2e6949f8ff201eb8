#include "shell/propntfs/propntfs_object.h"

namespace kestrune {

namespace {
const InterfaceEntry<PropNtfsObject> propNtfsRows[] = {
    {&IID_IPropNTFS, InterfaceOf<PropNtfsObject, IPropNTFS>},
    {&IID_IDispatch, InterfaceOf<PropNtfsObject, IPropNTFS>},
    {&IID_IShellExtInit, InterfaceOf<PropNtfsObject, IShellExtInit>},
    {&IID_IShellPropSheetExt, InterfaceOf<PropNtfsObject, IShellPropSheetExt>},
};
} // namespace

const InterfaceTable<PropNtfsObject> PropNtfsObject::interfaces = MakeInterfaceTable(propNtfsRows);

PropNtfsObject::PropNtfsObject() : filePath_{}, caption_{}, nameDialogResult_{} {
    LoadUiString(kCaptionText, caption_, 100);
}

// The page is gone by now; a worker still running was asked to stop by the page's release.
PropNtfsObject::~PropNtfsObject() { EndWorker(); }

} // namespace kestrune
