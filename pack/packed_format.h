// The packed stream: the compression format of an ovk file's packed sections.
//
// A byte-oriented LZ77 variant. The content of a section is cut into blocks;
// each block is a stream of tokens (literal bytes, back-references into the
// output already produced, runs of one byte). All integers are little-endian.
//
// Packed section (placed in the file by the container, see ovk/layout.h):
//   0   u32  sectionSize   bytes that follow this field: 8 + packed length
//   4   u32  unpackedSize  bytes of content once unpacked (the decoder's capacity)
//   8   u32  blockCount    number of blocks in the packed data
//   12  ...  packed data   sectionSize - 8 bytes: the blocks, back to back
//
// Block:
//   0   u16  endOffset     offset of the block's trailing byte (block length - 1)
//   2   u8   blockMode     0: bit-flag block. Anything else: byte-coded block,
//                          and this byte is already its first byte code
//   3   u8   firstFlags    bit-flag block only: the first 8 flag bits
//   4   ...  token stream  data bytes and 16-bit flag words, interleaved
//   endOffset  u8 blocksAfter  blocks that follow in the section, mod 256.
//                          The decoder skips it without looking at it.
//
// The decoder never uses endOffset to find the next block: the next block
// starts one byte after the point where the previous block's decoding stopped
// reading. The trailing byte and the marker bytes may hold any value.
//
// Bit-flag blocks
// ---------------
// Flag bits are taken from the least significant end of a bit buffer. A field
// of several flag bits is stored most significant bit first: its first bit
// (the lowest in the buffer) is its highest-valued bit. A flag word (u16) is
// loaded only when a step needs more bits than the buffer holds ("ensure"),
// from the input position reached at that moment, and lands above the bits
// still there. So a word stands directly after the last data byte read before
// the step that needed it. The ensure points are:
//   ensure(1)  before the first bit of a token, and before each bit of a
//              length code;
//   ensure(2)  before the second bit of a token (and before a far match's
//              length code);
//   ensure(7)  before the 7 bits of a far match, run or end code;
//   ensure(5)  before the second half of a run;
//   ensure(4)  before the 1 + 3 bit form of a length code.
//
//   token       flag bits                    input bytes
//   literal     0                            b
//   near match  1 0 <len>                    d (1..255) after the 2 bits;
//                                            length byte after <len> if any
//   far match   1 1 h mmmm <len>             low after the 7 bits; length byte.
//                                            distance 4096h + 256m + low,
//                                            h and m never both 0 (256..8191)
//   run         1 1 0 0000, then L vvvv      marker after the 7 bits (written
//                                            1), then R after L vvvv, then F
//                                            when L = 1.
//                                            L = 0: R written 14 + v times.
//                                            L = 1: F written 14 + 256v + R times
//   end code    1 1 0 0000                   marker (written 0): the last byte
//                                            before the trailing byte
// A run and the end code start alike: it is the end code when the input
// position has reached endOffset right after the marker byte.
//
//   length code <len>    further input   length
//   1                    -               2
//   01                   -               3
//   001                  -               4
//   0001                 -               5
//   00001 xxx            -               6 + x   (6..13)
//   00000                e               14 + e  (14..269)
//
// Byte-coded blocks (read, never written)
// ---------------------------------------
// Codes start at offset 2. x is the code byte, n the byte after it (present for
// every x >= 0x20):
//   0x00         end of the block
//   0x01..0x1F   x literal bytes follow
//   0x20..0x3F   n, then (x - 0x20) * 256 + n literal bytes
//   0x40..0x4F   n: write n, x - 60 times (4..19)
//   0x50..0x5F   n, f: write f, (x - 0x50) * 256 + n + 4 times
//   0x60..0xDF   invalid: the section's decoding stops
//   0xE0..0xFF   n: back-reference at distance (x - 0xE0) * 256 + n. While the
//                next byte is 0x60..0x7F it is consumed and (byte & 0x1F)
//                bytes are copied; then 7 more bytes are copied, and the byte
//                that ended the reference is the next code
//
// Output
// ------
// Back-references copy byte by byte from the front, so a distance shorter
// than the length repeats the last bytes; a distance of 0 copies the unwritten
// (zero) bytes at the output position itself. The output position runs on from
// block to block of one section. Bytes are written only while the output
// position is at most unpackedSize.
//
// The packer writes bit-flag blocks only, with narrower limits than the format
// allows: distances up to 8191 inside the block, matches of 2..269 bytes, runs
// of 14..4095 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace packed {

inline constexpr std::size_t kSectionHeaderSize = 12;
// Bytes of the section header that sectionSize counts (unpackedSize, blockCount).
inline constexpr std::uint32_t kSectionSizeBias = 8;

inline constexpr std::size_t kOffEndOffset = 0;
inline constexpr std::size_t kOffBlockMode = 2;
inline constexpr std::size_t kOffFirstFlags = 3;
inline constexpr std::size_t kFlagTokensStart = 4;  // first token byte of a bit-flag block
inline constexpr std::size_t kCodedStart = 2;       // first code of a byte-coded block
inline constexpr std::uint8_t kFlagBlockMode = 0;
// A block, trailing byte included, is at most this long (endOffset is a u16).
inline constexpr std::size_t kMaxBlockBytes = 0x10000;

// Bit-flag tokens.
inline constexpr std::uint32_t kMaxNearDistance = 255;
inline constexpr std::uint32_t kMaxDistance = 8191;
inline constexpr std::uint32_t kFarHighStep = 4096;  // value of the h bit
inline constexpr std::uint32_t kMinMatch = 2;
inline constexpr std::uint32_t kMaxShortLength = 13;  // longest length without a length byte
inline constexpr std::uint32_t kLongLengthBase = 14;  // length = 14 + length byte
inline constexpr std::uint32_t kMaxMatch = 269;       // 14 + 255
inline constexpr std::uint32_t kMinRun = 14;
inline constexpr std::uint32_t kMaxShortRun = 29;  // L = 0: 14 + v
inline constexpr std::uint8_t kRunMarker = 1;
inline constexpr std::uint8_t kEndMarker = 0;

// Byte codes.
inline constexpr std::uint8_t kCodeEnd = 0x00;
inline constexpr std::uint8_t kCodeLongLiteral = 0x20;
inline constexpr std::uint8_t kCodeShortRun = 0x40;
inline constexpr std::uint8_t kCodeLongRun = 0x50;
inline constexpr std::uint8_t kCodeInvalid = 0x60;  // 0x60..0xDF
inline constexpr std::uint8_t kCodeReference = 0xE0;
inline constexpr std::uint8_t kCodeExtension = 0x60;  // 0x60..0x7F after a reference
inline constexpr std::uint32_t kShortRunBias = 60;    // 0x40..0x4F: x - 60 bytes
inline constexpr std::uint32_t kLongRunBias = 4;
inline constexpr std::uint32_t kReferenceTail = 7;  // bytes every reference copies last

// Fields of several flag bits are stored most significant bit first in a
// stream read least significant bit first: this reverses a 4-bit field.
inline constexpr std::uint8_t kReverse4[16] = {0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE,
                                               0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF};

}  // namespace packed
