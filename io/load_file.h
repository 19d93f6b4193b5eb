// Reading an input file whole, as every conversion does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "io/cbuffer.h"
#include "io/error.h"

// Loads the whole file at `path` into `out`. kNoMemory (with the file's size)
// when it cannot be held: a file of 2 GiB or more never fits a Cbuffer.
// kOpenFailed when it cannot be opened, and for a read error (as opposed to a
// file that got shorter, whose missing bytes stay zero).
Error LoadWholeFile(const std::wstring& path, Cbuffer& out);

// Reads the first bytes of the file at `path` into `out`, as many as it has
// up to out.size(); returns how many, 0 when it cannot be read.
std::size_t LoadFileStart(const std::wstring& path, std::span<std::uint8_t> out);
