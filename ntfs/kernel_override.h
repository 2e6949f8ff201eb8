// Internal to the static library: lets the tests bind the kernel table to their volume set.
// The DLL exports nothing of this, so no outside party can replace the table.
#pragma once
#include "ntfs/kernel.h"

namespace kestrune {

// Installs `api` (null restores the system table) and returns the previous table.
const KernelApi* ReplaceKernelApi(const KernelApi* api);

} // namespace kestrune
