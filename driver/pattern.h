// Wildcard operands: the names a pattern such as data/**/*.ovk stands for,
// found by the program itself on every system.
//
// A pattern is split at its separators into components. `*` matches any run
// of characters within one name and `?` one character; a component that is
// exactly `**` matches any number of folders, none included (it does not
// enter folders reached through symbolic links, which could loop). A name
// that starts with "." is matched only by a component that starts with ".".
// Only files match (after links), never folders. The leading components that
// hold no wildcard are the pattern's base: a match is named by the base, then
// the folders and the file it matched, joined by the separator the pattern
// uses (its first one).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

// True when `operand` holds a wildcard. (An operand that names an existing
// file is that file, wildcards or not; the caller checks.)
bool HasWildcard(const std::wstring& operand);

// True when `name` (one component) matches `component` (no separators).
bool MatchComponent(const std::wstring& component, const std::wstring& name);

struct PatternMatch {
  std::wstring path;   // the base, then what matched
  std::wstring below;  // what matched below the base: folders and the file
};

// Lists a directory as platform::ListDirectory does ("" the current one).
using DirectoryLister =
    std::function<bool(const std::wstring& dir, std::vector<platform::DirectoryEntry>* entries)>;

// Every file `pattern` matches, in code-point order of their paths, each
// once. A directory that cannot be listed matches nothing.
std::vector<PatternMatch> ExpandPattern(const std::wstring& pattern, const DirectoryLister& list);
