#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// An allocator whose value-initialisation leaves bytes as they are: growing a buffer of it with
// resize() reserves room without first clearing every byte of it.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <class U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Compressed bytes: room for a block is made ahead of writing it, with no clearing.
using DeflateBytes = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

// A deflate (RFC 1951) encoder made for PNG's filtered rows.
//
// After the Up or Sub filter almost all the redundancy of a rendered picture is in runs that
// repeat the byte one back (distance 1) or the pixel one back (distance 4). The encoder looks
// for exactly those: at every position the longer of the two runs (3 to 258 bytes; distance 1
// on a tie) becomes a match, anything else a literal; no other distances are tried. Symbols are
// gathered into dynamic Huffman blocks of at most kBlockSymbols symbols.
//
// A segment is one call sequence add()* finish(). A segment that is not the last ends with an
// empty stored block (as zlib's sync flush does), so it ends on a byte boundary and the
// segments of one stream, compressed independently, join by plain concatenation into one valid
// deflate stream. Matches never reach back across a segment's start, nor past the end of the
// bytes of one add() call. The output depends only on the bytes, how they are split into add()
// calls and segments, and the last flag.
class RunDeflater {
public:
  static constexpr size_t kBlockSymbols = 32768;

  // sizeHint: the bytes this segment will probably get (room is reserved for them).
  explicit RunDeflater(size_t sizeHint = 0);

  // Appends bytes to the segment.
  void add(const uint8_t* data, size_t size);
  // Ends the segment: with last, in a final block; otherwise with an empty stored block. The
  // output then ends on a byte boundary. No add() may follow.
  void finish(bool last);

  // The compressed bytes, once finish() has been called.
  const DeflateBytes& output() const { return FOut; }
  DeflateBytes takeOutput() { return std::move(FOut); }

private:
  void literal(uint8_t byte);
  void match(unsigned length, unsigned distance);
  void flushBlock(bool last);
  void putBits(uint32_t bits, unsigned count);
  void alignToByte();
  void reserveOutput(size_t bytes);

  std::vector<uint32_t> FSymbols;  // literal byte, or kMatch | (length - 3) << 8 | distance
  size_t FSymbolCount = 0;
  uint32_t FLitLenFreq[286];
  // The literals of a run of them, counted in four tables in turn (the same byte over and over
  // would otherwise wait on its own count each time); added to FLitLenFreq when a block ends.
  uint32_t FLiteralRunFreq[4][256];
  uint32_t FDistFreq[30];
  uint8_t FHistory[4] = {0, 0, 0, 0};  // the last bytes added, FHistory[3] the latest
  unsigned FHistoryLength = 0;
  uint64_t FBitBuffer = 0;
  unsigned FBitCount = 0;
  bool FFinished = false;
  DeflateBytes FOut;  // FOutUsed bytes written, the rest room for the next block
  size_t FOutUsed = 0;
};

// One segment in one call.
DeflateBytes deflateRuns(const uint8_t* data, size_t size, bool last);

// Code lengths of a length-limited prefix code for the frequencies: every symbol with a non-zero
// frequency gets a length from 1 to maxLength, the others 0; the code is always complete (the
// Kraft sum is exactly 1), so fewer than two used symbols are padded with symbols 0 or 1 at
// length 1. A more frequent symbol never gets a longer code than a less frequent one.
void limitedHuffmanLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths);
