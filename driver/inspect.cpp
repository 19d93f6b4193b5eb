#include "driver/inspect.h"

#include <cstdint>

#include "driver/dispatch.h"
#include "driver/messages.h"
#include "driver/output_name.h"
#include "driver/picture_file.h"
#include "driver/source.h"
#include "ovk/encoder.h"
#include "platform/platform.h"

namespace {

using namespace messages;

class Facts {
 public:
  void Add(const wchar_t* key, const std::wstring& value) {
    if (!text_.empty()) text_ += L' ';
    text_ += key;
    text_ += L'=';
    text_ += value;
  }
  void Add(const wchar_t* key, std::int64_t value) { Add(key, std::to_wstring(value)); }
  const std::wstring& text() const { return text_; }

 private:
  std::wstring text_;
};

std::wstring OvkStorage(const ovk::OvkSections& s) {
  switch (s.header.version) {
    case ovk::kVersion1000:
      return L"raw";
    case ovk::kVersion1005:
      return L"blocks";
    case ovk::kVersion1006:
      return s.palette.packed ? L"packed" : L"raw";
    default:
      return L"packed";
  }
}

std::int64_t OvkColors(const ovk::OvkSections& s) {
  switch (s.header.version) {
    case ovk::kVersion1000:
      return ovk::kMaxPaletteEntries;
    case ovk::kVersion1001:
      return 0;
    case ovk::kVersion1006:
      return s.header.paletteCount;
    default:
      return s.palette.unpackedSize / ovk::kPaletteEntryBytes;
  }
}

// The -v option that writes the file's version and storage; empty for the
// versions that are only read.
std::wstring WriteOption(const ovk::OvkSections& s) {
  ovk::OvkTarget target;
  if (!TargetOfFile(s, &target)) return L"";
  if (target.version == ovk::kVersion1006 && !target.packed) return L"-v60";
  return L"-v" + std::to_wstring(target.version - ovk::kVersion1000);
}

std::wstring OvkFacts(const PictureFile& file) {
  const ovk::OvkSections& s = file.sections;
  const ovk::OvkHeader& h = s.header;
  Facts facts;
  facts.Add(L"version", h.version);
  facts.Add(L"width", h.width);
  facts.Add(L"height", h.height);
  facts.Add(L"colors", OvkColors(s));
  facts.Add(L"storage", OvkStorage(s));
  if (h.version == ovk::kVersion1006) {
    // The walk has checked that a tile fits the picture.
    facts.Add(L"tiles", std::to_wstring(std::int64_t{1} << h.tileWidthLog2) + L"x" +
                            std::to_wstring(std::int64_t{1} << h.tileHeightLog2));
  }
  facts.Add(L"bytes", file.fileBytes);
  const std::int64_t blocks = (s.palette.packed ? s.palette.blockCount : 0) +
                              std::int64_t{s.pixels.packed ? s.pixels.blockCount : 0};
  if (blocks != 0) facts.Add(L"blocks", blocks);
  // A packed stream that ends before its stated content, or stops at damaged
  // data, still decodes (to zeros where content is missing): say so.
  if (file.report.packedSections != 0) {
    const ovk::DecodeReport& r = file.report;
    facts.Add(L"streams", r.worstEnd == UnpackEnd::kComplete ? L"complete"
                          : r.worstEnd == UnpackEnd::kShort  ? L"short"
                                                             : L"damaged");
    if (r.missingBytes != 0) facts.Add(L"missing", static_cast<std::int64_t>(r.missingBytes));
  }
  if (const std::wstring option = WriteOption(s); !option.empty()) facts.Add(L"option", option);
  return facts.text();
}

std::wstring ImageFacts(const PictureFile& file) {
  const std::uint8_t* img = file.image.data();
  const std::int32_t bitCount = bmp::GetU16(img, bmp::kBiBitCount);
  const std::int32_t height = bmp::GetS32(img, bmp::kBiHeight);
  Facts facts;
  facts.Add(L"format", file.kind == PictureKind::kPng ? L"png" : L"bmp");
  facts.Add(L"bitcount", bitCount);
  facts.Add(L"width", bmp::GetS32(img, bmp::kBiWidth));
  facts.Add(L"height", file.hasLayout ? file.layout.rows : height);
  facts.Add(L"colors", file.hasLayout ? file.layout.colors : 0);
  if (file.hasLayout && (bitCount == 24 || bitCount == 32)) {
    if (const std::int64_t distinct = CountColours(file.layout); distinct >= 0) {
      facts.Add(L"distinct", distinct);
    }
  }
  ovk::SourceImage source;
  const bool writable =
      ovk::ReadBmpSource(file.image, ovk::OvkTarget{ovk::kVersion1006, true}, &source).ok();
  facts.Add(L"ovk", writable ? L"yes" : L"no");
  facts.Add(L"bytes", file.fileBytes);
  return facts.text();
}

// One file's line; false when the file could not be read.
bool InspectFile(const std::wstring& name) {
  platform::Print(kInspectName, name.c_str());
  if (!platform::PathExists(name)) {
    platform::Print(NameFits(name) ? kNotFoundMessage : kNameTooLongMessage, name.c_str());
    return false;
  }
  PictureFile file;
  if (!LoadPictureFile(name, &file)) return false;
  const std::wstring facts = file.kind == PictureKind::kOvk ? OvkFacts(file) : ImageFacts(file);
  platform::Print(kInspectFacts, facts.c_str());
  return true;
}

}  // namespace

int InspectFiles(std::span<const std::wstring> files) {
  if (files.empty()) {
    platform::Print(kNotFoundMessage, L"(null)");
    return kExitFailure;
  }
  bool allRead = true;
  for (const std::wstring& name : files) allRead = InspectFile(name) && allRead;
  return allRead ? kExitSuccess : kExitFailure;
}
