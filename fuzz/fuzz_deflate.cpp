// The run-length deflate encoder: any bytes, cut into segments and add() calls as the first two
// bytes say, compress to segments that join into one stream which zlib inflates to exactly the
// bytes.
#include "imaging/Deflate.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <vector>

namespace {
void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  const unsigned segments = 1 + data[0] % 4;   // 1 to 4 segments of about equal size
  const size_t chunk = 1 + data[1] * 7;        // add() calls of 1 to 1786 bytes
  const uint8_t* bytes = data + 2;
  const size_t n = size - 2;

  std::vector<uint8_t> joined;
  for (unsigned s = 0; s < segments; ++s) {
    const size_t begin = n * s / segments, end = n * (s + 1) / segments;
    RunDeflater d;
    for (size_t at = begin; at < end; at += chunk)
      d.add(bytes + at, std::min(chunk, end - at));
    d.finish(s + 1 == segments);
    joined.insert(joined.end(), d.output().begin(), d.output().end());
  }

  std::vector<uint8_t> back(n + 1);
  z_stream z{};
  check(inflateInit2(&z, -15) == Z_OK, "inflateInit2");
  z.next_in = joined.data();
  z.avail_in = unsigned(joined.size());
  z.next_out = back.data();
  z.avail_out = unsigned(back.size());
  const int rc = inflate(&z, Z_FINISH);
  inflateEnd(&z);
  check(rc == Z_STREAM_END, "the stream does not end with its final block");
  check(z.avail_in == 0, "bytes after the final block");
  check(back.size() - z.avail_out == n, "inflated length differs");
  check(std::equal(bytes, bytes + n, back.begin()), "inflated bytes differ");
  return 0;
}
