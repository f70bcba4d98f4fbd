#include "platform/Dialogs.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

TEST(Errors, DisplayTextAppendsAPeriodOnlyAfterCharactersAboveIt) {
  const struct {
    const char* message;
    const char* shown;
  } cases[] = {
      {"An output device must be checked", "An output device must be checked."},
      {"Errors were found in setup.  Please correct.", "Errors were found in setup.  Please correct."},
      {"", ""},
      {"ends with a blank ", "ends with a blank "},
      {"ends with a dash -", "ends with a dash -"},   // '-' is below '.'
      {"ends with a slash /", "ends with a slash /."},  // '/' is above '.'
      {"ends with a digit 7", "ends with a digit 7."},
      {"Cannot create file \"x\". No such file or directory", "Cannot create file \"x\". No such file or directory."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(errorDisplayText(QString::fromUtf8(c.message)).toStdString(), c.shown);
}

TEST(Errors, FileMessagesDropTheReasonsFinalPeriod) {
  EXPECT_EQ(cannotCreateFileMessage("/x/y.png", "Permission denied."), "Cannot create file \"/x/y.png\". Permission denied");
  EXPECT_EQ(cannotOpenFileMessage("C:\\a.ini", "Access is denied"), "Cannot open file \"C:\\a.ini\". Access is denied");
}

// On Windows a path that reached the writer with slashes (from a dialog or typed so) is shown with
// backslashes; elsewhere the path is shown as given.
TEST(Errors, FileMessagesShowThePathInThePlatformsSeparators) {
  EXPECT_EQ(cannotCreateFileMessage("C:/out/x.png", "Access is denied.", PathFlavour::Windows),
            "Cannot create file \"C:\\out\\x.png\". Access is denied");
  EXPECT_EQ(cannotOpenFileMessage("C:/prog/Vellumark.ini", "Access is denied", PathFlavour::Windows),
            "Cannot open file \"C:\\prog\\Vellumark.ini\". Access is denied");
  EXPECT_EQ(cannotCreateFileMessage("/home/u/a\\b.png", "Permission denied", PathFlavour::Posix),
            "Cannot create file \"/home/u/a\\b.png\". Permission denied");
}

TEST(Dialogs, CaptionsFollowTheKind) {
  EXPECT_EQ(messageDialogCaption(TMsgDlgType::mtWarning), "Warning");
  EXPECT_EQ(messageDialogCaption(TMsgDlgType::mtError), "Error");
  EXPECT_EQ(messageDialogCaption(TMsgDlgType::mtInformation), "Information");
  EXPECT_EQ(messageDialogCaption(TMsgDlgType::mtConfirmation), "Confirm");
}
