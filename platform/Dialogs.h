#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// The dialog facility: message boxes, the file-open dialog and the top-level error display,
// behind one interface. The program installs the Qt implementation; tests install a scripted fake.

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons of a message dialog, as bit flags.
enum TMsgDlgBtn : unsigned {
  mbYes = 1u << 0,
  mbNo = 1u << 1,
  mbOK = 1u << 2,
  mbCancel = 1u << 3,
  mbNoToAll = 1u << 4,
  mbYesToAll = 1u << 5,
};
using TMsgDlgButtons = unsigned;

// Result codes of the buttons.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrNoToAll = 13;
constexpr int mrYesToAll = 14;

// The caption that goes with a kind of message: "Warning", "Error", "Information", "Confirm".
QString messageDialogCaption(TMsgDlgType kind);

// Options of a file-open dialog.
struct TOpenDialogOptions {
  QString Filter;            // "Description|patterns|Description|patterns..." ; empty: no filter
  int FilterIndex = 1;       // 1-based entry selected at first
  QString FileName;          // initial file name
  bool FileMustExist = false;
  bool PathMustExist = false;
  bool HideReadOnly = false;
  bool EnableSizing = true;
};

class IDialogService {
public:
  virtual ~IDialogService() = default;
  // Modal message box; returns the code of the button pressed (closing it counts as Cancel).
  // With Yes, Yes to All, No, No to All and Cancel the buttons appear in that order, Yes default.
  virtual int MessageDlg(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, int helpContext = 0) = 0;
  // Modal file-open dialog; true and the chosen full path in fileName when the user confirms.
  virtual bool OpenFileDialog(const TOpenDialogOptions& options, QString& fileName) = 0;
  // The top-level error box: caption "Error", error icon, one OK button; the text is shown as given.
  virtual void ShowError(const QString& text) = 0;
};

// The service in force. Never null once the application or a test has installed one.
IDialogService& Dialogs();
// Installs a service (not owned); returns the previous one.
IDialogService* setDialogService(IDialogService* service);

// The message of the error in flight (call inside a catch block): the message an Exception
// carries, or a plain description of any other error.
QString currentExceptionMessage();
// Shows the error in flight in the error box, with the final "." of the display rule.
void ShowCurrentException();
// Shows the errors in flight (call inside a catch block) in the error box, each distinct message
// once: at start-up one cause (an unreadable settings file) makes every group fail the same way.
class TErrorsOnce {
public:
  void ShowCurrent();
  int Count() const { return int(FShown.size()); }

private:
  QStringList FShown;
};
// Runs an event handler that is called from the toolkit (a signal, a mouse event). An error it
// raises is shown in the error box right here and the program goes on: it must not unwind
// through the toolkit's own code, which is built without exception cleanups.
void runEventHandler(const std::function<void()>& handler);
