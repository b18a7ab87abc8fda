#pragma once
// The busy pointer has its home in base; this name stays until the windows
// here include it from there.
#include "base/BusyCursor.h"
