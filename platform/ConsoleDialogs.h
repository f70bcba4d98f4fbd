#pragma once

#include "platform/Dialogs.h"

#include <optional>

class QTextStream;

// What a run without a window does with a question such as "<file> exists.  Overwrite?".
enum class TOverwritePolicy {
  Ask,   // ask on the console: y Yes, a Yes to All, n No, o No to All, c Cancel
  All,   // Yes to All
  None,  // No to All
  Fail,  // no question may arise: asking raises an error that quotes the question
};

// The policy named on the command line ("ask", "all", "none", "fail"); nullopt for any other text.
std::optional<TOverwritePolicy> overwritePolicyFromText(const QString& text);

// True when standard input is a terminal (a person can answer), false for a pipe, a file or nothing.
bool standardInputIsTerminal();

// The dialog facility on the console, for a run without a window. Questions are answered by the
// policy; under Ask the question and its choices go to the error stream and the answer is read as a
// line from the input (letter case ignored; an empty line is the default button, Yes; an unknown
// answer asks again; the end of the input counts as closing the box: Cancel). Errors are written to
// the error stream, one per line. There is no file-open dialog: it always counts as cancelled.
class TConsoleDialogService : public IDialogService {
public:
  TConsoleDialogService(TOverwritePolicy policy, QTextStream& input, QTextStream& errors);

  int MessageDlg(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, int helpContext = 0) override;
  bool OpenFileDialog(const TOpenDialogOptions& options, QString& fileName) override;
  void ShowError(const QString& text) override;

  // How many errors were shown so far.
  int ErrorsShown() const { return FErrorsShown; }
  // True once a question was answered with Cancel.
  bool Cancelled() const { return FCancelled; }

private:
  int Ask(const QString& text, TMsgDlgButtons buttons);

  TOverwritePolicy FPolicy;
  QTextStream& FInput;
  QTextStream& FErrors;
  int FErrorsShown = 0;
  bool FCancelled = false;
};
