// The driver library's exported functions as satcli calls them.
//
// satcli never links the library: the library's own header is included only
// so that the binding code can name each function's exact type with
// decltype(&Name). A changed signature then breaks the build instead of
// corrupting a call at run time.
#pragma once

#include "sat.h"
