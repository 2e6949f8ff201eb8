#include "server/type_infos.h"

#include "kestrune_h.h"

namespace kestrune {

TypeInfoHolder hardLinkTypeInfo = {&IID_IHardLink, &kKestruneLibraryId, 1, 0, nullptr, nullptr, 0, 0};
TypeInfoHolder reparsePointTypeInfo = {&IID_IReparsePoint, &kKestruneLibraryId, 1, 0, nullptr, nullptr, 0, 0};
TypeInfoHolder propNtfsTypeInfo = {&IID_IPropNTFS, &kKestruneLibraryId, 1, 0, nullptr, nullptr, 0, 0};

} // namespace kestrune
