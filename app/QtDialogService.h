#pragma once

#include "platform/Dialogs.h"

#include <QStringList>

class QWidget;

// The dialog facility on Qt widgets: QMessageBox for messages and the error box, QFileDialog for
// opening a file. Every dialog is modal and parented to dialogParent().
class TQtDialogService : public IDialogService {
public:
  // Caption and icon by kind; the requested buttons in the order Yes, Yes to All, No, No to All,
  // Cancel (then OK), whatever the platform's usual order; Yes is the default when present.
  // Closing the box without a button gives Cancel.
  int MessageDlg(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, int helpContext = 0) override;
  // QFileDialog with the filter converted to Qt's form and the entry FilterIndex selected. A file
  // that must exist must exist (Qt checks); a folder that must exist is checked here and the dialog
  // comes back with a warning until the user picks an existing folder or cancels.
  bool OpenFileDialog(const TOpenDialogOptions& options, QString& fileName) override;
  // Caption "Error", error icon, one OK button.
  void ShowError(const QString& text) override;
};

// The window a dialog opens over: the active window; when none is active (a generation run asks
// one question after another without going back to the event loop, so nothing is activated again
// once a box has closed), the topmost modal dialog, else the visible main window. Without it the
// next box would open on its own in the middle of the screen, apart from the program's window.
QWidget* dialogParent();

// "Desc|pat;pat|Desc|pat" as Qt's name filters, one per entry: "Desc (pat pat)". A description
// that already ends with its patterns in parentheses is kept as it is, with ";" turned into blanks
// inside them, so that the patterns are not shown twice.
QStringList qtNameFilters(const QString& filter);
