#include "driver/pattern.h"

#include <algorithm>

namespace {

using platform::DirectoryEntry;

std::vector<std::wstring> SplitComponents(const std::wstring& path) {
  std::vector<std::wstring> parts(1);
  for (wchar_t c : path) {
    if (platform::IsSeparator(c)) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// Walks the components from `at` on, below the directory `dir` (listed as
// it is spelt; "" the current one) whose matched part is `below`.
class Expansion {
 public:
  Expansion(std::vector<std::wstring> parts, std::size_t first, std::wstring base, wchar_t sep,
            const DirectoryLister& list)
      : parts_(std::move(parts)), base_(std::move(base)), sep_(sep), list_(list) {
    Walk(first, L"");
  }
  std::vector<PatternMatch>& matches() { return matches_; }

 private:
  std::wstring Join(const std::wstring& a, const std::wstring& b) const {
    return a.empty() ? b : a + sep_ + b;
  }
  // The directory of `below`, as a name to list.
  std::wstring ListName(const std::wstring& below) const {
    if (below.empty()) return base_;
    // A base of "" (a relative pattern) or of the root alone ("/").
    if (base_.empty()) return below;
    return platform::IsSeparator(base_.back()) ? base_ + below : base_ + sep_ + below;
  }

  void Walk(std::size_t at, const std::wstring& below) {
    std::vector<DirectoryEntry> entries;
    if (!list_(ListName(below), &entries)) return;
    const std::wstring& component = parts_[at];
    const bool last = at + 1 == parts_.size();
    if (component == L"**") {
      // No folder at all, then every folder in turn, still under "**".
      if (last) return;  // "**" as the last component names folders only
      Walk(at + 1, below);
      for (const DirectoryEntry& e : entries) {
        if (e.kind == DirectoryEntry::Kind::kDirectory && !e.link && e.name[0] != L'.') {
          Walk(at, Join(below, e.name));
        }
      }
      return;
    }
    for (const DirectoryEntry& e : entries) {
      if (!MatchComponent(component, e.name)) continue;
      if (last && e.kind == DirectoryEntry::Kind::kFile) {
        const std::wstring rel = Join(below, e.name);
        matches_.push_back({ListName(rel), rel});
      } else if (!last && e.kind == DirectoryEntry::Kind::kDirectory) {
        Walk(at + 1, Join(below, e.name));
      }
    }
  }

  std::vector<std::wstring> parts_;
  std::wstring base_;
  wchar_t sep_;
  const DirectoryLister& list_;
  std::vector<PatternMatch> matches_;
};

bool MatchFrom(const std::wstring& p, std::size_t i, const std::wstring& s, std::size_t j) {
  // Iterative with one backtrack point: a later "*" makes an earlier one's
  // choice final.
  std::size_t star = std::wstring::npos;
  std::size_t resume = 0;
  while (j < s.size()) {
    if (i < p.size() && (p[i] == L'?' || (p[i] != L'*' && p[i] == s[j]))) {
      ++i;
      ++j;
    } else if (i < p.size() && p[i] == L'*') {
      star = i++;
      resume = j;
    } else if (star != std::wstring::npos) {
      i = star + 1;
      j = ++resume;
    } else {
      return false;
    }
  }
  while (i < p.size() && p[i] == L'*') ++i;
  return i == p.size();
}

}  // namespace

bool HasWildcard(const std::wstring& operand) {
  return operand.find_first_of(L"*?") != std::wstring::npos;
}

bool MatchComponent(const std::wstring& component, const std::wstring& name) {
  if (name.empty()) return false;
  if (name[0] == L'.' && (component.empty() || component[0] != L'.')) return false;
  return MatchFrom(component, 0, name, 0);
}

std::vector<PatternMatch> ExpandPattern(const std::wstring& pattern, const DirectoryLister& list) {
  wchar_t sep = platform::PreferredSeparator();
  for (wchar_t c : pattern) {
    if (platform::IsSeparator(c)) {
      sep = c;
      break;
    }
  }
  std::vector<std::wstring> parts = SplitComponents(pattern);
  // The base: the leading components without a wildcard, as they are spelt
  // (a leading "" is the root). The last component is always matched.
  std::size_t first = 0;
  std::size_t baseEnd = 0;
  while (first + 1 < parts.size() && !HasWildcard(parts[first])) {
    baseEnd += parts[first].size() + 1;
    ++first;
  }
  std::wstring base = pattern.substr(0, baseEnd);
  // "data/" stays "data" for joining, but the root "/" stays itself.
  if (base.size() > 1 && platform::IsSeparator(base.back())) base.pop_back();
  Expansion expansion(std::move(parts), first, std::move(base), sep, list);
  std::vector<PatternMatch>& found = expansion.matches();
  std::sort(found.begin(), found.end(),
            [](const PatternMatch& a, const PatternMatch& b) { return a.path < b.path; });
  found.erase(
      std::unique(found.begin(), found.end(),
                  [](const PatternMatch& a, const PatternMatch& b) { return a.path == b.path; }),
      found.end());
  return found;
}
