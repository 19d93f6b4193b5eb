// Old path of ovk/decoder.h.
#pragma once

#include "ovk/decoder.h"
