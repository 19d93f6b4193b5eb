// Arbitrary bytes through the packed-stream decoder, with an arbitrary
// capacity and block count: nothing may be read or written outside the two
// buffers (ASan watches both, each in an allocation of its exact size), the
// position returned stays within what may be written, every byte past it
// keeps the buffer's old value, and the bytes and position are those of the
// plain reference decoder kept with the tests.
//
// Input: bytes 0-1 the capacity (u16), byte 2 the block count, byte 3 bit 0
// set for an output buffer shorter than capacity + 1 (by (byte 3 >> 1) & 0x3F
// bytes), bit 7 set for an output buffer filled with 0xA5 instead of zeros;
// the rest is the packed data.
//
// Replay a corpus without fuzzing: unpack_fuzz FILE...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/check.h"
#include "pack/unpack.h"
#include "support/reference_packer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint32_t capacity = data[0] | (static_cast<std::uint32_t>(data[1]) << 8);
  const std::uint32_t blockCount = data[2];
  std::size_t room = static_cast<std::size_t>(capacity) + 1;
  if (data[3] & 1) room -= std::min<std::size_t>(room, (data[3] >> 1) & 0x3F);
  const std::uint8_t fill = (data[3] & 0x80) != 0 ? 0xA5 : 0;

  const std::size_t packedSize = size - 4;
  std::unique_ptr<std::uint8_t[]> packed(new std::uint8_t[packedSize]);
  std::memcpy(packed.get(), data + 4, packedSize);
  std::vector<std::uint8_t> out(room, fill);
  std::vector<std::uint8_t> expected(room, fill);

  const std::uint32_t reached = UnpackBlocks(out, capacity, {packed.get(), packedSize}, blockCount);
  Check(reached <= room);
  Check(std::all_of(out.begin() + reached, out.end(), [&](std::uint8_t b) { return b == fill; }));
  const std::uint32_t wanted = testing_support::ReferenceUnpackBlocks(
      expected, capacity, {packed.get(), packedSize}, blockCount);
  Check(reached == wanted);
  Check(out == expected);
  return 0;
}
