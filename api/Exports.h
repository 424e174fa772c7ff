#pragma once
#include <windows.h>
#include <oleauto.h>

// The exports and the host's record, as hosts see them.
#include "api/tarvosel.h"
