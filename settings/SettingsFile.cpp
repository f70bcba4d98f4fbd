#include "settings/SettingsFile.h"

#include "platform/AtomicFile.h"
#include "platform/Blanks.h"

#include "platform/Errors.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <string_view>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::optional<QStringConverter::Encoding> g_narrowOverride;

QString tooLargeReason() { return QStringLiteral("It is larger than 64 MB, too large for a settings file"); }

// ---- UTF-8 that keeps invalid bytes: each one becomes U+DC00 + byte and is written back as itself.

QString decodeUtf8KeepingBytes(const char* data, qsizetype size) {
  QString out;
  out.reserve(size);
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  qsizetype i = 0;
  while (i < size) {
    const unsigned char lead = p[i];
    if (lead < 0x80) {
      out += QChar(lead);
      ++i;
      continue;
    }
    int length = 0;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    }
    bool valid = length > 0 && i + length <= size;
    for (int k = 1; valid && k < length; ++k) {
      const unsigned char next = p[i + k];
      if ((next & 0xC0) != 0x80)
        valid = false;
      code = (code << 6) | (next & 0x3F);
    }
    if (valid) {
      if (length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)))
        valid = false;
      if (length == 4 && (code < 0x10000 || code > 0x10FFFF))
        valid = false;
    }
    if (!valid) {
      out += QChar(char16_t(0xDC00 + lead));
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      out += QChar(QChar::highSurrogate(code));
      out += QChar(QChar::lowSurrogate(code));
    } else {
      out += QChar(char16_t(code));
    }
    i += length;
  }
  return out;
}

QByteArray encodeUtf8KeepingBytes(const QString& text) {
  QByteArray out;
  out.reserve(text.size() + text.size() / 2);
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t u = text[i].unicode();
    char32_t code = u;
    if (u < 0x80) {
      out += char(u);
      continue;
    }
    if (QChar::isHighSurrogate(u) && i + 1 < n && text[i + 1].isLowSurrogate()) {
      code = QChar::surrogateToUcs4(u, text[i + 1].unicode());
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out += char(u - 0xDC00);  // a byte that was not valid UTF-8 when the file was read
      continue;
    } else if (QChar::isSurrogate(u)) {
      code = 0xFFFD;
    }
    if (code < 0x800) {
      out += char(0xC0 | (code >> 6));
      out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += char(0xE0 | (code >> 12));
      out += char(0x80 | ((code >> 6) & 0x3F));
      out += char(0x80 | (code & 0x3F));
    } else {
      out += char(0xF0 | (code >> 18));
      out += char(0x80 | ((code >> 12) & 0x3F));
      out += char(0x80 | ((code >> 6) & 0x3F));
      out += char(0x80 | (code & 0x3F));
    }
  }
  return out;
}

// ---- UTF-16: code units copied as they are, lone surrogates included.

QString decodeUtf16(const char* data, qsizetype size, bool bigEndian) {
  QString out;
  out.reserve(size / 2 + 1);
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  for (qsizetype i = 0; i + 1 < size; i += 2)
    out += QChar(bigEndian ? char16_t(p[i] << 8 | p[i + 1]) : char16_t(p[i + 1] << 8 | p[i]));
  if (size % 2 != 0)
    out += QChar(QChar::ReplacementCharacter);
  return out;
}

QByteArray encodeUtf16(const QString& text, bool bigEndian) {
  QByteArray out;
  out.reserve(text.size() * 2);
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (bigEndian) {
      out += char(u >> 8);
      out += char(u & 0xFF);
    } else {
      out += char(u & 0xFF);
      out += char(u >> 8);
    }
  }
  return out;
}

// ---- The narrow code page.

bool narrowIsUtf8() {
  if (g_narrowOverride)
    return *g_narrowOverride == QStringConverter::Utf8;
#ifdef Q_OS_WIN
  return false;
#else
  return true;  // Qt's system encoding is UTF-8 on every other platform
#endif
}

QStringConverter::Encoding narrowEncoding() {
  return g_narrowOverride ? *g_narrowOverride : QStringConverter::System;
}

QString decodeNarrow(const char* data, qsizetype size) {
  if (narrowIsUtf8())
    return decodeUtf8KeepingBytes(data, size);
  QStringDecoder decoder(narrowEncoding());
  return decoder.decode(QByteArrayView(data, size));
}

// The text in the narrow code page; nullopt when the code page cannot hold all of it.
std::optional<QByteArray> encodeNarrow(const QString& text) {
  if (narrowIsUtf8())
    return encodeUtf8KeepingBytes(text);
  QStringEncoder encoder(narrowEncoding());
  QByteArray bytes = encoder.encode(text);
  if (encoder.hasError())
    return std::nullopt;
  QStringDecoder decoder(narrowEncoding());
  const QString back = decoder.decode(bytes);
  if (decoder.hasError() || back != text)
    return std::nullopt;
  return bytes;
}

QString textOf(const QList<TSettingsFile::Section>& sections) {
  QString text;
  const QString crlf = QStringLiteral("\r\n");
  for (const auto& section : sections) {
    text += u'[';
    text += section.Name;
    text += u']';
    text += crlf;
    for (const auto& line : section.Lines) {
      text += line.Text;
      text += crlf;
    }
    text += crlf;
  }
  return text;
}

QByteArray encodeAs(TSettingsFile::Encoding& encoding, const QString& text) {
  using E = TSettingsFile::Encoding;
  switch (encoding) {
    case E::Utf8:
      return QByteArray("\xEF\xBB\xBF") + encodeUtf8KeepingBytes(text);
    case E::Utf16LE:
      return QByteArray("\xFF\xFE") + encodeUtf16(text, false);
    case E::Utf16BE:
      return QByteArray("\xFE\xFF") + encodeUtf16(text, true);
    case E::None:
    case E::Narrow:
      break;
  }
  if (auto narrow = encodeNarrow(text)) {
    encoding = E::Narrow;
    return *narrow;
  }
  encoding = E::Utf8;
  return QByteArray("\xEF\xBB\xBF") + encodeUtf8KeepingBytes(text);
}

// The text of the file's bytes, and the encoding its byte-order mark names (Narrow without one).
QString decodeText(const QByteArray& bytes, TSettingsFile::Encoding& encoding) {
  using E = TSettingsFile::Encoding;
  const char* data = bytes.constData();
  const qsizetype size = bytes.size();
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    encoding = E::Utf8;
    return decodeUtf8KeepingBytes(data + 3, size - 3);
  }
  if (bytes.startsWith("\xFF\xFE")) {
    encoding = E::Utf16LE;
    return decodeUtf16(data + 2, size - 2, false);
  }
  if (bytes.startsWith("\xFE\xFF")) {
    encoding = E::Utf16BE;
    return decodeUtf16(data + 2, size - 2, true);
  }
  encoding = E::Narrow;
  return decodeNarrow(data, size);
}

// ---- What no settings file looks like.

using namespace std::string_view_literals;

// The first bytes of pictures and of other binary formats that may be named by mistake.
struct Signature {
  qsizetype offset;
  std::string_view bytes;
  const char* what;
};
const Signature kSignatures[] = {
    {0, "\x89PNG\r\n\x1A\n"sv, "a PNG picture"},
    {0, "\xFF\xD8\xFF"sv, "a JPEG picture"},
    {0, "GIF87a"sv, "a GIF picture"},
    {0, "GIF89a"sv, "a GIF picture"},
    {0, "BM"sv, "a BMP picture"},
    {0, "II*\0"sv, "a TIFF picture"},
    {0, "MM\0*"sv, "a TIFF picture"},
    {0, "II\xBC"sv, "a JPEG XR picture"},
    {0, "\0\0\1\0"sv, "an ICO picture"},
    {0, "\0\0\2\0"sv, "a cursor"},
    {0, "RIFF"sv, "a RIFF file (a WebP picture, a sound or a video)"},
    {4, "ftyp"sv, "a HEIF, AVIF or MP4 file"},
    {0, "8BPS"sv, "a Photoshop picture"},
    {0, "%PDF-"sv, "a PDF document"},
    {0, "PK\3\4"sv, "a ZIP archive"},
    {0, "PK\5\6"sv, "a ZIP archive"},
    {0, "PK\7\x08"sv, "a ZIP archive"},
    {0, "\x1F\x8B"sv, "a gzip archive"},
    {0, "\xFD" "7zXZ\0"sv, "an xz archive"},
    {0, "7z\xBC\xAF\x27\x1C"sv, "a 7-Zip archive"},
    {0, "Rar!\x1A\x07"sv, "a RAR archive"},
    {0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, "an Office document"},
    {0, "SQLite format 3\0"sv, "an SQLite database"},
    {0, "\x7F" "ELF"sv, "a program (ELF)"},
    {0, "MZ"sv, "a Windows program"},
};

// True for a character that text does not hold: a control character other than tab, the line
// breaks and form feed, or a byte that was not valid in the file's encoding.
bool isNoText(char16_t c) {
  if (c < 0x20)
    return c != u'\t' && c != u'\n' && c != u'\v' && c != u'\f' && c != u'\r' && c != 0x1A;  // 0x1A: an old end mark
  return c == 0x7F || (c >= 0xDC80 && c <= 0xDCFF) || c == 0xFFFD;
}

// Why the file is no settings file, from its bytes, the encoding decodeText found and their text;
// empty when it may be one. A file that starts with a byte-order mark is judged by its text alone.
QString noSettingsFileReason(const QByteArray& bytes, TSettingsFile::Encoding encoding, const QString& text) {
  const QString start = QStringLiteral("It is not a settings file: ");
  if (encoding == TSettingsFile::Encoding::Narrow)
    for (const Signature& signature : kSignatures)
      if (QByteArrayView(bytes).sliced(std::min(signature.offset, bytes.size())).startsWith(
              QByteArrayView(signature.bytes.data(), qsizetype(signature.bytes.size()))))
        return start + QStringLiteral("it is %1").arg(QLatin1StringView(signature.what));
  if (text.contains(QChar(u'\0')))
    return start + QStringLiteral("it holds NUL characters");
  // A stray character or byte spoils one value; binary data is full of them.
  qsizetype noText = 0;
  for (const QChar c : text)
    if (isNoText(c.unicode()))
      ++noText;
  if (noText * 10 > text.size())
    return start + QStringLiteral("it cannot be read as text");
  return {};
}

}  // namespace

QString notSettingsFileReason(const QByteArray& bytes) {
  TSettingsFile::Encoding encoding = TSettingsFile::Encoding::Narrow;
  const QString text = decodeText(bytes, encoding);
  return noSettingsFileReason(bytes, encoding, text);
}

void setNarrowEncodingOverride(std::optional<QStringConverter::Encoding> encoding) {
  g_narrowOverride = encoding;
}

QString TSettingsFile::Line::Key() const {
  const qsizetype eq = Text.indexOf(u'=');
  return eq < 0 ? QString() : Text.left(eq);
}

QString TSettingsFile::Line::Value() const {
  const qsizetype eq = Text.indexOf(u'=');
  return eq < 0 ? QString() : Text.mid(eq + 1);
}

TSettingsFile TSettingsFile::fromBytes(const QByteArray& bytes) {
  Encoding encoding = Encoding::Narrow;
  const QString text = decodeText(bytes, encoding);
  return parse(bytes, encoding, text);
}

TSettingsFile TSettingsFile::parse(const QByteArray& bytes, Encoding encoding, const QString& text) {
  TSettingsFile model;
  model.FEncoding = encoding;
  const qsizetype size = bytes.size();

  // Whether the bytes are exactly what storing the model gives: checked line by line as the file is
  // parsed, so that a file already in stored form can be recognised without encoding it again.
  bool asStored = true;
  bool blankPending = false;  // the one empty line that ends a section has been seen
  auto takeLine = [&](QStringView raw) {
    const QString line = trimBlanks(raw);
    if (line.isEmpty()) {
      if (raw.isEmpty() && !model.FSections.isEmpty() && !blankPending)
        blankPending = true;
      else
        asStored = false;
      return;
    }
    if (line.front() == u';') {
      asStored = false;
      return;
    }
    if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
      if (!model.FSections.isEmpty() && !blankPending)
        asStored = false;
      blankPending = false;
      model.FSections.append(Section{trimBlanks(QStringView(line).mid(1, line.size() - 2)), {}});
      const QString& name = model.FSections.back().Name;
      if (raw.size() != name.size() + 2 || raw.mid(1, name.size()) != name)
        asStored = false;
      return;
    }
    if (model.FSections.isEmpty() || blankPending) {
      asStored = false;
      if (model.FSections.isEmpty())
        return;
    }
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0) {
      model.FSections.back().Lines.append(Line{line});
    } else {
      const QStringView view(line);
      model.FSections.back().Lines.append(
          Line{trimBlanks(view.left(eq)) + u'=' + trimBlanks(view.mid(eq + 1))});
    }
    if (raw != model.FSections.back().Lines.back().Text)
      asStored = false;
  };

  const QStringView all(text);
  qsizetype start = 0;
  const qsizetype n = all.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = all[i];
    if (c == u'\r' || c == u'\n') {
      takeLine(all.mid(start, i - start));
      if (c == u'\r' && i + 1 < n && all[i + 1] == u'\n')
        ++i;
      else
        asStored = false;  // stored lines end with CR LF
      start = i + 1;
    }
  }
  if (start < n) {
    takeLine(all.mid(start));
    asStored = false;
  }
  if (!model.FSections.isEmpty() && !blankPending)
    asStored = false;
  if (asStored) {
    switch (model.FEncoding) {
      case Encoding::Utf8:
        break;  // every byte, valid or not, comes back as it was
      case Encoding::Utf16LE:
      case Encoding::Utf16BE:
        asStored = (size - 2) % 2 == 0;
        break;
      case Encoding::None:
      case Encoding::Narrow:
        if (!narrowIsUtf8())
          asStored = model.toBytes() == bytes;
        break;
    }
  }
  model.FLoadedAsStored = asStored;
  return model;
}

#ifdef Q_OS_UNIX
namespace {
TFileStamp stampOf(const struct stat& st) {
  TFileStamp stamp;
  stamp.device = quint64(st.st_dev);
  stamp.inode = quint64(st.st_ino);
  stamp.size = qint64(st.st_size);
  stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}
}  // namespace
#endif

std::optional<TFileStamp> fileStamp(const QString& path) {
  if (path.isEmpty())
    return std::nullopt;
#ifdef Q_OS_UNIX
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  return stampOf(st);
#else
  const QFileInfo info(path);
  if (!info.isFile())
    return std::nullopt;
  TFileStamp stamp;
  stamp.size = info.size();
  stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
  stamp.changedNs = info.metadataChangeTime().toMSecsSinceEpoch() * 1000000;
  return stamp;
#endif
}

TSettingsFile TSettingsFile::load(const QString& path, QByteArray* bytesRead, std::optional<TFileStamp>* stamp) {
  // A folder (or anything else that is no regular file) in the file's place counts as no file:
  // reads give the empty string and the next write reports what is there instead.
  if (stamp)
    *stamp = std::nullopt;
  if (!fileStamp(path))
    return {};
  const QString shown = QDir::toNativeSeparators(path);
  QFile file;
#ifdef Q_OS_UNIX
  // Opened without waiting, and checked again once open: a pipe put in its place meanwhile is no file.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    throw EFOpenError(cannotOpenFileMessage(shown, QString::fromLocal8Bit(std::strerror(errno))));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return {};
  }
  if (qint64(st.st_size) > MaxSettingsFileSize) {
    ::close(fd);
    throw EFOpenError(cannotOpenFileMessage(shown, tooLargeReason()));
  }
  if (stamp)
    *stamp = stampOf(st);
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    throw EFOpenError(cannotOpenFileMessage(shown, file.errorString()));
  }
#else
  file.setFileName(path);
  if (!file.open(QIODevice::ReadOnly))
    throw EFOpenError(cannotOpenFileMessage(shown, file.errorString()));
  if (stamp)
    *stamp = fileStamp(path);
#endif
  // At most one byte beyond the limit, should the file have grown since it was measured.
  const QByteArray bytes = file.read(MaxSettingsFileSize + 1);
  if (file.error() != QFileDevice::NoError)
    throw EFOpenError(cannotOpenFileMessage(shown, file.errorString()));
  if (bytes.size() > MaxSettingsFileSize)
    throw EFOpenError(cannotOpenFileMessage(shown, tooLargeReason()));
  Encoding encoding = Encoding::Narrow;
  const QString text = decodeText(bytes, encoding);
  if (const QString reason = noSettingsFileReason(bytes, encoding, text); !reason.isEmpty())
    throw ENotSettingsFileError(cannotOpenFileMessage(shown, reason));
  if (bytesRead)
    *bytesRead = bytes;
  return parse(bytes, encoding, text);
}

QString TSettingsFile::value(const QString& section, const QString& key) const {
  for (const auto& s : FSections) {
    if (s.Name.compare(section, Qt::CaseInsensitive) != 0)
      continue;
    for (const auto& line : s.Lines)
      if (line.HasKey() && line.Key().compare(key, Qt::CaseInsensitive) == 0)
        return line.Value();
    return {};
  }
  return {};
}

void TSettingsFile::setValue(const QString& section, const QString& key, const QString& value) {
  Section* target = nullptr;
  for (auto& s : FSections) {
    if (s.Name.compare(section, Qt::CaseInsensitive) == 0) {
      target = &s;
      break;
    }
  }
  if (!target) {
    FSections.append(Section{section, {}});
    target = &FSections.back();
  }
  const QString text = key + u'=' + value;
  for (auto& line : target->Lines) {
    if (line.HasKey() && line.Key().compare(key, Qt::CaseInsensitive) == 0) {
      line.Text = text;
      return;
    }
  }
  target->Lines.append(Line{text});
}

bool TSettingsFile::holds(const QString& section, const QString& key, const QString& value) const {
  for (const auto& s : FSections) {
    if (s.Name.compare(section, Qt::CaseInsensitive) != 0)
      continue;
    for (const auto& line : s.Lines)
      if (line.HasKey() && line.Key().compare(key, Qt::CaseInsensitive) == 0)
        return line.Text.size() == key.size() + 1 + value.size() && line.Text.startsWith(key) &&
               line.Text.endsWith(value);
    return false;
  }
  return false;
}

QByteArray TSettingsFile::toBytes() const {
  Encoding encoding = FEncoding;
  return encodeAs(encoding, textOf(FSections));
}

TSettingsFile::Encoding TSettingsFile::storedEncoding() const {
  Encoding encoding = FEncoding;
  encodeAs(encoding, textOf(FSections));
  return encoding;
}

TSettingsFile::Encoding TSettingsFile::store(const QString& path) const {
  Encoding encoding = FEncoding;
  const QByteArray bytes = encodeAs(encoding, textOf(FSections));
  const QString shown = QDir::toNativeSeparators(path);
  // A file that no later load would read is not written: the old one stays.
  if (bytes.size() > MaxSettingsFileSize)
    throw EWriteError(cannotWriteFileMessage(shown, QStringLiteral("It would be larger than 64 MB, too large for a settings file")));
  // The new content replaces the old file only when complete (see AtomicFile.h): a failed write
  // leaves the previous file intact, and another instance never reads a part of one.
  const AtomicWriteFailure failure = writeFileAtomically(path, bytes);
  if (failure.stage == AtomicWriteFailure::Stage::Create)
    throw EFCreateError(cannotCreateFileMessage(shown, failure.reason));
  if (failure)
    throw EWriteError(cannotWriteFileMessage(shown, failure.reason));
  return encoding;
}
