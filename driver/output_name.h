// The rule by which both conversions name their output file, and the limits
// a file name must keep.
#pragma once

#include <string>

// Printed, with the refused name, by a conversion whose output name does not
// fit (and by the driver for an input name that cannot exist for that reason).
inline constexpr const wchar_t* kNameTooLongMessage = L"ファイル名が長すぎます(%s)\n";

// Builds the output name from the input name, the destination (possibly
// empty) and the extension (".ovk", ".png" or ".bmp"):
//   - no destination: the input name with its extension replaced;
//   - a destination whose last component has a "." and that is not an
//     existing directory: the destination itself, unchanged;
//   - any other destination is a directory: destination + the separator
//     (unless it already ends in one; "/", or "\\" on Windows, where "/"
//     separates too) + the input's last component, extension replaced.
// Replacing the extension looks for the last "." inside the last component
// only (a "." in a directory name is no extension): from it on, the text is
// replaced; without one, the extension is appended.
//   pic.bmp, ""      -> pic.ovk        ../images/pic, ""  -> ../images/pic.ovk
//   pic.bmp, out     -> out/pic.ovk    pic.bmp, out/      -> out/pic.ovk
//   pic.bmp, x.dat   -> x.dat          tex.ovk, "" (.png) -> tex.png
// Returns false when the name does not fit (see NameFits); *out then holds
// the whole name that was refused, for kNameTooLongMessage.
bool DeriveOutputName(const std::wstring& imageFile, const std::wstring& destPath,
                      const std::wstring& extension, std::wstring* out);

// True when `path` can name a file here: its length plus the terminator fit
// platform::MaxPathLength() and its last component fits
// platform::MaxNameLength().
bool NameFits(const std::wstring& path);

// True when the text from the last "." of `name` (anywhere in the path) is
// ".ovk" in any case. ASCII case folding only: towlower would depend on the
// locale.
bool HasOvkExtension(const std::wstring& name);
