// A zlib-stream compressor for PNG image data, tuned for pictures whose
// pixels repeat whole: the palette pictures that ovk files hold, with or
// without their palette applied.
//
// It is a plain deflate compressor (hash chains, greedy or lazy parsing,
// dynamic Huffman blocks) with one twist: matches start only at the start of
// a row or of a pixel and end at such a point. A palette picture expanded to
// three or four bytes a pixel repeats in whole pixels, so the positions
// between pixel starts add search time and almost never a better match;
// searching one position in three (RGB) or four (RGBA) is what makes it
// faster than a general compressor at the same size. Each position is on
// two hash chains: one keyed on up to 16 bytes (five RGB pixels, four RGBA
// pixels, eight indices), on which every match of that length lies among few
// others, and one keyed on two pixels (four indices) for the shorter ones.
//
// Given the palette of a palette picture, it compresses the picture's colours
// while searching its indices: a position is then a whole pixel (positions
// count pixels and filter bytes), the window and the longest match shrink to
// what their colour bytes allow, and a match never joins the pixels of one
// row to a filter byte (a filter byte 0 is not the colour of index 0), except
// that a match from exactly whole rows back may run across rows.
//
// The output is an ordinary zlib stream (RFC 1950 framing, deflate blocks of
// RFC 1951) that any inflater reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// The rows as PNG filters them: `rowCount` rows, each one filter-type byte
// followed by `rowBytes` bytes, `pixelBytes` to a pixel. The compressor asks
// for each row once, in order, as it reaches it.
struct PngRows {
  std::size_t rowBytes = 0;
  int pixelBytes = 1;
  std::size_t rowCount = 0;
  // Writes row y (0: the top row), rowBytes + 1 bytes, to `out`; with a
  // palette, the filter byte and one index a pixel (rowBytes / pixelBytes).
  std::function<void(std::size_t y, std::uint8_t* out)> row;
  // A palette picture to be compressed in colour: 256 entries of four bytes,
  // of which a pixel's first pixelBytes bytes replace its index. The indices
  // are what the match finder compares (a third or a quarter of the bytes);
  // equal indices are equal colours, so every match found holds.
  const std::uint8_t* palette = nullptr;
};

// How hard the match finder looks. The defaults are the settings WritePng
// uses; other values exist for the tests and the benchmark.
struct DeflateEffort {
  int chainLength = 16;            // candidates on the long-key chain, at most
  int shortChainLength = 8;        // then on the short-key chain
  int lazyBelow = 0;               // a shorter match is checked against the next position's
  int niceLength = 258;            // a match this long ends the search (in colour bytes)
  int indexEdge = 0;               // pixel starts indexed at each end of a match (0: all)
  std::size_t blockTokens = 8192;  // symbols per Huffman block
};

// Appends the zlib stream of the rows to `out`. False when `rows` describes
// no rows, rows that are not whole pixels (rowBytes of 0, pixelBytes that
// does not divide it), or 4 GiB or more of data, or when the working buffer
// (1 MiB, or a little more than two rows when rows are longer) cannot be had,
// or for a palette with pixels of more than four bytes.
bool DeflatePngRows(const PngRows& rows, std::vector<std::uint8_t>* out,
                    const DeflateEffort& effort = DeflateEffort{});

// The code lengths the compressor gives a Huffman code: for the counts in
// `freq` (at most 286 symbols, at least two of them used), lengths of at most
// `limit` bits, 0 for an unused symbol, forming a complete prefix code. False
// when the counts or the limit cannot give one.
bool HuffmanCodeLengths(std::span<const std::uint32_t> freq, int limit,
                        std::span<std::uint8_t> lengths);
