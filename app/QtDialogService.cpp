#include "app/QtDialogService.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace {

QMessageBox::Icon iconOf(TMsgDlgType kind) {
  switch (kind) {
  case TMsgDlgType::mtWarning: return QMessageBox::Warning;
  case TMsgDlgType::mtError: return QMessageBox::Critical;
  case TMsgDlgType::mtInformation: return QMessageBox::Information;
  case TMsgDlgType::mtConfirmation: return QMessageBox::Question;
  case TMsgDlgType::mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

// The buttons in the order they appear, with their texts and result codes.
struct ButtonChoice {
  TMsgDlgBtn flag;
  const char* text;
  int code;
};
constexpr ButtonChoice buttonOrder[] = {
  {mbYes, "&Yes", mrYes},
  {mbYesToAll, "Yes to &All", mrYesToAll},
  {mbNo, "&No", mrNo},
  {mbNoToAll, "N&o to All", mrNoToAll},
  {mbCancel, "Cancel", mrCancel},
  {mbOK, "OK", mrOk},
};

// While a box is open the ordinary arrow shows, also when the program is busy around it (the
// overwrite question in the middle of a generation run); the busy cursor comes back afterwards.
class TArrowCursorScope {
public:
  TArrowCursorScope() : FPushed(QApplication::overrideCursor() != nullptr) {
    if (FPushed)
      QApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~TArrowCursorScope() {
    if (FPushed)
      QApplication::restoreOverrideCursor();
  }
  TArrowCursorScope(const TArrowCursorScope&) = delete;
  TArrowCursorScope& operator=(const TArrowCursorScope&) = delete;

private:
  bool FPushed;
};

}  // namespace

QWidget* dialogParent() {
  if (QWidget* active = QApplication::activeWindow())
    return active;
  if (QWidget* modal = QApplication::activeModalWidget())
    return modal;
  const QWidgetList tops = QApplication::topLevelWidgets();
  for (QWidget* top : tops)
    if (top->isVisible() && top->windowType() == Qt::Window)
      return top;
  return nullptr;
}

QStringList qtNameFilters(const QString& filter) {
  QStringList result;
  const QStringList parts = filter.split(u'|');
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    const QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
    const QString joined = patterns.join(u' ');
    const QString ownPatterns = QLatin1Char('(') + parts[i + 1] + QLatin1Char(')');
    if (description.endsWith(ownPatterns))
      result << description.left(description.size() - ownPatterns.size()) + QLatin1Char('(') + joined +
                    QLatin1Char(')');
    else
      result << description + QStringLiteral(" (") + joined + QLatin1Char(')');
  }
  return result;
}

int TQtDialogService::MessageDlg(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, int helpContext) {
  Q_UNUSED(helpContext);
  QMessageBox box(dialogParent());
  box.setWindowTitle(kind == TMsgDlgType::mtCustom ? QApplication::applicationDisplayName()
                                                   : messageDialogCaption(kind));
  box.setIcon(iconOf(kind));
  box.setText(text);
  // All buttons share one role, so the button box keeps them in the order they are added.
  QList<QPair<QAbstractButton*, int>> added;
  QPushButton* cancel = nullptr;
  for (const ButtonChoice& choice : buttonOrder) {
    if (!(buttons & choice.flag))
      continue;
    QPushButton* button = box.addButton(QString::fromLatin1(choice.text), QMessageBox::ActionRole);
    added.append({button, choice.code});
    if (choice.code == mrCancel)
      cancel = button;
  }
  if (added.isEmpty())
    added.append({box.addButton(QStringLiteral("OK"), QMessageBox::ActionRole), mrOk});
  box.setDefaultButton(static_cast<QPushButton*>(added.first().first));  // Yes when present
  // Escape and the close button count as Cancel; without a Cancel button they close the box only.
  box.setEscapeButton(cancel);
  const TArrowCursorScope arrow;
  box.exec();
  const QAbstractButton* clicked = box.clickedButton();
  for (const auto& [button, code] : added)
    if (button == clicked)
      return code;
  return mrCancel;
}

bool TQtDialogService::OpenFileDialog(const TOpenDialogOptions& options, QString& fileName) {
  QFileDialog dialog(dialogParent());
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(options.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setSizeGripEnabled(options.EnableSizing);
  const QStringList filters = qtNameFilters(options.Filter);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const qsizetype index = std::clamp<qsizetype>(options.FilterIndex, 1, filters.size()) - 1;
    dialog.selectNameFilter(filters[index]);
  }
  if (!options.FileName.isEmpty()) {
    const QFileInfo initial(options.FileName);
    if (initial.dir().exists())
      dialog.setDirectory(initial.absolutePath());
    dialog.selectFile(initial.fileName());
  }
  for (;;) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
      return false;
    const QString chosen = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    const QFileInfo info(chosen);
    if (options.PathMustExist && !info.dir().exists()) {
      QMessageBox::warning(&dialog, messageDialogCaption(TMsgDlgType::mtWarning),
                           QStringLiteral("The folder \"%1\" does not exist.")
                               .arg(QDir::toNativeSeparators(info.absolutePath())));
      continue;
    }
    fileName = chosen;
    return true;
  }
}

void TQtDialogService::ShowError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, messageDialogCaption(TMsgDlgType::mtError), text, QMessageBox::Ok,
                  dialogParent());
  const TArrowCursorScope arrow;
  box.exec();
}
