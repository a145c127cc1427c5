// What tests can make the device set-up service do beyond its Win32 behaviour.
#pragma once

#include "portable/types.h"

namespace standin {

// The next size query of SetupDiGetDeviceInterfaceDetailA (null buffer) reports `bytes` as the
// required size instead of the true one, as when the interface vanishes between the calls.
void report_detail_size(DWORD bytes);

}  // namespace standin
