// Reading an input file whole, as every conversion does.
#pragma once

#include <cstdint>
#include <string>

#include "io/cbuffer.h"

enum class LoadResult { kOk, kOpenFailed, kNoMemory };

// Loads the whole file at `path` into `out`. *fileSize receives the file's
// size (for the caller's memory message). A file of 2 GiB or more cannot be
// held in a Cbuffer and is reported as kNoMemory. A read error (as opposed to
// a file that got shorter, whose missing bytes stay zero) is kOpenFailed.
LoadResult LoadWholeFile(const std::wstring& path, Cbuffer& out, std::int64_t* fileSize);
