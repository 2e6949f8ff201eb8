// The type information holders of the three classes that offer IDispatch.
#pragma once
#include "server/type_info_holder.h"

namespace kestrune {

extern TypeInfoHolder hardLinkTypeInfo;
extern TypeInfoHolder reparsePointTypeInfo;
extern TypeInfoHolder propNtfsTypeInfo;

} // namespace kestrune
