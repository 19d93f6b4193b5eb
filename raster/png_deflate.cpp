// Deflate for PNG rows: matches found at pixel starts, coded in dynamic
// Huffman blocks.
//
// Stream layout (RFC 1950 / 1951), as written here:
//   2 bytes   zlib header 0x78 0x9C: deflate, 32 KiB window, no dictionary
//   blocks    each: BFINAL (1 bit, set on the last), BTYPE 2 (dynamic codes),
//             HLIT - 257 (5 bits), HDIST - 1 (5), HCLEN - 4 (4), HCLEN code-
//             length code lengths (3 bits each, in kCodeLengthOrder), the
//             literal/length and distance code lengths in the code-length
//             code (16: repeat the previous 3-6 times, 17: 3-10 zeros, 18:
//             11-138 zeros), then the symbols and the end-of-block symbol 256
//   4 bytes   Adler-32 of the uncompressed data, big-endian
// Bits are packed from the least significant bit of each byte; Huffman codes
// go most significant bit first, so they are stored bit-reversed.
#include "raster/png_deflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// An index into the coder's tables: the ints of the Huffman construction are
// never negative where they index.
constexpr std::size_t Ix(int i) {
  return static_cast<std::size_t>(i);
}

constexpr std::size_t kWindow = 32768;  // farthest distance deflate can code
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 258;
constexpr int kHashBits = 15;
constexpr int kLongKeyIndices = 8;
constexpr std::uint32_t kNoPosition = 0xFFFFFFFFu;
constexpr int kLitLenSymbols = 286;  // 0-255 literals, 256 end of block, 257-285 lengths
constexpr int kDistSymbols = 30;
constexpr int kCodeLengthSymbols = 19;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;
constexpr int kEndOfBlock = 256;
constexpr std::uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
// A match token has this bit set, the length - 3 in bits 16-23 and the
// distance - 1 in bits 0-15; a literal token is the byte itself.
constexpr std::uint32_t kMatchFlag = 0x80000000u;

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Equal bytes at a and b from the start, up to `limit`: sixteen bytes at a
// time where SSE2 is there (every x86-64), then eight. The first differing
// byte is the lowest set bit of the mask or byte of the XOR: loads are
// little-endian here, as on every target this builds for.
std::size_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit) {
  std::size_t t = 0;
#if defined(__SSE2__)
  while (t + 16 <= limit) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + t));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + t));
    const unsigned differ =
        ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFFu;
    if (differ != 0) return t + static_cast<std::size_t>(__builtin_ctz(differ));
    t += 16;
  }
#endif
  while (t + 8 <= limit) {
    const std::uint64_t diff = Load64(a + t) ^ Load64(b + t);
    if (diff != 0) return t + static_cast<std::size_t>(__builtin_ctzll(diff)) / 8;
    t += 8;
  }
  while (t < limit && a[t] == b[t]) ++t;
  return t;
}

// Length symbol (257-285) and its extra bits for a match length of 3-258.
void LengthSymbol(std::uint32_t length, int* symbol, int* extraBits, std::uint32_t* extra) {
  const std::uint32_t x = length - 3;
  if (x < 8) {
    *symbol = 257 + static_cast<int>(x), *extraBits = 0, *extra = 0;
  } else if (x == 255) {
    *symbol = 285, *extraBits = 0, *extra = 0;
  } else {
    const int top = 31 - __builtin_clz(x);  // 3..7
    *extraBits = top - 2;
    *symbol = 257 + 4 * (top - 1) + static_cast<int>((x >> *extraBits) & 3);
    *extra = x & ((1u << *extraBits) - 1);
  }
}

// Distance symbol (0-29) and its extra bits for a distance of 1-32768.
void DistanceSymbol(std::uint32_t distance, int* symbol, int* extraBits, std::uint32_t* extra) {
  const std::uint32_t x = distance - 1;
  if (x < 4) {
    *symbol = static_cast<int>(x), *extraBits = 0, *extra = 0;
  } else {
    const int top = 31 - __builtin_clz(x);  // 2..14
    *extraBits = top - 1;
    *symbol = 2 * top + static_cast<int>((x >> *extraBits) & 1);
    *extra = x & ((1u << *extraBits) - 1);
  }
}

// Code lengths of a Huffman code for `freq` (n symbols, at least two of them
// with a non-zero count) in which no code is longer than `limit` bits. When
// the optimal code is too deep the counts are halved (keeping them non-zero)
// until it fits; that flattens the code and always ends, since equal counts
// give a code of depth ceil(log2 n).
void BuildCodeLengths(const std::uint32_t* freq, int n, int limit, std::uint8_t* lengths) {
  std::array<std::uint32_t, kLitLenSymbols> weight{};
  std::copy(freq, freq + n, weight.begin());
  std::array<int, kLitLenSymbols> leaf{};  // symbols by weight
  std::array<std::uint64_t, 2 * kLitLenSymbols> nodeWeight{};
  std::array<int, 2 * kLitLenSymbols> parent{};
  std::array<int, 2 * kLitLenSymbols> depth{};
  for (;;) {
    int m = 0;
    for (int s = 0; s < n; ++s) {
      lengths[s] = 0;
      if (weight[Ix(s)] != 0) leaf[Ix(m++)] = s;
    }
    std::sort(leaf.begin(), leaf.begin() + m, [&weight](int a, int b) {
      return weight[Ix(a)] != weight[Ix(b)] ? weight[Ix(a)] < weight[Ix(b)] : a < b;
    });
    // Leaves are nodes 0..m-1 in weight order; internal nodes m..2m-2 are
    // made in non-decreasing weight, so two queues give the two lightest.
    for (int i = 0; i < m; ++i) nodeWeight[Ix(i)] = weight[Ix(leaf[Ix(i)])];
    int nextLeaf = 0;
    int nextInner = m;
    for (int made = m; made < 2 * m - 1; ++made) {
      int pick[2];
      for (int& p : pick) {
        if (nextLeaf < m &&
            (nextInner >= made || nodeWeight[Ix(nextLeaf)] <= nodeWeight[Ix(nextInner)])) {
          p = nextLeaf++;
        } else {
          p = nextInner++;
        }
      }
      nodeWeight[Ix(made)] = nodeWeight[Ix(pick[0])] + nodeWeight[Ix(pick[1])];
      parent[Ix(pick[0])] = made;
      parent[Ix(pick[1])] = made;
    }
    const int root = 2 * m - 2;
    depth[Ix(root)] = 0;
    for (int i = root - 1; i >= 0; --i) depth[Ix(i)] = depth[Ix(parent[Ix(i)])] + 1;
    int deepest = 0;
    for (int i = 0; i < m; ++i) deepest = std::max(deepest, depth[Ix(i)]);
    if (deepest <= limit) {
      for (int i = 0; i < m; ++i) lengths[leaf[Ix(i)]] = static_cast<std::uint8_t>(depth[Ix(i)]);
      return;
    }
    for (int s = 0; s < n; ++s) {
      if (weight[Ix(s)] != 0) weight[Ix(s)] = (weight[Ix(s)] + 1) / 2;
    }
  }
}

// Canonical codes for `lengths`, bit-reversed for LSB-first output.
void BuildCodes(const std::uint8_t* lengths, int n, std::uint16_t* codes) {
  int count[kMaxCodeBits + 1] = {};
  for (int s = 0; s < n; ++s) ++count[lengths[s]];
  count[0] = 0;
  int next[kMaxCodeBits + 2] = {};
  for (int bits = 1; bits <= kMaxCodeBits; ++bits) next[bits + 1] = (next[bits] + count[bits]) << 1;
  for (int s = 0; s < n; ++s) {
    const int len = lengths[s];
    if (len == 0) continue;
    int code = next[len]++;
    int reversed = 0;
    for (int b = 0; b < len; ++b, code >>= 1) reversed = (reversed << 1) | (code & 1);
    codes[s] = static_cast<std::uint16_t>(reversed);
  }
}

// Gives unused symbols a count of 1 until at least two symbols have one, so
// that the code built for `freq` is a complete prefix code, which every
// inflater accepts. The padding costs a few header bits.
void PadToTwoSymbols(std::uint32_t* freq, int n) {
  int used =
      static_cast<int>(std::count_if(freq, freq + n, [](std::uint32_t f) { return f != 0; }));
  for (int s = 0; s < n && used < 2; ++s) {
    if (freq[s] == 0) freq[s] = 1, ++used;
  }
}

// Writes bits least significant first, 32 at a time, straight into the
// output's storage, which grows ahead of them; Finish trims it to the bytes
// written.
class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>* out) : out_(out), used_(out->size()) {}
  // count <= 32
  void Put(std::uint32_t bits, int count) {
    acc_ |= static_cast<std::uint64_t>(bits) << filled_;
    filled_ += count;
    if (filled_ >= 32) {
      if (out_->size() - used_ < 4) out_->resize(std::max(2 * out_->size(), used_ + 4096));
      std::uint8_t* const word = out_->data() + used_;
      word[0] = static_cast<std::uint8_t>(acc_);
      word[1] = static_cast<std::uint8_t>(acc_ >> 8);
      word[2] = static_cast<std::uint8_t>(acc_ >> 16);
      word[3] = static_cast<std::uint8_t>(acc_ >> 24);
      used_ += 4;
      acc_ >>= 32;
      filled_ -= 32;
    }
  }
  // Pads the last byte with zero bits.
  void Finish() {
    out_->resize(used_);
    for (; filled_ > 0; filled_ -= 8, acc_ >>= 8) out_->push_back(static_cast<std::uint8_t>(acc_));
    filled_ = 0;
    used_ = out_->size();
  }

 private:
  std::vector<std::uint8_t>* out_;
  std::size_t used_;  // bytes of *out_ written
  std::uint64_t acc_ = 0;
  int filled_ = 0;
};

// The tokens of one block and their symbol counts, coded when the block is
// full or the data ends.
class BlockCoder {
 public:
  BlockCoder(BitWriter* bits, std::size_t capacity) : bits_(bits) { tokens_.reserve(capacity); }

  void Literal(std::uint8_t byte) {
    tokens_.push_back(byte);
    ++litLen_[byte];
  }
  void Match(std::uint32_t length, std::uint32_t distance) {
    tokens_.push_back(kMatchFlag | ((length - 3) << 16) | (distance - 1));
    int symbol, extraBits;
    std::uint32_t extra;
    LengthSymbol(length, &symbol, &extraBits, &extra);
    ++litLen_[Ix(symbol)];
    DistanceSymbol(distance, &symbol, &extraBits, &extra);
    ++dist_[Ix(symbol)];
  }
  std::size_t size() const { return tokens_.size(); }

  void Flush(bool last);

 private:
  void WriteCodeLengths(const std::uint8_t* lengths, int total);

  BitWriter* bits_;
  std::vector<std::uint32_t> tokens_;
  std::array<std::uint32_t, kLitLenSymbols> litLen_{};
  std::array<std::uint32_t, kDistSymbols> dist_{};
};

// The literal/length lengths followed by the distance lengths, as code-length
// symbols: runs of zeros as 17 or 18, runs of another length as that length
// then 16s. The run may cross from one table into the other.
void BlockCoder::WriteCodeLengths(const std::uint8_t* lengths, int total) {
  // Symbol in bits 0-7, extra value in bits 8-15.
  std::array<std::uint16_t, kLitLenSymbols + kDistSymbols> ops{};
  int opCount = 0;
  std::array<std::uint32_t, kCodeLengthSymbols> freq{};
  auto op = [&](int symbol, int extra) {
    ops[Ix(opCount++)] = static_cast<std::uint16_t>(symbol | (extra << 8));
    ++freq[Ix(symbol)];
  };
  for (int i = 0; i < total;) {
    const std::uint8_t v = lengths[i];
    int run = 1;
    while (i + run < total && lengths[i + run] == v) ++run;
    i += run;
    if (v == 0) {
      for (; run >= 11; run -= std::min(run, 138)) op(18, std::min(run, 138) - 11);
      if (run >= 3) {
        op(17, run - 3);
        run = 0;
      }
      for (; run > 0; --run) op(0, 0);
    } else {
      op(v, 0);
      --run;
      for (; run >= 3; run -= std::min(run, 6)) op(16, std::min(run, 6) - 3);
      for (; run > 0; --run) op(v, 0);
    }
  }
  PadToTwoSymbols(freq.data(), kCodeLengthSymbols);
  std::uint8_t clLengths[kCodeLengthSymbols];
  std::uint16_t clCodes[kCodeLengthSymbols] = {};
  BuildCodeLengths(freq.data(), kCodeLengthSymbols, kMaxCodeLengthBits, clLengths);
  BuildCodes(clLengths, kCodeLengthSymbols, clCodes);
  int hclen = kCodeLengthSymbols;
  while (hclen > 4 && clLengths[kCodeLengthOrder[hclen - 1]] == 0) --hclen;
  bits_->Put(static_cast<std::uint32_t>(hclen - 4), 4);
  for (int k = 0; k < hclen; ++k) bits_->Put(clLengths[kCodeLengthOrder[k]], 3);
  for (int k = 0; k < opCount; ++k) {
    const int symbol = ops[Ix(k)] & 0xFF;
    const int extra = ops[Ix(k)] >> 8;
    bits_->Put(clCodes[symbol], clLengths[symbol]);
    if (symbol == 16) bits_->Put(static_cast<std::uint32_t>(extra), 2);
    if (symbol == 17) bits_->Put(static_cast<std::uint32_t>(extra), 3);
    if (symbol == 18) bits_->Put(static_cast<std::uint32_t>(extra), 7);
  }
}

void BlockCoder::Flush(bool last) {
  litLen_[kEndOfBlock] = 1;
  PadToTwoSymbols(litLen_.data(), kLitLenSymbols);
  PadToTwoSymbols(dist_.data(), kDistSymbols);
  std::uint8_t lengths[kLitLenSymbols + kDistSymbols];
  std::uint16_t litCodes[kLitLenSymbols] = {};
  std::uint16_t distCodes[kDistSymbols] = {};
  BuildCodeLengths(litLen_.data(), kLitLenSymbols, kMaxCodeBits, lengths);
  BuildCodeLengths(dist_.data(), kDistSymbols, kMaxCodeBits, lengths + kLitLenSymbols);
  const std::uint8_t* litLengths = lengths;
  const std::uint8_t* distLengths = lengths + kLitLenSymbols;
  BuildCodes(litLengths, kLitLenSymbols, litCodes);
  BuildCodes(distLengths, kDistSymbols, distCodes);
  int hlit = kLitLenSymbols;
  while (hlit > 257 && litLengths[hlit - 1] == 0) --hlit;
  int hdist = kDistSymbols;
  while (hdist > 1 && distLengths[hdist - 1] == 0) --hdist;
  // The two tables back to back, as the header sends them.
  std::uint8_t sent[kLitLenSymbols + kDistSymbols];
  std::copy(litLengths, litLengths + hlit, sent);
  std::copy(distLengths, distLengths + hdist, sent + hlit);

  bits_->Put(last ? 1 : 0, 1);
  bits_->Put(2, 2);
  bits_->Put(static_cast<std::uint32_t>(hlit - 257), 5);
  bits_->Put(static_cast<std::uint32_t>(hdist - 1), 5);
  WriteCodeLengths(sent, hlit + hdist);

  for (const std::uint32_t t : tokens_) {
    if ((t & kMatchFlag) == 0) {
      bits_->Put(litCodes[t], litLengths[t]);
      continue;
    }
    int symbol, extraBits;
    std::uint32_t extra;
    LengthSymbol(((t >> 16) & 0xFF) + 3, &symbol, &extraBits, &extra);
    // A code and its extra bits go together: at most 15 + 13 bits.
    bits_->Put(litCodes[symbol] | extra << litLengths[symbol], litLengths[symbol] + extraBits);
    DistanceSymbol((t & 0xFFFF) + 1, &symbol, &extraBits, &extra);
    bits_->Put(distCodes[symbol] | extra << distLengths[symbol], distLengths[symbol] + extraBits);
  }
  bits_->Put(litCodes[kEndOfBlock], litLengths[kEndOfBlock]);
  tokens_.clear();
  litLen_.fill(0);
  dist_.fill(0);
}

// The first n bytes (n <= 8) of a little-endian 64-bit load.
constexpr std::uint64_t KeyMask(int n) {
  return n >= 8 ? ~0ull : (1ull << (8 * n)) - 1;
}

// Adler-32 (RFC 1950): s1 = 1 + the sum of the bytes, s2 = the sum of the
// successive s1 values, both mod 65521. Bytes go sixteen at a time into
// sixteen lanes: over k rows of sixteen, lane l sums its bytes (a) and the
// running sums (t), and byte l of row j adds 16 * (k - j) - l to s2. Lanes of
// fixed width let the compiler use vector adds.
class Adler32 {
 public:
  void Update(const std::uint8_t* p, std::size_t left) {
    constexpr std::size_t kRows = 4096;  // t stays below 2^32: 255 * 4096^2 / 2
    while (left >= 16) {
      const std::size_t k = std::min(left / 16, kRows);
      std::uint32_t a[16] = {};
      std::uint32_t t[16] = {};
      for (std::size_t j = 0; j < k; ++j, p += 16) {
        for (int l = 0; l < 16; ++l) {
          t[l] += a[l];
          a[l] += p[l];
        }
      }
      std::uint64_t sum = 0;
      std::uint64_t weighted = 0;
      for (int l = 0; l < 16; ++l) {
        sum += a[l];
        weighted +=
            16 * (static_cast<std::uint64_t>(t[l]) + a[l]) - static_cast<std::uint64_t>(l) * a[l];
      }
      s2_ = (s2_ + 16 * k * s1_ + weighted) % kMod;
      s1_ = (s1_ + sum) % kMod;
      left -= 16 * k;
    }
    for (; left > 0; --left, ++p) {
      s1_ += *p;
      s2_ += s1_;
    }
    s1_ %= kMod;
    s2_ %= kMod;
  }
  // Adds the bytes that n pixels stand for, pixel i being the `scale` bytes
  // b0, b1... of its palette entry. entry[i] holds their sum in its low half
  // and 0 b0 + 1 b1 + 2 b2... (the lead) in its high half. Over the m = scale
  // k bytes of k pixels, s2 gains m s1 plus (m - j + 1) times byte j; for
  // the pixel at t, whose bytes are j = scale t + 1 + c, that is (m - scale t)
  // sum - lead, and over the pixels: scale (sum of the running sums) - leads.
  // Both halves are summed in one add; the chunk keeps the low half's running
  // sums from carrying into the high half.
  void UpdateMapped(const std::uint8_t* pixels, std::size_t n, std::uint32_t scale,
                    const std::uint64_t* entry) {
    constexpr std::size_t kPixels = 2048;  // 1020 * 2048^2 / 2 < 2^32
    while (n > 0) {
      const std::size_t k = std::min(n, kPixels);
      std::uint64_t total = 0;
      std::uint64_t running = 0;
      for (std::size_t t = 0; t < k; ++t) {
        total += entry[pixels[t]];
        running += total;
      }
      const std::uint64_t sums = total & 0xFFFFFFFFu;
      const std::uint64_t leads = total >> 32;
      const std::uint64_t runs = running & 0xFFFFFFFFu;
      s2_ = (s2_ + scale * k % kMod * s1_ + scale * runs + kMod * kMod - leads) % kMod;
      s1_ = (s1_ + sums) % kMod;
      pixels += k;
      n -= k;
    }
  }
  std::uint32_t Value() const { return static_cast<std::uint32_t>((s2_ << 16) | s1_); }

 private:
  static constexpr std::uint64_t kMod = 65521;
  std::uint64_t s1_ = 1;
  std::uint64_t s2_ = 0;
};

// The match finder and parser. Positions count bytes from the start of the
// data (with a palette: index bytes, one a pixel, and filter bytes) and
// travel with their column in the row (0: the filter byte), so that no step
// divides. The rows are made as the parser reaches them, into a
// buffer that keeps the window behind the position and at least kLookahead
// bytes ahead of it.
class Deflater {
 public:
  Deflater(const PngRows& rows, const DeflateEffort& effort, BlockCoder* coder)
      : rows_(rows),
        palette_(rows.palette),
        scale_(palette_ != nullptr ? static_cast<std::size_t>(rows.pixelBytes) : 1),
        rowLength_(rows.rowBytes / scale_ + 1),
        rowReciprocal_(~std::uint64_t{0} / rowLength_ + 1),
        size_(rows.rowCount * rowLength_),
        window_(kWindow / scale_),
        maxMatch_(kMaxMatch / scale_),
        bufferSize_(std::max(kMinBuffer, kWindow + kLookahead + rowLength_)),
        pixelBytes_(static_cast<std::size_t>(rows.pixelBytes) / scale_),
        shortMask_(KeyMask(rows.pixelBytes == 1 ? 4 : 2 * static_cast<int>(pixelBytes_))),
        longKeyBytes_(rows.pixelBytes == 1 ? kLongKeyIndices
                                           : std::min(16, 5 * static_cast<int>(pixelBytes_))),
        longFirstMask_(KeyMask(std::min(8, longKeyBytes_))),
        longMask_(longKeyBytes_ <= 8 ? 0 : KeyMask(longKeyBytes_ - 8)),
        effort_(effort),
        coder_(coder),
        head_(std::size_t{1} << kHashBits, kNoPosition),
        prev_(kWindow, kNoPosition),
        longHead_(std::size_t{1} << kHashBits, kNoPosition),
        longPrev_(kWindow, kNoPosition) {
    for (std::size_t e = 0; palette_ != nullptr && e < 256; ++e) {
      for (std::size_t c = 0; c < scale_; ++c) {
        entryAdler_[e] += (std::uint64_t{c} << 32 | 1) * palette_[4 * e + c];
      }
    }
  }

  // False when the buffer cannot be had.
  bool Allocate() {
    buffer_.reset(new (std::nothrow) std::uint8_t[bufferSize_]);
    return buffer_ != nullptr;
  }
  void Run();
  std::uint32_t Adler() const { return adler_.Value(); }

 private:
  static constexpr std::size_t kLookahead = 512;  // a match, a key, a lazy step
  static constexpr std::size_t kMinBuffer = std::size_t{1} << 20;
  struct Found {
    std::size_t length = 0;
    std::size_t distance = 0;
  };

  // Matches start and end at a row's filter byte or at the first byte of a
  // pixel. The step from one such position to the next:
  std::size_t Step(std::size_t column) const { return column == 0 ? 1 : pixelBytes_; }
  std::size_t Advance(std::size_t column, std::size_t n) const {
    column += n;
    while (column >= rowLength_) column -= rowLength_;
    return column;
  }
  // Two sets of chains. The long key is the first 16 bytes at most: five
  // RGB pixels, four RGBA pixels, eight indices (with a palette, five
  // indices). Every match of that length or more is on its chain, which is
  // far shorter than a chain of a common short key. The short key (two
  // pixels, four indices; with a palette, two indices) finds the shorter
  // matches.
  static std::uint32_t HashOf(std::uint64_t key) {
    return static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kHashBits));
  }
  struct Keys {
    std::uint32_t shortHash;
    std::uint32_t longHash;
  };
  // Both keys of p; p + 16 <= size_.
  Keys KeysAt(std::size_t p) const {
    const std::uint64_t first = Load64(At(p));
    const std::uint64_t second = Load64(At(p) + 8) & longMask_;
    return Keys{HashOf(first & shortMask_),
                HashOf((first & longFirstMask_) ^ (second * 0xC2B2AE3D27D4EB4Full))};
  }
  const std::uint8_t* At(std::size_t p) const { return buffer_.get() + (p - base_); }
  // Makes the bytes up to p + kLookahead (or the end) available.
  void Reach(std::size_t p) {
    if (filled_ >= size_ || filled_ >= p + kLookahead) return;
    if (filled_ - base_ + rowLength_ > bufferSize_) {
      const std::size_t keep = std::max(base_, p > kWindow ? p - kWindow : 0);
      std::memmove(buffer_.get(), At(keep), filled_ - keep);
      base_ = keep;
    }
    while (next_ < rows_.rowCount && filled_ - base_ + rowLength_ <= bufferSize_) {
      std::uint8_t* row = buffer_.get() + (filled_ - base_);
      rows_.row(next_++, row);
      if (palette_ == nullptr) {
        adler_.Update(row, rowLength_);
      } else {
        adler_.Update(row, 1);
        adler_.UpdateMapped(row + 1, rowLength_ - 1, static_cast<std::uint32_t>(scale_),
                            entryAdler_.data());
      }
      filled_ += rowLength_;
    }
  }
  // Puts p on its chains. Positions come in increasing order, each once;
  // indexedTo_ is one past the last.
  void Index(std::size_t p, Keys keys) {
    const std::size_t slot = p % kWindow;
    prev_[slot] = head_[keys.shortHash];
    head_[keys.shortHash] = static_cast<std::uint32_t>(p);
    longPrev_[slot] = longHead_[keys.longHash];
    longHead_[keys.longHash] = static_cast<std::uint32_t>(p);
  }
  // Indexes the positions where matches may start in (p, end), p at
  // `column`, row by row: the pixels of a row one step apart, then the next
  // row's filter byte.
  void IndexInside(std::size_t p, std::size_t column, std::size_t end) {
    const std::size_t stop = std::min(end, size_ >= 16 ? size_ - 15 : 0);
    std::size_t q = p + (column == 0 ? 1 : pixelBytes_);
    std::size_t rowEnd = p - column + rowLength_;  // the next row's filter byte
    if (q < indexedTo_ && q == rowEnd) {           // indexed by a lazy look-ahead
      ++q;
      rowEnd += rowLength_;
    } else if (q < indexedTo_) {
      q += pixelBytes_;
    }
    // With indexEdge, only that many pixel starts at each end of the match
    // (and the row starts) go on the chains: the inside of a long match is
    // found again through the distances tried before the chains.
    const std::size_t edge =
        effort_.indexEdge > 0 ? static_cast<std::size_t>(effort_.indexEdge) * pixelBytes_ : size_;
    const std::size_t skipFrom = p + edge;
    const std::size_t skipTo = end > edge ? end - edge : 0;
    while (q < stop) {
      if (q == rowEnd) {
        Index(q, KeysAt(q));
        ++q;
        rowEnd += rowLength_;
        continue;
      }
      const std::size_t last = std::min(rowEnd, stop);
      for (; q < last; q += pixelBytes_) {
        if (q < skipFrom || q >= skipTo) Index(q, KeysAt(q));
      }
    }
    indexedTo_ = std::max(indexedTo_, q);
  }
  // kPalette: palette_ is set. The two forms are compiled apart, so that
  // without a palette the window and the longest match stay constants.
  template <bool kPalette>
  Found Search(std::size_t p, std::size_t column);
  template <bool kPalette>
  void RunAs();

  // With a palette, the positions are those of the index rows, and what is
  // coded is the colour rows: the filter byte, then scale_ bytes a pixel.
  //
  // x / rowLength_ and x % rowLength_ for 32-bit x, by multiplying with a
  // 64-bit reciprocal (exact for every 32-bit x and divisor): a division
  // would cost more than the rest of a candidate's check.
  static std::uint64_t HighOfProduct(std::uint64_t a, std::uint32_t b) {
    const std::uint64_t high = (a >> 32) * b;
    const std::uint64_t low = (a & 0xFFFFFFFFu) * b;
    return (high + (low >> 32)) >> 32;
  }
  std::size_t RowsIn(std::size_t x) const {
    return HighOfProduct(rowReciprocal_, static_cast<std::uint32_t>(x));
  }
  std::size_t ColumnOf(std::size_t x) const {
    return HighOfProduct(rowReciprocal_ * static_cast<std::uint32_t>(x),
                         static_cast<std::uint32_t>(rowLength_));
  }
  // The colour bytes of n positions from one at `column`: scale_ a pixel,
  // one a filter byte.
  std::size_t ColourLength(std::size_t column, std::size_t n) const {
    const std::size_t filters = RowsIn(column + n - 1) + (column == 0 ? 1 : 0);
    return scale_ * n - (scale_ - 1) * filters;
  }
  // The colour distance back from a position at `column` to the one
  // `distance` positions before it.
  std::size_t ColourDistance(std::size_t column, std::size_t distance) const {
    const std::size_t rows = RowsIn(distance);
    const std::size_t part = distance - rows * rowLength_;
    const std::size_t filters = rows + (column != 0 && part >= column ? 1 : 0);
    return scale_ * distance - (scale_ - 1) * filters;
  }
  void Literals(std::size_t p, std::size_t column, std::size_t n);

  const PngRows& rows_;
  const std::uint8_t* palette_;
  std::size_t scale_;  // colour bytes a position stands for (1 without a palette)
  std::size_t rowLength_;
  std::uint64_t rowReciprocal_;  // 2^64 / rowLength_, rounded up
  std::size_t size_;
  std::size_t window_;    // the farthest distance, in positions
  std::size_t maxMatch_;  // the longest match, in positions
  std::size_t bufferSize_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::array<std::uint64_t, 256> entryAdler_{};  // see Adler32::UpdateMapped
  std::size_t base_ = 0;                         // the position of buffer_[0]
  std::size_t filled_ = 0;                       // the position after the last byte made
  std::size_t next_ = 0;                         // the next row to make
  Adler32 adler_;
  std::size_t pixelBytes_;
  std::uint64_t shortMask_;
  int longKeyBytes_;
  std::uint64_t longFirstMask_;
  std::uint64_t longMask_;
  DeflateEffort effort_;
  BlockCoder* coder_;
  std::vector<std::uint32_t> head_;
  std::vector<std::uint32_t> prev_;
  std::vector<std::uint32_t> longHead_;
  std::vector<std::uint32_t> longPrev_;
  std::size_t lastDistance_ = 0;
  std::size_t indexedTo_ = 0;
};

// The longest match for p (at `column`), which it then indexes, cut back to
// end where a match may end; length 0 when none is worth coding. Before the
// chains it tries the distances that pictures repeat at most: the last
// match's, the row above, a pixel either side of each, and two rows up.
// Those find long matches at once, and they find short ones that the chains
// would reach only deep down.
template <bool kPalette>
Deflater::Found Deflater::Search(std::size_t p, std::size_t column) {
  Reach(p);
  Found best;
  Keys keys{};
  const std::size_t window = kPalette ? window_ : kWindow;
  const std::size_t limit = std::min(kPalette ? maxMatch_ : kMaxMatch, size_ - p);
  // A candidate wins when it is longer, or as long and nearer: a nearer
  // distance costs fewer extra bits. (Chains run nearest first; the repeat
  // distances tried before them may be far.)
  auto consider = [&](std::size_t distance) {
    const std::uint8_t* here = At(p);
    const std::uint8_t* there = here - distance;
    const std::size_t need =
        best.length != 0 && distance < best.distance ? best.length : best.length + 1;
    if (need > limit) return;
    // A match that long agrees on the (up to four) bytes that end where it
    // would end.
    if (need < 4 ? there[need - 1] != here[need - 1]
                 : Load32(there + need - 4) != Load32(here + need - 4)) {
      return;
    }
    // With a palette, a filter byte may only be matched by a filter byte: its
    // 0 is not the colour of index 0. A match from a column other than its
    // own stays inside the pixels of one row at both of its ends.
    std::size_t reach = limit;
    if constexpr (kPalette) {
      const std::size_t from = ColumnOf(p - distance);
      if (from != column) {
        if (from == 0 || column == 0) return;
        reach = std::min(reach, rowLength_ - std::max(from, column));
        if (reach < need) return;
      }
    }
    const std::size_t length = MatchLength(there, here, reach);
    if (length >= need) best = Found{length, distance};
  };
  // The shortest match that deflate codes is three bytes: three positions,
  // or with a palette those that hold three colour bytes.
  std::size_t shortest = kPalette ? 1 : kMinMatch;
  while (kPalette && shortest <= limit && ColourLength(column, shortest) < kMinMatch) ++shortest;
  if (limit >= shortest) {
    // With a palette, a position is a whole pixel, and the last four rarely
    // win: they cost more time than they save bytes.
    const std::size_t near[] = {lastDistance_,
                                rowLength_,
                                rowLength_ - pixelBytes_,
                                rowLength_ + pixelBytes_,
                                lastDistance_ - pixelBytes_,
                                lastDistance_ + pixelBytes_,
                                2 * rowLength_};
    const std::size_t reachable = std::min(p, window);
    for (std::size_t i = 0; i < 4; ++i) {
      if (near[i] - 1 < reachable) consider(near[i]);
    }
    for (std::size_t i = 4; !kPalette && i < std::size(near); ++i) {
      if (near[i] - 1 < reachable) consider(near[i]);
    }
    if (p + 16 <= size_) {
      keys = KeysAt(p);
      const std::size_t nice = static_cast<std::size_t>(effort_.niceLength) / scale_;
      auto walk = [&](const std::vector<std::uint32_t>& head,
                      const std::vector<std::uint32_t>& prev, std::uint32_t hash, int steps) {
        std::uint32_t candidate = head[hash];
        for (; steps > 0 && candidate != kNoPosition; --steps) {
          // p itself is indexed already when a one-pixel match ended here.
          if (candidate < p) {
            const std::size_t distance = p - candidate;
            // Past a match of nice length the search ends; with a palette,
            // once the chain, which runs on to farther candidates, reaches
            // its distance, since only a nearer one could still win.
            if (distance > window ||
                (best.length >= nice && (!kPalette || distance >= best.distance))) {
              break;
            }
            consider(distance);
          }
          const std::uint32_t next = prev[candidate % kWindow];
          if (next == kNoPosition || next >= candidate) break;
          candidate = next;
        }
      };
      walk(longHead_, longPrev_, keys.longHash, effort_.chainLength);
      if (best.length < static_cast<std::size_t>(longKeyBytes_)) {
        walk(head_, prev_, keys.shortHash, effort_.shortChainLength);
      }
    }
  }
  if (p + 16 <= size_ && p >= indexedTo_) {
    Index(p, keys);
    indexedTo_ = p + 1;
  }
  if (best.length != 0 && p + best.length < size_) {
    const std::size_t end = Advance(column, best.length);
    if (end != 0 && pixelBytes_ > 1) best.length -= (end - 1) % pixelBytes_;
  }
  if (best.length < shortest) best = Found{};
  return best;
}

// Codes the n positions from p (at `column`) as literals: their bytes, or
// with a palette a pixel's colour bytes.
void Deflater::Literals(std::size_t p, std::size_t column, std::size_t n) {
  for (; n > 0; --n, ++p, column = Advance(column, 1)) {
    const std::uint8_t byte = *At(p);
    if (palette_ == nullptr || column == 0) {
      coder_->Literal(byte);
      continue;
    }
    for (std::size_t k = 0; k < scale_; ++k) coder_->Literal(palette_[4 * std::size_t{byte} + k]);
  }
}

// The longest match at each position is taken, or with lazyBelow, checked
// against the next position's first. Lazy matching pays for indices; for
// three- or four-byte pixels it made the pictures larger, since a pixel of
// literals costs more than the longer match buys back.
template <bool kPalette>
void Deflater::RunAs() {
  std::size_t p = 0;
  std::size_t column = 0;
  while (p < size_) {
    Found match = Search<kPalette>(p, column);
    // Lazy matching: when the next position starts a longer match, this
    // position goes out as a literal and that match is tried the same way.
    while (match.length != 0 && match.length < static_cast<std::size_t>(effort_.lazyBelow)) {
      const std::size_t step = Step(column);
      if (p + step >= size_) break;
      const Found later = Search<kPalette>(p + step, Advance(column, step));
      if (later.length <= match.length) break;
      Literals(p, column, step);
      p += step;
      column = Advance(column, step);
      match = later;
    }
    if (match.length == 0) {
      const std::size_t n = std::min(Step(column), size_ - p);
      Literals(p, column, n);
      p += n;
      column = Advance(column, n);
    } else {
      const std::size_t length = kPalette ? ColourLength(column, match.length) : match.length;
      const std::size_t distance =
          kPalette ? ColourDistance(column, match.distance) : match.distance;
      coder_->Match(static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(distance));
      lastDistance_ = match.distance;
      const std::size_t end = p + match.length;
      IndexInside(p, column, end);
      column = Advance(column, match.length);
      p = end;
    }
    if (coder_->size() >= effort_.blockTokens) coder_->Flush(false);
  }
  coder_->Flush(true);
}

void Deflater::Run() {
  if (palette_ != nullptr) {
    RunAs<true>();
  } else {
    RunAs<false>();
  }
}

}  // namespace

bool HuffmanCodeLengths(std::span<const std::uint32_t> freq, int limit,
                        std::span<std::uint8_t> lengths) {
  if (freq.size() != lengths.size() || freq.size() > static_cast<std::size_t>(kLitLenSymbols) ||
      std::count_if(freq.begin(), freq.end(), [](std::uint32_t f) { return f != 0; }) < 2 ||
      (std::size_t{1} << std::min(limit, 16)) < freq.size()) {
    return false;
  }
  BuildCodeLengths(freq.data(), static_cast<int>(freq.size()), limit, lengths.data());
  return true;
}

bool DeflatePngRows(const PngRows& rows, std::vector<std::uint8_t>* out,
                    const DeflateEffort& effort) {
  if (rows.rowBytes == 0 || rows.pixelBytes <= 0 ||
      rows.rowBytes % static_cast<std::size_t>(rows.pixelBytes) != 0 || rows.rowCount == 0 ||
      rows.rowCount >= kNoPosition / (rows.rowBytes + 1) || !rows.row ||
      (rows.palette != nullptr && rows.pixelBytes > 4)) {
    return false;
  }
  out->push_back(0x78);
  out->push_back(0x9C);
  BitWriter bits(out);
  BlockCoder coder(&bits, effort.blockTokens + 2);
  Deflater deflater(rows, effort, &coder);
  if (!deflater.Allocate()) {
    out->resize(out->size() - 2);
    return false;
  }
  deflater.Run();
  bits.Finish();
  const std::uint32_t adler = deflater.Adler();
  for (int shift = 24; shift >= 0; shift -= 8) {
    out->push_back(static_cast<std::uint8_t>(adler >> shift));
  }
  return true;
}
