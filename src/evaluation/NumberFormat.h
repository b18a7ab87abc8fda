#pragma once
// The number formats live in base: the parameter windows and profile files
// share them with the detail view.
#include "base/NumberFormat.h"
