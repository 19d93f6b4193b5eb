// The -i option: one line of facts per file instead of a conversion.
#pragma once

#include <span>
#include <string>

// Prints, for every file in `files`, a line that starts with its name as
// given and ": ", then its facts as key=value fields separated by single
// spaces (the names, in order, below), or the message a conversion would
// print for it. Every file is read and decoded whole, and nothing is written.
//   ovk files (by name, as the conversions choose):
//     version width height colors storage [tiles] bytes [blocks] [option]
//     colors   palette entries: 256 for 1000, 0 for 1001, the palette
//              section's content / 4 for 1002, 1004 and 1005, paletteCount
//              for 1006
//     storage  raw (1000, 1006 unpacked), packed (1001, 1002, 1004, 1006
//              packed) or blocks (1005)
//     tiles    1006: the tile size in pixels, WxH
//     bytes    the file's size
//     blocks   packed blocks in all of the file's packed sections; only
//              when it has some
//     option   the -v option that writes this version and storage again;
//              only for the versions the program writes
//   BMP and PNG files (by content):
//     format bitcount width height colors [distinct] ovk bytes
//     bitcount the BMP image's bit count (a PNG's as import makes it; 0 for
//              grey); height counts rows, also for a top-down BMP
//     colors   palette entries (0 for a picture without a palette)
//     distinct 24- and 32-bit pictures: how many colours they use (what -m
//              alone needs to be at most 256)
//     ovk      yes when the picture is written as ovk as it is, no otherwise
// Returns 0 when every file could be read, -1 otherwise (also when `files`
// is empty, after the not-found message with "(null)").
int InspectFiles(std::span<const std::wstring> files);
