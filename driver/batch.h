// Many files in one run: which operands form a batch, what each input of it
// is, and converting them all with a summary.
//
//   ovkconv [options] <input>... [<folder>]
//
// Operands (the image file and every argument after it):
//   - one: the single form, unless it is a pattern (driver/pattern.h: an
//     operand holding "*" or "?" that names no existing file);
//   - two: the single form (input, then destination), unless either is a
//     pattern, or the second names an existing regular file (through links)
//     that is an input of the same direction as the first, and is not the
//     first file itself: both names end in ".ovk", or neither does and the
//     second begins with "BM" or the PNG signature;
//   - three or more: a batch.
// In a batch every operand is an input, except that the last one is the
// destination folder when it names an existing directory or ends in a
// separator. A pattern stands for its matches, in their order.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "driver/dispatch.h"
#include "driver/options.h"
#include "driver/pattern.h"

inline constexpr const wchar_t* kBatchSummary = L"%d件中%d件を変換しました(失敗%d件)\n";
inline constexpr const wchar_t* kBatchFailed = L"失敗: %s\n";
inline constexpr const wchar_t* kBatchInterrupted = L"中断しました\n";

struct OperandForm {
  bool batch = false;
  std::vector<std::wstring> inputs;  // a batch's input operands, patterns as given
  std::wstring folder;               // a batch's destination folder; empty: none
};
OperandForm FormOfOperands(std::span<const std::wstring> operands);

// One input of a batch, or of -i.
struct BatchInput {
  std::wstring name;  // as given, or a pattern's match (data/bg/a.ovk)
  // Its relative name: below the pattern's base (bg/a.ovk), or the last
  // component of a plain operand (a.ovk).
  std::wstring below;
  bool unmatched = false;  // a pattern that matched nothing; `name` is the pattern
};
std::vector<BatchInput> ExpandInputs(std::span<const std::wstring> operands,
                                     const DirectoryLister& list);

// The -m reference of an input whose relative name is `below`: a reference
// given as a folder (an existing directory, or a name ending in a separator)
// becomes the file of that relative name with the extension ".ovk" in it;
// any other is kept.
PaletteMapping ReferenceFor(const PaletteMapping& mapping, const std::wstring& below);

// Converts every input of the batch `form` as the single form converts one
// file with the destination folder (a pattern's match in the folders below
// it that mirror the pattern's), up to options.jobs at once, printing each
// input's messages together in operand order, then the summary. An
// interrupt stops it (see platform::BeginStoppableWork) after the summary.
// Returns kExitSuccess when every input was converted, kExitFailure
// otherwise.
int RunBatch(const OperandForm& form, const Options& options, const Converters& converters);
