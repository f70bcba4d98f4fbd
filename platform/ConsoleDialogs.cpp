#include "platform/ConsoleDialogs.h"

#include "platform/Errors.h"

#include <QTextStream>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// The console's answers: the letter typed, the words shown, the result code.
struct ConsoleChoice {
  TMsgDlgBtn flag;
  char letter;
  const char* words;
  int code;
};
// In the order of the dialog's buttons; the first one present is the default.
constexpr ConsoleChoice consoleChoices[] = {
  {mbYes, 'y', "(y)es", mrYes},
  {mbYesToAll, 'a', "yes to (a)ll", mrYesToAll},
  {mbNo, 'n', "(n)o", mrNo},
  {mbNoToAll, 'o', "n(o) to all", mrNoToAll},
  {mbCancel, 'c', "(c)ancel", mrCancel},
  {mbOK, 'k', "o(k)", mrOk},
};

}  // namespace

std::optional<TOverwritePolicy> overwritePolicyFromText(const QString& text) {
  if (text == u"ask")
    return TOverwritePolicy::Ask;
  if (text == u"all")
    return TOverwritePolicy::All;
  if (text == u"none")
    return TOverwritePolicy::None;
  if (text == u"fail")
    return TOverwritePolicy::Fail;
  return std::nullopt;
}

bool standardInputIsTerminal() {
#ifdef Q_OS_WIN
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

TConsoleDialogService::TConsoleDialogService(TOverwritePolicy policy, QTextStream& input, QTextStream& errors)
    : FPolicy(policy), FInput(input), FErrors(errors) {}

int TConsoleDialogService::MessageDlg(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons,
                                      int helpContext) {
  Q_UNUSED(kind);
  Q_UNUSED(helpContext);
  int answer = mrCancel;
  switch (FPolicy) {
  case TOverwritePolicy::All: answer = (buttons & mbYesToAll) ? mrYesToAll : (buttons & mbYes) ? mrYes : mrOk; break;
  case TOverwritePolicy::None: answer = (buttons & mbNoToAll) ? mrNoToAll : (buttons & mbNo) ? mrNo : mrCancel; break;
  case TOverwritePolicy::Fail:
    throw Exception(QStringLiteral("No answer without a person (--overwrite=fail): ") + text);
  case TOverwritePolicy::Ask: answer = Ask(text, buttons); break;
  }
  if (answer == mrCancel)
    FCancelled = true;
  return answer;
}

int TConsoleDialogService::Ask(const QString& text, TMsgDlgButtons buttons) {
  if (buttons == 0)
    buttons = mbOK;
  QStringList words;
  int defaultCode = -1;
  for (const ConsoleChoice& choice : consoleChoices)
    if (buttons & choice.flag) {
      words << QString::fromLatin1(choice.words);
      if (defaultCode < 0)
        defaultCode = choice.code;
    }
  for (;;) {
    FErrors << text << ' ' << words.join(QStringLiteral(", ")) << "? " << Qt::flush;
    const QString line = FInput.readLine();
    if (line.isNull()) {  // end of the input: as if the box were closed
      FErrors << Qt::endl;
      return mrCancel;
    }
    const QString typed = line.trimmed().toLower();
    if (typed.isEmpty())
      return defaultCode;
    if (typed.size() == 1)
      for (const ConsoleChoice& choice : consoleChoices)
        if ((buttons & choice.flag) && typed[0] == QLatin1Char(choice.letter))
          return choice.code;
  }
}

bool TConsoleDialogService::OpenFileDialog(const TOpenDialogOptions& options, QString& fileName) {
  Q_UNUSED(options);
  Q_UNUSED(fileName);
  return false;
}

void TConsoleDialogService::ShowError(const QString& text) {
  ++FErrorsShown;
  FErrors << text << Qt::endl;
}
