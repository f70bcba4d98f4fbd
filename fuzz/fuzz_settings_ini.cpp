// Load-and-store round trip of the settings file: whatever the bytes, storing the loaded model and
// loading that again gives the same model and the same bytes, and a value written reads back.
#include "settings/SettingsFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "round trip broken: %s\n", what);
    std::abort();
  }
}

QString trimmedLow(QString text) {
  while (!text.isEmpty() && text.front().unicode() <= 32)
    text.remove(0, 1);
  while (!text.isEmpty() && text.back().unicode() <= 32)
    text.chop(1);
  return text;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  const TSettingsFile first = TSettingsFile::fromBytes(bytes);
  const QByteArray stored = first.toBytes();
  const TSettingsFile second = TSettingsFile::fromBytes(stored);
  check(second.sections() == first.sections(), "sections differ after a store");
  check(second.encoding() == first.storedEncoding(), "encoding differs after a store");
  check(second.toBytes() == stored, "bytes differ after a second store");

  // A write as the program does it: a value (any text without a line break) under a size key.
  QString value = QString::fromUtf8(bytes.left(64));
  value.remove(u'\r');
  value.remove(u'\n');
  TSettingsFile changed = first;
  changed.setValue(QStringLiteral("selections"), QStringLiteral("180_180"), value);
  changed.setValue(QStringLiteral("Settings"), QStringLiteral("base_filename"), QStringLiteral("C:\\x=y.png"));
  const TSettingsFile reread = TSettingsFile::fromBytes(changed.toBytes());
  check(reread.value(QStringLiteral("SELECTIONS"), QStringLiteral("180_180")) == trimmedLow(value), "value lost");
  check(reread.value(QStringLiteral("settings"), QStringLiteral("BASE_FILENAME")) == QStringLiteral("C:\\x=y.png"),
        "second value lost");
  return 0;
}
