#pragma once

#include <cstddef>
#include <cstdint>

// The five row filters of PNG (filter method 0) in both directions, on rows of bytes.
//
// A row is n bytes of pixels of bpp bytes each (1 to 4); prev is the row above as it was before
// filtering (the unfiltered bytes), all zeros for the first row of an image. The bytes left of a
// row's first pixel count as zeros. Where the processor has SSE2 the work is done 16 bytes at a
// time, with exactly the results of the byte-by-byte definition.
enum class PngFilterType : uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// Writes the n filtered bytes of cur into out (not the type byte). Four bytes a pixel.
void pngFilterRow(PngFilterType type, const uint8_t* cur, const uint8_t* prev, size_t n, uint8_t* out);

// The cost of the Sub and the Up filter for a row of four-byte pixels: the sum of the absolute
// values of the filtered bytes read as signed bytes (the usual measure for choosing a filter).
void pngSubUpCosts(const uint8_t* cur, const uint8_t* prev, size_t n, uint64_t& sub, uint64_t& up);

// Undoes a row's filter in place: row holds the n filtered bytes and receives the pixels; prev is
// the row above, already unfiltered (zeros for the first row). bpp is 1 to 4. False for a filter
// type above 4.
bool pngUnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t n, unsigned bpp);

// Undoes the Paeth filter of two rows in a row, four bytes a pixel: first is unfiltered over
// prev, then second over first, exactly as two calls of pngUnfilterRow, about twice as fast.
void pngUnfilterPaethPair(uint8_t* first, uint8_t* second, const uint8_t* prev, size_t n);
