// The dialog facility on the console: answers by policy, typed answers, errors.
#include "platform/ConsoleDialogs.h"

#include "platform/Errors.h"

#include <QTextStream>
#include <gtest/gtest.h>

namespace {

constexpr TMsgDlgButtons OverwriteButtons = mbYes | mbNo | mbCancel | mbNoToAll | mbYesToAll;
const QString Question = QStringLiteral("C:\\out\\MyApp180x180.png exists.  Overwrite?");

struct Console {
  explicit Console(const QString& typed) : input(typed), in(&input), err(&errors) {}
  QString input;
  QString errors;
  QTextStream in;
  QTextStream err;
};

TEST(ConsoleDialogs, PoliciesAndTypedAnswers) {
  struct Case {
    const char* what;
    TOverwritePolicy policy;
    const char* typed;
    TMsgDlgButtons buttons;
    int answer;
    int prompts;  // how often the question was written
  };
  const Case cases[] = {
      {"all is yes to all", TOverwritePolicy::All, "", OverwriteButtons, mrYesToAll, 0},
      {"none is no to all", TOverwritePolicy::None, "", OverwriteButtons, mrNoToAll, 0},
      {"all without yes to all is yes", TOverwritePolicy::All, "", mbYes | mbNo, mrYes, 0},
      {"none without no to all is no", TOverwritePolicy::None, "", mbYes | mbNo, mrNo, 0},
      {"y", TOverwritePolicy::Ask, "y\n", OverwriteButtons, mrYes, 1},
      {"a, upper case and blanks", TOverwritePolicy::Ask, "  A \n", OverwriteButtons, mrYesToAll, 1},
      {"n", TOverwritePolicy::Ask, "n\n", OverwriteButtons, mrNo, 1},
      {"o", TOverwritePolicy::Ask, "o\n", OverwriteButtons, mrNoToAll, 1},
      {"c", TOverwritePolicy::Ask, "c\n", OverwriteButtons, mrCancel, 1},
      {"an empty line is the default, yes", TOverwritePolicy::Ask, "\n", OverwriteButtons, mrYes, 1},
      {"unknown answers ask again", TOverwritePolicy::Ask, "yes\nq\nn\n", OverwriteButtons, mrNo, 3},
      {"a letter without its button asks again", TOverwritePolicy::Ask, "a\nn\n", mbYes | mbNo, mrNo, 2},
      {"the end of the input cancels", TOverwritePolicy::Ask, "", OverwriteButtons, mrCancel, 1},
      {"the end after a wrong answer cancels", TOverwritePolicy::Ask, "x", OverwriteButtons, mrCancel, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Console console(QString::fromLatin1(c.typed));
    TConsoleDialogService dialogs(c.policy, console.in, console.err);
    EXPECT_EQ(dialogs.MessageDlg(Question, TMsgDlgType::mtWarning, c.buttons), c.answer);
    EXPECT_EQ(dialogs.Cancelled(), c.answer == mrCancel);
    console.err.flush();
    EXPECT_EQ(console.errors.count(Question), c.prompts) << console.errors.toStdString();
  }
}

TEST(ConsoleDialogs, PromptNamesTheChoicesOfTheButtons) {
  Console console(QStringLiteral("y\n"));
  TConsoleDialogService dialogs(TOverwritePolicy::Ask, console.in, console.err);
  dialogs.MessageDlg(Question, TMsgDlgType::mtWarning, OverwriteButtons);
  console.err.flush();
  EXPECT_EQ(console.errors, Question + " (y)es, yes to (a)ll, (n)o, n(o) to all, (c)ancel? ");
}

TEST(ConsoleDialogs, FailRaisesWithTheQuestionErrorsAreCountedAndNoFileIsChosen) {
  Console console(QStringLiteral("y\n"));
  TConsoleDialogService dialogs(TOverwritePolicy::Fail, console.in, console.err);
  try {
    dialogs.MessageDlg(Question, TMsgDlgType::mtWarning, OverwriteButtons);
    ADD_FAILURE() << "answered";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "No answer without a person (--overwrite=fail): " + Question);
  }
  EXPECT_FALSE(dialogs.Cancelled());

  dialogs.ShowError("File does not exist: C:\\a.png.");
  dialogs.ShowError("second");
  console.err.flush();
  EXPECT_EQ(console.errors, "File does not exist: C:\\a.png.\nsecond\n");
  EXPECT_EQ(dialogs.ErrorsShown(), 2);

  QString name = "kept";
  EXPECT_FALSE(dialogs.OpenFileDialog({}, name));
  EXPECT_EQ(name, "kept");
}

}  // namespace
