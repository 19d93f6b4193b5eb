// Arbitrary bytes through the packer: they must pack within PackBound into a
// chain of blocks that each fit the 16-bit endOffset, with blocksAfter
// counting down and the block count right, and unpack to themselves. Inputs
// of up to 4 KiB must also pack to exactly the bytes of the plain reference
// packer.
//
// Input: byte 0 the block size (0-2: 0x4000, 0x4000 + 191 * byte 1, 0xFFFF,
// by byte 0 % 3); byte 0 bit 7 set stretches the content (the rest of the
// input) to (byte 1 & 0x7F) * 1024 + 1 bytes by repeating it with a slowly
// changing offset added, which reaches block boundaries and blocks that must
// be split.
//
// Replay a corpus without fuzzing: pack_roundtrip_fuzz FILE...
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/check.h"
#include "pack/pack.h"
#include "pack/unpack.h"
#include "support/reference_packer.h"

namespace {

constexpr std::size_t kReferenceLimit = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int32_t blockSizes[] = {0x4000, 0x4000 + 191 * data[1], 0xFFFF};
  const std::int32_t blockSize = blockSizes[(data[0] & 0x7F) % 3];

  std::vector<std::uint8_t> in(data + 2, data + size);
  if ((data[0] & 0x80) && !in.empty()) {
    const std::size_t target = (data[1] & 0x7Fu) * 1024 + 1;
    const std::size_t period = in.size();
    in.resize(target);
    for (std::size_t k = period; k < target; ++k) {
      in[k] = static_cast<std::uint8_t>(in[k % period] + k / (period * 7 + 3));
    }
  }

  std::vector<std::uint8_t> packed(PackBound(in.size()));
  std::uint32_t blocks = 0;
  const std::int64_t n = PackBlocks(in, packed, blockSize, &blocks);
  Check(n >= 0);
  packed.resize(static_cast<std::size_t>(n));

  // The chain of blocks.
  std::size_t at = 0;
  for (std::uint32_t b = 0; b < blocks; ++b) {
    Check(packed.size() - at >= 7);
    const std::size_t end = packed[at] | (static_cast<std::size_t>(packed[at + 1]) << 8);
    Check(end < packed.size() - at);
    Check(packed[at + end] == static_cast<std::uint8_t>(blocks - 1 - b));
    at += end + 1;
  }
  Check(at == packed.size());
  Check(blocks >= (in.size() + blockSize - 1) / blockSize);

  std::vector<std::uint8_t> back(in.size() + 1, 0);
  const std::uint32_t reached =
      UnpackBlocks(back, static_cast<std::uint32_t>(in.size()), packed, blocks);
  Check(reached == in.size());
  back.pop_back();
  Check(back == in);

  if (in.size() <= kReferenceLimit) {
    const testing_support::ReferencePacked ref =
        testing_support::ReferencePackBlocks(in, static_cast<std::uint32_t>(blockSize));
    Check(ref.bytes == packed);
    Check(ref.blockCount == blocks);
  }
  return 0;
}
