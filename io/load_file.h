// Reading an input file whole, as every conversion does.
#pragma once

#include <cstdint>
#include <string>

#include "io/cbuffer.h"
#include "io/error.h"

// Loads the whole file at `path` into `out`. kNoMemory (with the file's size)
// when it cannot be held: a file of 2 GiB or more never fits a Cbuffer.
// kOpenFailed when it cannot be opened, and for a read error (as opposed to a
// file that got shorter, whose missing bytes stay zero).
Error LoadWholeFile(const std::wstring& path, Cbuffer& out);
