#include "support/ScriptedDialogs.h"

ScriptedDialogs::ScriptedDialogs() : FPrevious(setDialogService(this)) {}

ScriptedDialogs::~ScriptedDialogs() { setDialogService(FPrevious); }

int ScriptedDialogs::MessageDlg(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, int helpContext) {
  Questions.append({text, kind, buttons, helpContext});
  return Answers.isEmpty() ? mrCancel : Answers.dequeue();
}

bool ScriptedDialogs::OpenFileDialog(const TOpenDialogOptions& options, QString& fileName) {
  FileDialogs.append(options);
  if (FileAnswers.isEmpty())
    return false;
  const QString answer = FileAnswers.dequeue();
  if (answer.isNull())
    return false;
  fileName = answer;
  return true;
}

void ScriptedDialogs::ShowError(const QString& text) { Errors.append(text); }
