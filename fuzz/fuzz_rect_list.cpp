// The selection's four-number list: the decoder ends on every input, raises only the convert
// error, and a decoded rectangle is encoded and decoded back to the same floats.
#include "platform/Errors.h"
#include "platform/NumberText.h"
#include "settings/Settings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  // first byte: decimal separator and how the rest becomes text
  const QChar separator = (data[0] & 1) ? QChar(u',') : QChar(u'.');
  setDecimalSeparatorOverride(separator);
  const char* rest = reinterpret_cast<const char*>(data + 1);
  const qsizetype restSize = qsizetype(size - 1);
  const QString value = (data[0] & 2) ? QString(reinterpret_cast<const QChar*>(rest), restSize / 2)
                                      : QString::fromUtf8(rest, restSize);

  const QStringList items = splitRectList(value);
  std::optional<TRectF> rect;
  try {
    rect = decodeRectList(value);
  } catch (const EConvertError&) {
    check(items.size() == 4, "convert error without four items");
    return 0;
  }
  check(rect.has_value() == (items.size() == 4), "four items but no rectangle");
  if (!rect)
    return 0;
  const QString encoded = encodeRectList(*rect);
  check(splitRectList(encoded).size() == 4, "encoded list does not hold four items");
  std::optional<TRectF> back;
  try {
    back = decodeRectList(encoded);
  } catch (const EConvertError&) {
    check(false, "encoded list cannot be decoded");
  }
  check(back.has_value() && *back == *rect, "round trip changed the rectangle");
  return 0;
}
