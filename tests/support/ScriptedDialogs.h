#pragma once

#include "platform/Dialogs.h"

#include <QList>
#include <QQueue>
#include <QString>

// A dialog service for tests: answers come from queues, every question is recorded.
// Installed for the lifetime of the object; the previous service comes back afterwards.
class ScriptedDialogs : public IDialogService {
public:
  struct Question {
    QString Text;
    TMsgDlgType Kind;
    TMsgDlgButtons Buttons;
    int HelpContext;
  };

  ScriptedDialogs();
  ~ScriptedDialogs() override;

  // Answers to MessageDlg, in order; when the queue is empty a question answers mrCancel
  // and is still recorded.
  QQueue<int> Answers;
  // Answers to OpenFileDialog, in order: a file name confirms, a null QString cancels.
  // An empty queue cancels.
  QQueue<QString> FileAnswers;

  QList<Question> Questions;
  QList<TOpenDialogOptions> FileDialogs;
  QStringList Errors;  // texts shown by ShowError

  int MessageDlg(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, int helpContext) override;
  bool OpenFileDialog(const TOpenDialogOptions& options, QString& fileName) override;
  void ShowError(const QString& text) override;

private:
  IDialogService* FPrevious;
};
