// Old path of driver/convert.h.
#pragma once

#include "driver/convert.h"
