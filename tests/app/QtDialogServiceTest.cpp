#include "app/QtDialogService.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Answers the modal dialogs that open while a call runs: each step handles the next new modal widget.
class ModalScript {
public:
  using Step = std::function<void(QWidget*)>;
  explicit ModalScript(QList<Step> steps) : FSteps(std::move(steps)) {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal == FLast || FSteps.isEmpty())
        return;
      FLast = modal;
      FSteps.takeFirst()(modal);
    });
    FTimer.start(20);
  }
  bool Done() const { return FSteps.isEmpty(); }

private:
  QList<Step> FSteps;
  QTimer FTimer;
  QPointer<QWidget> FLast;
};

// The texts of the message box's buttons from left to right.
QStringList buttonTextsInOrder(QMessageBox* box) {
  QList<QAbstractButton*> buttons = box->buttons();
  std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton* a, QAbstractButton* b) {
    return a->mapTo(box, QPoint()).x() < b->mapTo(box, QPoint()).x();
  });
  QStringList texts;
  for (QAbstractButton* b : buttons)
    texts << b->text().remove(u'&');
  return texts;
}

QAbstractButton* buttonWithText(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons())
    if (b->text().remove(u'&') == text)
      return b;
  return nullptr;
}

// Types a file name into the open file dialog, as the user does.
void typeFileName(QFileDialog* dialog, const QString& name) {
  auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(edit, nullptr);
  edit->setText(name);
}

constexpr TMsgDlgButtons overwriteButtons = mbYes | mbNo | mbCancel | mbNoToAll | mbYesToAll;

TEST(QtDialogService, OverwriteQuestionShowsFiveButtonsInOrderWithYesDefault) {
  TQtDialogService service;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList order;
  QString defaultText;
  ModalScript script({[&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    icon = box->icon();
    order = buttonTextsInOrder(box);
    defaultText = box->defaultButton() ? box->defaultButton()->text().remove(u'&') : QString();
    buttonWithText(box, QStringLiteral("No to All"))->click();
  }});
  const int result = service.MessageDlg(QStringLiteral("C:\\out\\a.png exists.  Overwrite?"), TMsgDlgType::mtWarning,
                                        overwriteButtons);
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(title, QStringLiteral("Warning"));
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(order, (QStringList{"Yes", "Yes to All", "No", "No to All", "Cancel"}));
  EXPECT_EQ(defaultText, QStringLiteral("Yes"));
  EXPECT_EQ(result, mrNoToAll);
}

TEST(QtDialogService, EachButtonReturnsItsCodeAndClosingCountsAsCancel) {
  TQtDialogService service;
  const struct {
    const char* button;  // nullptr: close the box
    int code;
  } cases[] = {{"Yes", mrYes}, {"Yes to All", mrYesToAll}, {"No", mrNo}, {"Cancel", mrCancel}, {nullptr, mrCancel}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button ? c.button : "closed");
    ModalScript script({[&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (c.button)
        buttonWithText(box, QString::fromLatin1(c.button))->click();
      else
        box->close();
    }});
    EXPECT_EQ(service.MessageDlg(QStringLiteral("question"), TMsgDlgType::mtConfirmation, overwriteButtons), c.code);
  }
}

// A generation run asks one question after another without going back to the event loop, so once a
// box has closed no window is active; every box must still open over the program's window, and so
// must the error box that may follow.
TEST(QtDialogService, BoxesInARowWithoutTheEventLoopStayOverTheProgramWindow) {
  QWidget window;
  window.resize(300, 200);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  TQtDialogService service;
  QList<QWidget*> parents;
  auto answer = [&](QWidget* w) {
    parents << w->parentWidget();
    qobject_cast<QMessageBox*>(w)->buttons().first()->click();
  };
  ModalScript script({answer, answer, answer});
  service.MessageDlg(QStringLiteral("a.png exists.  Overwrite?"), TMsgDlgType::mtWarning, overwriteButtons);
  service.MessageDlg(QStringLiteral("b.png exists.  Overwrite?"), TMsgDlgType::mtWarning, overwriteButtons);
  service.ShowError(QStringLiteral("Cannot create file \"b.png\"."));
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(parents, (QList<QWidget*>{&window, &window, &window}));
}

TEST(QtDialogService, ErrorBoxHasCaptionErrorTheErrorIconAndOneOkButton) {
  TQtDialogService service;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList order;
  ModalScript script({[&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    order = buttonTextsInOrder(box);
    box->buttons().first()->click();
  }});
  service.ShowError(QStringLiteral("An output device must be checked."));
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(title, QStringLiteral("Error"));
  EXPECT_EQ(text, QStringLiteral("An output device must be checked."));
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(order, QStringList{QStringLiteral("OK")});
}

TEST(QtDialogService, FiltersBecomeQtNameFiltersWithoutRepeatingThePatterns) {
  EXPECT_EQ(qtNameFilters(QString()), QStringList());
  EXPECT_EQ(qtNameFilters(QStringLiteral("All (*.gif;*.png)|*.gif;*.png|GIF Image (*.gif)|*.gif|Any|*.*")),
            (QStringList{"All (*.gif *.png)", "GIF Image (*.gif)", "Any (*.*)"}));
}

TEST(QtDialogService, OpenDialogSelectsTheFilterEntryAndReturnsTheChosenPath) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TQtDialogService service;
  TOpenDialogOptions options;
  options.Filter = QStringLiteral("All (*.gif;*.png)|*.gif;*.png|GIF Image (*.gif)|*.gif");
  options.FilterIndex = 2;
  options.PathMustExist = true;
  QStringList filters;
  QString selectedFilter;
  const QString wanted = dir.filePath(QStringLiteral("app.icon.jpg"));  // need not exist
  ModalScript script({[&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    filters = dialog->nameFilters();
    selectedFilter = dialog->selectedNameFilter();
    typeFileName(dialog, wanted);
    static_cast<QDialog*>(dialog)->accept();
  }});
  QString chosen;
  EXPECT_TRUE(service.OpenFileDialog(options, chosen));
  EXPECT_EQ(filters, (QStringList{"All (*.gif *.png)", "GIF Image (*.gif)"}));
  EXPECT_EQ(selectedFilter, QStringLiteral("GIF Image (*.gif)"));
  EXPECT_EQ(chosen, QDir::toNativeSeparators(wanted));
}

TEST(QtDialogService, OpenDialogInsistsOnAnExistingFolderAndCancelGivesFalse) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TQtDialogService service;
  TOpenDialogOptions options;
  options.PathMustExist = true;
  QString warning;
  ModalScript script({
    [&](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(dialog, nullptr);
      typeFileName(dialog, dir.filePath(QStringLiteral("no/such/folder/app.png")));
      static_cast<QDialog*>(dialog)->accept();
    },
    [&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      warning = box->text();
      box->buttons().first()->click();
    },
    [&](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(dialog, nullptr);
      dialog->reject();
    },
  });
  QString chosen = QStringLiteral("unchanged");
  EXPECT_FALSE(service.OpenFileDialog(options, chosen));
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(warning.contains(QStringLiteral("does not exist"))) << warning.toStdString();
  EXPECT_EQ(chosen, QStringLiteral("unchanged"));
}

}  // namespace
