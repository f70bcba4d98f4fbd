#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringConverter>
#include <optional>

// The content of the settings file during one access: sections of lines, and the encoding the file
// was read in. Built from the file's bytes, changed one value at a time and turned back into bytes.
//
// Text form: "[name]" starts a section; "key=value" lines belong to the section started last.
// Loading trims characters with codes 0 to 32 from every line, skips empty lines and lines that
// begin with ";", drops lines that come before the first section, and trims the key and the value
// around the first "=". Lines without "=" are kept as they are (trimmed). A section name that occurs
// twice gives two sections; look-ups and writes use the first one.
//
// Storing writes every section as its header, its lines and one empty line, each followed by CR LF,
// in the encoding the file was read in, with that encoding's byte-order mark.
//
// Encodings: a byte-order mark picks UTF-8 (EF BB BF), UTF-16 little-endian (FF FE) or UTF-16
// big-endian (FE FF); without one the file is in the platform's narrow encoding (UTF-8 without a
// mark on Linux and macOS, the ANSI code page on Windows).
//
// Bytes that are not valid UTF-8 in a UTF-8 file are kept: each stands for itself in the text (as
// the lone surrogate U+DC80..U+DCFF) and is written back as the same byte, so one stray byte spoils
// at most the value that holds it and nothing else in the file changes. A UTF-16 file whose length is
// odd loses its last byte (read as U+FFFD).
//
// A file in a narrow code page that is not UTF-8 is stored as UTF-8 with a mark when one of its
// values cannot be represented in that code page, so no character is lost by a write.
// What identifies one state of a file on disk: its identity (device and inode), size, and
// modification and change times. A file replaced by a rename, or written in place, gets a new stamp.
struct TFileStamp {
  quint64 device = 0;
  quint64 inode = 0;
  qint64 size = 0;
  qint64 modifiedNs = 0;
  qint64 changedNs = 0;
  friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};
// The stamp of the regular file at the path; nullopt when there is none (missing, or a folder, pipe,
// socket or device in its place). Never opens the file.
std::optional<TFileStamp> fileStamp(const QString& path);

// The largest settings file that is read (the program's own values take a few kilobytes).
constexpr qint64 MaxSettingsFileSize = qint64(64) << 20;

// A file that is no settings file: one that starts as a picture or another binary format does,
// holds NUL characters, or cannot be read as text. Loading it raises this error ("Cannot open file
// "<path>". It is not a settings file: <why>"), so it is never parsed and never written.
class ENotSettingsFileError : public EFOpenError {
  using EFOpenError::EFOpenError;
};
// Why these bytes are no settings file ("It is not a settings file: it is a PNG picture", ...); empty
// when they may be one. An empty file may be one; a file with a byte-order mark is judged by its text.
QString notSettingsFileReason(const QByteArray& bytes);

class TSettingsFile {
public:
  enum class Encoding { None, Narrow, Utf8, Utf16LE, Utf16BE };

  struct Line {
    QString Text;  // "key=value", or the trimmed text of a line without "="
    bool HasKey() const { return Text.contains(u'='); }
    QString Key() const;    // text before the first "="; empty without "="
    QString Value() const;  // text after the first "="; empty without "="
    friend bool operator==(const Line&, const Line&) = default;
  };
  struct Section {
    QString Name;
    QList<Line> Lines;
    friend bool operator==(const Section&, const Section&) = default;
  };

  TSettingsFile() = default;

  // The model of these bytes (an empty array gives an empty model in the narrow encoding).
  static TSettingsFile fromBytes(const QByteArray& bytes);
  // The model of the file at the path: empty and without encoding when the path is empty or no file
  // of that name exists (a folder of that name is no file). Raises EFOpenError when the file exists
  // but cannot be read.
  // Never waits: anything that is not a regular file counts as no file and is never opened.
  // A file larger than MaxSettingsFileSize is refused with EFOpenError ("... It is larger than 64 MB,
  // too large for a settings file"): it is never read whole, and so never written either. A file that
  // is no settings file (notSettingsFileReason) is refused with ENotSettingsFileError.
  // With bytes and stamp given, also the bytes read and the stamp of the file they came from.
  static TSettingsFile load(const QString& path, QByteArray* bytes = nullptr, std::optional<TFileStamp>* stamp = nullptr);

  // The value of the first key of that name in the first section of that name, letter case
  // ignored; "" when either is missing.
  QString value(const QString& section, const QString& key) const;
  // Replaces the first line of that key in the first section of that name by key=value (the key as
  // spelled here), or appends it; a missing section is appended at the end under this spelling.
  void setValue(const QString& section, const QString& key, const QString& value);
  // True when setValue(section, key, value) would change nothing: the line it would replace already
  // reads key=value, with the key spelled the same.
  bool holds(const QString& section, const QString& key, const QString& value) const;

  // The file's bytes in the model's encoding, with its byte-order mark.
  QByteArray toBytes() const;
  // The encoding toBytes() uses: the model's, or UTF-8 with a mark where the narrow code page cannot
  // hold the text.
  Encoding storedEncoding() const;
  // Writes toBytes() to the path. The bytes go to a temporary file in the same folder that replaces
  // the old file only once it is complete, so a failed write leaves the previous file as it was.
  // Raises EFCreateError when the file cannot be created or replaced, EWriteError ("Cannot write file
  // "<path>". <the system's reason>") when writing fails, and EWriteError before anything is written
  // when the bytes would make the file larger than MaxSettingsFileSize, which no later load would read.
  // Gives the encoding the file was written in (storedEncoding()).
  Encoding store(const QString& path) const;

  // True when the bytes the model was made from are exactly those toBytes() gives for it (a file
  // last written by storing): storing it unchanged would change no byte. False for a model that was
  // not loaded.
  bool loadedAsStored() const { return FLoadedAsStored; }

  Encoding encoding() const { return FEncoding; }
  void setEncoding(Encoding encoding) { FEncoding = encoding; }
  const QList<Section>& sections() const { return FSections; }

private:
  static TSettingsFile parse(const QByteArray& bytes, Encoding encoding, const QString& text);

  Encoding FEncoding = Encoding::None;
  QList<Section> FSections;
  bool FLoadedAsStored = false;
};

// The narrow code page in force: the platform's default, unless a test has set an override
// (for example Latin-1, to see how a code page other than UTF-8 behaves). nullopt removes it.
void setNarrowEncodingOverride(std::optional<QStringConverter::Encoding> encoding);
