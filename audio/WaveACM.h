#pragma once
// The audio units take the compression manager interface from here.

#include "platform/ACM.h"

using namespace win; // the platform layer's Windows-style names
