#pragma once

#include "platform/PathRules.h"

#include <QString>
#include <exception>

// The system's errors: exceptions that carry the message the user sees. Nothing catches them
// on the way up; the application's top-level handler shows the message.
class Exception : public std::exception {
public:
  explicit Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}
  const QString& Message() const { return FMessage; }
  const char* what() const noexcept override { return FUtf8.constData(); }

private:
  QString FMessage;
  QByteArray FUtf8;
};

// A file named by the user or the settings does not exist.
class EFileNotFoundException : public Exception { using Exception::Exception; };
// Text that should hold a number does not.
class EConvertError : public Exception { using Exception::Exception; };
// A file cannot be opened for reading.
class EFOpenError : public Exception { using Exception::Exception; };
// A file cannot be created for writing.
class EFCreateError : public Exception { using Exception::Exception; };
// Writing the bytes of a file failed.
class EWriteError : public Exception { using Exception::Exception; };
// A picture cannot be decoded or encoded.
class EBitmapError : public Exception { using Exception::Exception; };
// A document cannot be built or saved.
class EXMLDocError : public Exception { using Exception::Exception; };

// The text the error box shows for a message: a "." is appended when the message is not empty
// and the code of its last character is greater than that of ".".
QString errorDisplayText(const QString& message);

// "Cannot create file "<path>". <reason>" and "Cannot open file "<path>". <reason>", with the path
// in the platform's separators (nativeSeparators of the path rules) and the operating system's
// reason stripped of a final period.
QString cannotCreateFileMessage(const QString& path, const QString& reason,
                                PathFlavour flavour = nativePathFlavour());
QString cannotOpenFileMessage(const QString& path, const QString& reason, PathFlavour flavour = nativePathFlavour());
// "Cannot write file "<path>". <reason>": the file was created but its bytes could not all be
// written (disk full, a file size limit); filled as above.
QString cannotWriteFileMessage(const QString& path, const QString& reason, PathFlavour flavour = nativePathFlavour());
