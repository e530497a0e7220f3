#pragma once
// The audio units take the compression manager interface from here.

#include "platform/ACM.h"
