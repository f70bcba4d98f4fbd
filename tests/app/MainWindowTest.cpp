#include "app/VellumarkMain.h"

#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "model/SelectionGeometry.h"
#include "platform/Errors.h"
#include "platform/NumberText.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "support/Paths.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QImage>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

static std::ostream& operator<<(std::ostream& os, const TRectF& r) {
  return os << "(" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ")";
}

namespace {

QString sizeKeyOf(int group) {
  const TSizeInfo& first = SizeGroups[group].constFirst();
  return QStringLiteral("%1_%2").arg(first.Width).arg(first.Height);
}

QStringList itemsOf(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i)
    items << combo->itemText(i);
  return items;
}

class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    setSettingsFilePathOverride(SettingsPath());
    ::InitSizeInfos();
  }
  void TearDown() override { setSettingsFilePathOverride(QString()); }

  QString SettingsPath() const { return FDir.filePath(QStringLiteral("Vellumark.ini")); }
  QString TempPath(const QString& name) const { return FDir.filePath(name); }

  // True when the settings file holds the key in that section, whatever its value.
  bool HasKey(const QString& section, const QString& key) const {
    for (const TSettingsFile::Section& s : TSettingsFile::load(SettingsPath()).sections())
      if (s.Name.compare(section, Qt::CaseInsensitive) == 0)
        for (const TSettingsFile::Line& line : s.Lines)
          if (line.HasKey() && line.Key().compare(key, Qt::CaseInsensitive) == 0)
            return true;
    return false;
  }

  std::unique_ptr<TfrmVellumark> Start() { return std::make_unique<TfrmVellumark>(nullptr, Settings()); }

  QByteArray readSettingsBytes() const {
    QFile file(SettingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
  }

  // Every group gets a test picture in the settings file, as a later start finds it.
  void StoreFullSetup(const QString& baseName) {
    for (int g = 0; g < SizeGroupCount; ++g)
      writeSetting(QStringLiteral("images"), sizeKeyOf(g),
                   testDataDir() + (g % 2 ? QStringLiteral("/formats/sample.png") : QStringLiteral("/formats/rgbrgb.png")));
    writeSetting(QStringLiteral("settings"), QStringLiteral("base_filename"), baseName);
  }

  static QStringList LogOf(const TfrmVellumark& form) {
    const QString text = form.mmOutput->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
  }

  // The lines a check of the given frames writes before the outputs section.
  static QStringList RatioLines(const TfrmVellumark& form, bool bitmapOk, bool selectionOk) {
    QStringList lines{QStringLiteral("Validating Ratio Inputs...")};
    for (const TRatioFrame* frame : form.FramesOfSet()) {
      lines << QStringLiteral("   Validating ") + frame->Caption() + QStringLiteral("...");
      lines << (bitmapOk ? QStringLiteral("      Bitmap Ok") : QStringLiteral("      INVALID Bitmap (Empty)"));
      lines << (selectionOk ? QStringLiteral("      Selection rectangle Ok")
                            : QStringLiteral("      INVALID Selection rectangle (Empty)"));
    }
    return lines;
  }

  // After a check of a full setup: the outputs section holds the finding (none: ready, Generate
  // enabled) and a finding brings the error box and leaves Generate disabled.
  void ExpectOutputsVerdict(const TfrmVellumark& form, const QString& finding) {
    const QStringList log = LogOf(form);
    ASSERT_GE(log.size(), 41);
    EXPECT_EQ(log[40], QStringLiteral("Validating Outputs..."));
    if (finding.isEmpty()) {
      EXPECT_EQ(log.mid(41), QStringList{QStringLiteral("Ready to generate images")});
      EXPECT_TRUE(FDialogs.Errors.isEmpty());
      EXPECT_TRUE(form.actGenerate->isEnabled());
    } else {
      EXPECT_EQ(log.mid(41), QStringList{finding});
      EXPECT_EQ(FDialogs.Errors, QStringList{QStringLiteral("Errors were found in setup.  Please correct.")});
      EXPECT_FALSE(form.actGenerate->isEnabled());
    }
  }

  // Brings the Generate tab to the front as the user does (from Setup).
  static void OpenGenerateTab(TfrmVellumark& form) {
    form.TabControl1->setCurrentWidget(form.tiSetup);
    form.TabControl1->setCurrentWidget(form.tiGenerate);
  }

  QTemporaryDir FDir;
  ScriptedDialogs FDialogs;
};

TEST_F(MainWindowTest, FirstStartWithoutSettingsShowsTheEmptyWizard) {
  auto form = Start();
  EXPECT_TRUE(FDialogs.Errors.isEmpty());
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Vellumark"));
  // The client area has the design size under the menu bar.
  EXPECT_GT(form->ClientTop(), 0);
  EXPECT_EQ(form->size(), QSize(663, 609 + form->ClientTop()));
  EXPECT_EQ(form->TabControl1->currentIndex(), 0);
  ASSERT_EQ(form->TabControl1->count(), 4);
  EXPECT_EQ(form->TabControl1->tabText(0), QStringLiteral("Introduction"));
  EXPECT_EQ(form->TabControl1->tabText(1), QStringLiteral("Graphics"));
  EXPECT_EQ(form->TabControl1->tabText(2), QStringLiteral("Setup"));
  EXPECT_EQ(form->TabControl1->tabText(3), QStringLiteral("Generate"));
  EXPECT_EQ(form->TabControl1->widget(3), form->tiGenerate);

  // The classic groups' frames without pictures, tagged with their group, in group order, with empty lists.
  ASSERT_EQ(form->FramesOfSet().size(), SizeGroupCount);
  for (int g = 0; g < SizeGroupCount; ++g) {
    SCOPED_TRACE(g);
    TRatioFrame* frame = form->FindRatioFrame(g);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame, form->FramesOfSet()[g]);
    EXPECT_EQ(frame->SizeStr(), sizeKeyOf(g));
    EXPECT_TRUE(frame->Picture().IsEmpty());
    EXPECT_EQ(frame->ceFilename->count(), 0);
  }
  // The frames of the groups only another set uses exist, hidden, without pictures.
  ASSERT_EQ(form->RatioFrames().size(), AllGroupCount);
  for (int g = SizeGroupCount; g < AllGroupCount; ++g) {
    SCOPED_TRACE(g);
    ASSERT_NE(form->FindRatioFrame(g), nullptr);
    EXPECT_TRUE(form->FindRatioFrame(g)->isHidden());
    EXPECT_TRUE(form->FindRatioFrame(g)->Picture().IsEmpty());
  }
  EXPECT_EQ(form->FindRatioFrame(AllGroupCount), nullptr);
  EXPECT_EQ(form->FindRatioFrame(255), nullptr);
  EXPECT_EQ(form->FindRatioFrame(0)->Caption(), QStringLiteral("1:1"));

  EXPECT_EQ(form->ceBaseName->currentText(), QString());
  EXPECT_EQ(form->ceBaseName->count(), 0);
  EXPECT_EQ(form->ceBaseName->currentIndex(), -1);
  EXPECT_EQ(form->ListBox1->count(), 4);
  EXPECT_EQ(form->ListBox1->item(0)->text(), QStringLiteral("Output Devices"));
  EXPECT_FALSE(form->ListBox1->item(0)->flags() & Qt::ItemIsUserCheckable);
  EXPECT_EQ(form->ListBox1->item(1), form->lbiiPhone);
  EXPECT_EQ(form->ListBox1->item(2), form->lbiiPad);
  EXPECT_EQ(form->ListBox1->item(3), form->lbiAndroid);
  EXPECT_EQ(form->lbiiPhone->text(), QStringLiteral("iPhone"));
  EXPECT_EQ(form->lbiiPad->text(), QStringLiteral("iPad"));
  EXPECT_EQ(form->lbiAndroid->text(), QStringLiteral("Android"));
  for (const QListWidgetItem* device : {form->lbiiPhone, form->lbiiPad, form->lbiAndroid})
    EXPECT_TRUE(TfrmVellumark::IsChecked(device));
  EXPECT_EQ(form->ListBox1->currentItem(), form->lbiAndroid);
  EXPECT_TRUE(form->cbOptset->isChecked());
  EXPECT_EQ(form->cbOptset->text(), QStringLiteral("Generate .optset file(s)"));
  EXPECT_FALSE(form->actGenerate->isEnabled());
  EXPECT_FALSE(form->Button2->isEnabled());
  EXPECT_EQ(form->Button2->text(), QStringLiteral("Generate"));
  EXPECT_TRUE(form->mmOutput->toPlainText().isEmpty());
  EXPECT_FALSE(form->mmOutput->isReadOnly());

  // The introduction: two paragraphs separated by an empty line, read-only, word-wrapped, size 14.
  const QStringList intro = form->Memo1->toPlainText().split(u'\n');
  ASSERT_EQ(intro.size(), 3);
  EXPECT_TRUE(intro[1].isEmpty());
  EXPECT_TRUE(intro[0].contains(QStringLiteral("%1 ratios of graphic sizes (1:1, 1.33:1 and so on) add up to %2 PNG files").arg(SizeGroupCount).arg(ClassicFileCount)));
  EXPECT_TRUE(intro[1 + 1].contains(QStringLiteral(".optset")));
  EXPECT_TRUE(form->Memo1->isReadOnly());
  EXPECT_EQ(form->Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(form->Memo1->font().pointSize(), 14);

  // Nothing was written for the window: the base name stays out of the settings file (an empty
  // value written back would read as "" too, so the file itself is looked at).
  EXPECT_FALSE(HasKey(QStringLiteral("settings"), QStringLiteral("base_filename")));
  EXPECT_TRUE(HasKey(QStringLiteral("selections"), sizeKeyOf(0)));  // the frames did write theirs
}

// The window does not open on a picture named as its settings file, and never writes it.
TEST_F(MainWindowTest, TheWindowDoesNotOpenOnAFileThatIsNoSettingsFile) {
  QFile picture(testDataDir() + QStringLiteral("/formats/sample.png"));
  ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
  const QByteArray bytes = picture.readAll();
  QFile victim(SettingsPath());
  ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
  victim.write(bytes);
  victim.close();
  try {
    Start();
    ADD_FAILURE() << "the window opened on a PNG picture";
  } catch (const ENotSettingsFileError& e) {
    EXPECT_TRUE(e.Message().contains(QDir::toNativeSeparators(SettingsPath()))) << e.Message().toStdString();
  }
  EXPECT_EQ(readSettingsBytes(), bytes);
}

TEST_F(MainWindowTest, ControlsSitWhereTheLayoutPutsThem) {
  auto form = Start();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  // The client area's places, under the menu bar.
  const int top = form->ClientTop();
  EXPECT_EQ(form->MenuBar1->geometry(), QRect(0, 0, 663, top));
  QStringList menus;
  for (const QAction* menu : form->MenuBar1->actions())
    menus << menu->text();
  EXPECT_EQ(menus, QStringList({"&File", "&Edit", "&Help"}));
  EXPECT_EQ(form->TabControl1->geometry(), QRect(20, top + 20, 623, 539));
  EXPECT_EQ(form->Layout1->geometry(), QRect(20, top + 559, 623, 50));
  EXPECT_EQ(form->Button2->geometry(), QRect(560, top + 576, 80, 22));
  EXPECT_EQ(form->ceBaseName->geometry(), QRect(144, 56, 401, 22));
  EXPECT_EQ(form->Label1->geometry(), QRect(144 - 128, 56 + 5, 120, 17));
  EXPECT_EQ(form->Label1->text(), QStringLiteral("Base Filename"));
  EXPECT_TRUE(form->Label1->alignment() & Qt::AlignRight);
  EXPECT_EQ(form->Button1->geometry(), QRect(144, 80, 80, 22));
  EXPECT_EQ(form->Button1->text(), QStringLiteral("Browse..."));
  EXPECT_EQ(form->ListBox1->geometry().topLeft(), QPoint(144, 120));
  EXPECT_EQ(form->ListBox1->height(), 129);
  EXPECT_EQ(form->cbOptset->geometry().topLeft(), QPoint(144, 264));
  EXPECT_EQ(form->cbOptset->height(), 19);

  // Frames stack at the top of the scroll box, full width, 160 high, group 0 first.
  form->TabControl1->setCurrentWidget(form->tiGraphics);
  QCoreApplication::processEvents();
  const QWidget* content = form->VertScrollBox1->widget();
  int y = 0;
  for (const TRatioFrame* frame : form->FramesOfSet()) {
    EXPECT_EQ(frame->parentWidget(), content);
    EXPECT_EQ(frame->geometry(), QRect(0, y, content->width(), 160));
    y += 160;
  }
  EXPECT_EQ(content->width(), form->VertScrollBox1->viewport()->width());
  // Undo and Redo in a row over the frames, which fill the rest of the tab.
  EXPECT_EQ(form->btnUndo->geometry().topLeft(), QPoint(10, 10));
  EXPECT_EQ(form->btnRedo->geometry().top(), 10);
  EXPECT_GT(form->btnRedo->geometry().left(), form->btnUndo->geometry().right());
  const QRect scroll = form->VertScrollBox1->geometry();
  EXPECT_GT(scroll.top(), form->btnUndo->geometry().bottom());
  EXPECT_EQ(scroll.adjusted(0, -(scroll.top() - 10), 0, 0), form->tiGraphics->rect().adjusted(10, 10, -10, -10));
  form->TabControl1->setCurrentWidget(form->tiGenerate);
  QCoreApplication::processEvents();
  EXPECT_EQ(form->mmOutput->geometry(), form->tiGenerate->rect().adjusted(20, 20, -20, -20));
  form->TabControl1->setCurrentWidget(form->tiIntro);
  QCoreApplication::processEvents();
  // The introduction fills the tab above the line that names the settings file in use.
  EXPECT_EQ(form->Memo1->geometry().topLeft(), form->tiIntro->rect().topLeft());
  EXPECT_EQ(form->Memo1->width(), form->tiIntro->width());
  EXPECT_LT(form->Memo1->geometry().bottom(), form->lblSettingsFile->y());
  EXPECT_GT(form->Memo1->height(), form->tiIntro->height() - 3 * form->lblSettingsFile->height());
  EXPECT_EQ(form->lblSettingsFile->geometry().bottom(), form->tiIntro->rect().bottom());
  EXPECT_TRUE(form->lblSettingsFile->text().endsWith(QDir::toNativeSeparators(settingsFilePath())));

  // Stretched controls widen with the window; Button2 stays at the bottom right.
  const int listWidth = form->ListBox1->width();
  form->resize(763, 709 + top);
  QCoreApplication::processEvents();
  EXPECT_EQ(form->ListBox1->width(), listWidth + 100);
  EXPECT_EQ(form->cbOptset->width(), listWidth + 100);
  EXPECT_EQ(form->ceBaseName->width(), 401);
  EXPECT_EQ(form->Button2->geometry(), QRect(660, top + 676, 80, 22));
}

TEST_F(MainWindowTest, FullSetupValidatesCleanlyAndEnablesGenerateOnlyOnTheGenerateTab) {
  StoreFullSetup(QStringLiteral("C:\\no\\such\\folder\\MyApp.png"));
  auto form = Start();
  ASSERT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('\n').toStdString();
  // Pictures restored at start-up notify nothing: every list starts empty.
  for (const TRatioFrame* frame : form->FramesOfSet())
    EXPECT_EQ(frame->ceFilename->count(), 0);
  EXPECT_EQ(form->ceBaseName->count(), 0);

  OpenGenerateTab(*form);
  EXPECT_TRUE(FDialogs.Errors.isEmpty());
  QStringList expected = RatioLines(*form, true, true);
  expected << QStringLiteral("Validating Outputs...") << QStringLiteral("Ready to generate images");
  EXPECT_EQ(LogOf(*form), expected);
  EXPECT_EQ(LogOf(*form).size(), 1 + SizeGroupCount * 3 + 2);
  EXPECT_EQ(LogOf(*form)[1], QStringLiteral("   Validating 1:1..."));
  EXPECT_TRUE(form->actGenerate->isEnabled());
  EXPECT_TRUE(form->Button2->isEnabled());

  // Any other tab disables it; coming back clears the log and checks again.
  form->TabControl1->setCurrentWidget(form->tiGraphics);
  EXPECT_FALSE(form->actGenerate->isEnabled());
  EXPECT_FALSE(form->Button2->isEnabled());
  form->Log(QStringLiteral("left over"));
  form->TabControl1->setCurrentWidget(form->tiGenerate);
  EXPECT_EQ(LogOf(*form), expected);
  EXPECT_TRUE(form->actGenerate->isEnabled());
}

TEST_F(MainWindowTest, AFrameWithoutSelectionFailsTheCheckButTheOthersAreStillVisited) {
  StoreFullSetup(QStringLiteral("C:\\out\\MyApp.png"));
  auto form = Start();
  const float nan = std::nanf("");
  form->FindRatioFrame(4)->SetSelectRect({10, 10, nan, 50});  // a coordinate that is not a number
  form->FindRatioFrame(7)->SetSelectRect({10, 10, 10, 50});   // zero width
  // Beside the picture (it would make the group's images fully transparent), and partly over its edge.
  form->FindRatioFrame(0)->SetSelectRect({500, 500, 600, 600});
  const TRectF ir = form->FindRatioFrame(1)->ImageRect();
  form->FindRatioFrame(1)->SetSelectRect({ir.Left - 10, ir.Top, ir.Left + 30, ir.Top + 20});
  EXPECT_FALSE(form->Validate());
  const QStringList log = LogOf(*form);
  ASSERT_EQ(log.size(), 1 + SizeGroupCount * 3 + 1);
  for (int g = 0; g < SizeGroupCount; ++g) {
    SCOPED_TRACE(g);
    EXPECT_EQ(log[1 + 3 * g + 1], QStringLiteral("      Bitmap Ok"));
    EXPECT_EQ(log[1 + 3 * g + 2], g == 4 || g == 7 ? QStringLiteral("      INVALID Selection rectangle (Empty)")
                                  : g == 0         ? QStringLiteral("      INVALID Selection rectangle (outside the picture)")
                                                   : QStringLiteral("      Selection rectangle Ok"));
  }
}

TEST_F(MainWindowTest, FirstStartSetupFailsEveryCheckAndReportsTheError) {
  auto form = Start();
  OpenGenerateTab(*form);
  // Shown through the top-level error box; already ends with ".".
  EXPECT_EQ(FDialogs.Errors, QStringList{QStringLiteral("Errors were found in setup.  Please correct.")});
  QStringList expected = RatioLines(*form, false, false);
  expected << QStringLiteral("Validating Outputs...") << QStringLiteral("   Incorrect path for base name: ");
  EXPECT_EQ(LogOf(*form), expected);
  EXPECT_EQ(form->TabControl1->currentWidget(), form->tiGenerate);
  EXPECT_FALSE(form->actGenerate->isEnabled());
  EXPECT_FALSE(form->Button2->isEnabled());

  // Called directly, the handler raises the error.
  try {
    form->TabControl1Change(form->TabControl1);
    ADD_FAILURE() << "no error raised";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Errors were found in setup.  Please correct."));
  }
}

TEST_F(MainWindowTest, NoDeviceCheckedLogsNothingAndShowsTheMessageWithAPeriod) {
  StoreFullSetup(QStringLiteral("C:\\out\\MyApp.png"));
  auto form = Start();
  OpenGenerateTab(*form);
  ASSERT_TRUE(form->actGenerate->isEnabled());
  form->TabControl1->setCurrentWidget(form->tiSetup);
  for (QListWidgetItem* device : {form->lbiiPhone, form->lbiiPad, form->lbiAndroid})
    device->setCheckState(Qt::Unchecked);
  form->TabControl1->setCurrentWidget(form->tiGenerate);
  EXPECT_EQ(FDialogs.Errors, QStringList{QStringLiteral("An output device must be checked.")});
  EXPECT_TRUE(form->mmOutput->toPlainText().isEmpty());
  EXPECT_FALSE(form->actGenerate->isEnabled());

  EXPECT_THROW(form->Validate(), Exception);
  EXPECT_TRUE(form->mmOutput->toPlainText().isEmpty());

  // One device is enough.
  form->TabControl1->setCurrentWidget(form->tiSetup);
  form->lbiiPad->setCheckState(Qt::Checked);
  form->TabControl1->setCurrentWidget(form->tiGenerate);
  EXPECT_EQ(FDialogs.Errors.size(), 1);
  EXPECT_TRUE(form->actGenerate->isEnabled());
}

TEST_F(MainWindowTest, BaseNameChecks) {
  StoreFullSetup(QString());
  auto form = Start();
  const QString incorrect = QStringLiteral("   Incorrect path for base name: ");
  const QString noFolder = QStringLiteral("   No directory found at specified path for base name: ");
  const QString longName = QStringLiteral("C:\\out\\") + QString(260, u'a') + QStringLiteral(".png");
  const QString extended = QStringLiteral("\\\\?\\") + longName;
  const struct {
    const char* sentence;
    QString baseName;
    QString finding;  // empty: the check passes
  } cases[] = {
    {"empty", QString(), incorrect},
    {"blanks only", QStringLiteral("   "), incorrect + QStringLiteral("   ")},
    {"no folder part", QStringLiteral("MyApp.png"), noFolder + QStringLiteral("MyApp.png")},
    {"a root folder is no folder part", QStringLiteral("/MyApp.png"), noFolder + QStringLiteral("/MyApp.png")},
    {"nor with a backslash", QStringLiteral("\\MyApp.png"), noFolder + QStringLiteral("\\MyApp.png")},
    {"the root of a drive is a folder", QStringLiteral("C:\\MyApp.png"), QString()},
    {"a folder that does not exist passes", QStringLiteral("C:\\no\\such\\folder\\MyApp.png"), QString()},
    {"a relative folder passes", QStringLiteral("Art\\MyApp.png"), QString()},
    {"a slash counts as a separator", QStringLiteral("out/MyApp.png"), QString()},
    {"too long", longName, incorrect + longName},
    {"long with the extended-length prefix", extended, QString()},
    {"a forbidden character", QStringLiteral("C:\\out\\My|App.png"), incorrect + QStringLiteral("C:\\out\\My|App.png")},
    {"wildcards are let through", QStringLiteral("C:\\out\\*.png"), QString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sentence);
    FDialogs.Errors.clear();
    form->TabControl1->setCurrentWidget(form->tiSetup);
    form->ceBaseName->setEditText(c.baseName);
    form->TabControl1->setCurrentWidget(form->tiGenerate);
    ExpectOutputsVerdict(*form, c.finding);
  }
}

TEST_F(MainWindowTest, ChosenImagesAreSharedIntoEveryListOnceIgnoringLetterCase) {
  const QString a = TempPath(QStringLiteral("Pic.png"));
  const QString aOtherCase = TempPath(QStringLiteral("PIC.PNG"));  // another file here, the same name on Windows
  const QString b = TempPath(QStringLiteral("other.gif"));
  ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/formats/sample.png"), a));
  ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/formats/sample.png"), aOtherCase));
  ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/formats/palette.gif"), b));
  auto form = Start();
  form->ceBaseName->setEditText(QStringLiteral("C:\\out\\MyApp.png"));

  form->FindRatioFrame(2)->SetFilename(a);
  form->FindRatioFrame(5)->SetFilename(a);           // the same image in a second frame
  form->FindRatioFrame(9)->SetFilename(aOtherCase);  // the same path in other letter case
  form->FindRatioFrame(0)->SetFilename(b);
  ASSERT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('\n').toStdString();

  const QStringList expected{a, b};  // in order of first use
  for (const TRatioFrame* frame : form->FramesOfSet()) {
    SCOPED_TRACE(frame->Tag());
    EXPECT_EQ(itemsOf(frame->ceFilename), expected);
  }
  EXPECT_EQ(itemsOf(form->ceBaseName), expected);
  // Adding to the lists changes no text: neither the base name nor a frame's file name.
  EXPECT_EQ(form->ceBaseName->currentText(), QStringLiteral("C:\\out\\MyApp.png"));
  EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("base_filename")), QStringLiteral("C:\\out\\MyApp.png"));
  EXPECT_EQ(form->FindRatioFrame(1)->ceFilename->currentText(), QString());
  EXPECT_EQ(form->FindRatioFrame(9)->ceFilename->currentText(), aOtherCase);
  EXPECT_TRUE(form->FindRatioFrame(1)->Picture().IsEmpty());

  // Picking an image from the base-name list makes it the base file name.
  form->ceBaseName->setCurrentIndex(1);
  EXPECT_EQ(form->ceBaseName->currentText(), b);
  EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("base_filename")), b);
}

TEST_F(MainWindowTest, BrowseSetsTheBaseNameWithThePngExtension) {
  auto form = Start();
  const struct {
    QString chosen;  // null: the dialog is cancelled
    QString baseName;
  } cases[] = {
    {QStringLiteral("C:\\work\\app.icon.jpg"), QStringLiteral("C:\\work\\app.icon.png")},
    {QStringLiteral("C:\\work\\app"), QStringLiteral("C:\\work\\app.png")},
    {QStringLiteral("C:\\my.dir\\app"), QStringLiteral("C:\\my.dir\\app.png")},
    {QStringLiteral("/home/u/my.dir/app.icon.jpeg"), QStringLiteral("/home/u/my.dir/app.icon.png")},
    {QString(), QStringLiteral("/home/u/my.dir/app.icon.png")},  // cancel changes nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chosen.toStdString());
    FDialogs.FileAnswers.enqueue(c.chosen);
    form->Button1->click();
    EXPECT_EQ(form->ceBaseName->currentText(), c.baseName);
    EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("base_filename")), c.baseName);
  }
  EXPECT_TRUE(FDialogs.Errors.isEmpty());
  ASSERT_EQ(FDialogs.FileDialogs.size(), 5);
  const TOpenDialogOptions& options = FDialogs.FileDialogs.first();
  EXPECT_TRUE(options.Filter.isEmpty());
  EXPECT_TRUE(options.HideReadOnly);
  EXPECT_TRUE(options.PathMustExist);
  EXPECT_FALSE(options.FileMustExist);
  EXPECT_TRUE(options.EnableSizing);
  // The dialog opens again at the file chosen last.
  EXPECT_EQ(FDialogs.FileDialogs[1].FileName, QStringLiteral("C:\\work\\app.icon.jpg"));
}

TEST_F(MainWindowTest, TypedBaseNameIsStoredAtOnceAndShownAtTheNextStart) {
  {
    auto form = Start();
    QTest::keyClicks(form->ceBaseName->lineEdit(), QStringLiteral("C:\\out\\MyApp.png"));
    EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("base_filename")), QStringLiteral("C:\\out\\MyApp.png"));
    form->ceBaseName->setEditText(QStringLiteral("D:\\art\\Icon.png"));
  }
  auto form = Start();
  EXPECT_EQ(form->ceBaseName->currentText(), QStringLiteral("D:\\art\\Icon.png"));
  EXPECT_EQ(form->ceBaseName->count(), 0);
  EXPECT_TRUE(FDialogs.Errors.isEmpty());
}

TEST_F(MainWindowTest, FramesThatCannotBeRestoredAreReportedAndStillCreated) {
  StoreFullSetup(QStringLiteral("C:\\out\\MyApp.png"));
  const QString missing = TempPath(QStringLiteral("deleted.png"));
  const QString broken = TempPath(QStringLiteral("broken.png"));
  {
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a picture");
  }
  writeSetting(QStringLiteral("images"), sizeKeyOf(0), missing);
  writeSetting(QStringLiteral("images"), sizeKeyOf(3), broken);
  writeSetting(QStringLiteral("selections"), sizeKeyOf(6), QStringLiteral("1,2,x,4"));

  auto form = Start();
  ASSERT_EQ(FDialogs.Errors.size(), 3) << FDialogs.Errors.join('\n').toStdString();
  EXPECT_EQ(FDialogs.Errors[0], errorDisplayText(QStringLiteral("File does not exist: ") + missing));
  EXPECT_TRUE(FDialogs.Errors[1].contains(broken)) << FDialogs.Errors[1].toStdString();
  EXPECT_EQ(FDialogs.Errors[2], QStringLiteral("'x' is not a valid floating point value."));

  // Every group has its frame; the failed ones start without picture.
  ASSERT_EQ(form->FramesOfSet().size(), SizeGroupCount);
  for (int g = 0; g < SizeGroupCount; ++g) {
    SCOPED_TRACE(g);
    ASSERT_NE(form->FindRatioFrame(g), nullptr);
    EXPECT_EQ(form->FindRatioFrame(g)->Picture().IsEmpty(), g == 0 || g == 3 || g == 6);
  }
  // A failed frame shows the stored name that it could not take, with the reason, and holds none.
  const QString stored6 = readSetting(QStringLiteral("images"), sizeKeyOf(6));
  const struct {
    int group;
    QString shown;
    QString reason;
  } failed[] = {
      {0, missing, QStringLiteral("File does not exist: ") + missing},
      {3, broken,
       QStringLiteral("Loading bitmap failed (%1). The file is not a picture of a format that can be read (PNG, JPEG, "
                      "GIF, BMP, TIFF, ICO or WebP).")
           .arg(broken)},
      {6, stored6, QStringLiteral("'x' is not a valid floating point value")},
  };
  for (const auto& f : failed) {
    const TRatioFrame* frame = form->FindRatioFrame(f.group);
    EXPECT_EQ(frame->ceFilename->currentText(), f.shown) << f.group;
    EXPECT_EQ(frame->ceFilename->toolTip(), f.reason) << f.group;
    EXPECT_EQ(frame->Filename(), QString()) << f.group;
  }
  EXPECT_EQ(form->FindRatioFrame(1)->ceFilename->toolTip(), TRatioFrame::FilenameToolTip);
  EXPECT_EQ(form->ceBaseName->currentText(), QStringLiteral("C:\\out\\MyApp.png"));
  // The entries that caused the failures are left as they were.
  EXPECT_EQ(readSetting(QStringLiteral("images"), sizeKeyOf(0)), missing);
  EXPECT_EQ(readSetting(QStringLiteral("images"), sizeKeyOf(3)), broken);
  EXPECT_EQ(readSetting(QStringLiteral("selections"), sizeKeyOf(6)), QStringLiteral("1,2,x,4"));

  // The user repairs a group by choosing again; validation then names only the remaining gaps.
  form->FindRatioFrame(0)->SetFilename(testDataDir() + QStringLiteral("/formats/sample.png"));
  EXPECT_EQ(form->FindRatioFrame(0)->ceFilename->toolTip(), TRatioFrame::FilenameToolTip) << "the reason is gone";
  EXPECT_FALSE(form->Validate());
  const QStringList log = LogOf(*form);
  EXPECT_EQ(log[1 + 0 * 3 + 1], QStringLiteral("      Bitmap Ok"));
  EXPECT_EQ(log[1 + 3 * 3 + 1], QStringLiteral("      INVALID Bitmap (Empty)"));
}

TEST_F(MainWindowTest, AnUnwritableSettingsFileIsReportedOnceAndEveryFrameExists) {
  // A settings file in a folder that does not exist can be read (it is missing) but not written.
  setSettingsFilePathOverride(TempPath(QStringLiteral("missing-folder/Vellumark.ini")));
  auto form = Start();
  ASSERT_EQ(FDialogs.Errors.size(), 1) << FDialogs.Errors.join('\n').toStdString();
  EXPECT_TRUE(FDialogs.Errors[0].startsWith(QStringLiteral("Cannot create file \""))) << FDialogs.Errors[0].toStdString();
  EXPECT_EQ(form->FramesOfSet().size(), SizeGroupCount);
  for (int g = 0; g < SizeGroupCount; ++g)
    EXPECT_NE(form->FindRatioFrame(g), nullptr);

  // A change of the base name that cannot be stored is reported; the text stays.
  form->ceBaseName->setEditText(QStringLiteral("C:\\out\\MyApp.png"));
  EXPECT_EQ(FDialogs.Errors.size(), 2);
  EXPECT_EQ(form->ceBaseName->currentText(), QStringLiteral("C:\\out\\MyApp.png"));
}

// Pictures are chosen in several ways and never dragged over (or dragged, then select-all); a
// second window built on the same settings file, while the first is still open, shows every frame
// as the first one does.
TEST_F(MainWindowTest, ASecondStartShowsEverySelectionAsTheFirstShowedIt) {
  auto picture = [this](const QString& name, int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::white);
    const QString path = TempPath(name);
    EXPECT_TRUE(image.save(path, "PNG"));
    return path;
  };
  const QString wide = picture(QStringLiteral("wide.png"), 1600, 1200);
  const QString tall = picture(QStringLiteral("tall.png"), 300, 900);
  auto first = Start();
  ASSERT_TRUE(FDialogs.Errors.isEmpty());

  // Browse.
  FDialogs.FileAnswers.enqueue(wide);
  first->FindRatioFrame(0)->Button1->click();
  // Typed and committed with Enter.
  TRatioFrame* typed = first->FindRatioFrame(1);
  typed->ceFilename->setEditText(tall);
  QTest::keyClick(typed->ceFilename->lineEdit(), Qt::Key_Return);
  // Picked from the history with the keyboard.
  TRatioFrame* picked = first->FindRatioFrame(2);
  ASSERT_EQ(picked->ceFilename->count(), 2);
  QTest::keyClick(picked->ceFilename, Qt::Key_Down);
  // Dragged, then select-all.
  TRatioFrame* reset = first->FindRatioFrame(3);
  reset->SetFilename(wide);
  QTest::mousePress(reset->pbPreview, Qt::LeftButton, {}, QPoint(100, 60));
  QTest::mouseRelease(reset->pbPreview, Qt::LeftButton, {}, QPoint(110, 70));
  QTest::mouseClick(reset->sbSelectAll, Qt::LeftButton);
  // Dragged only.
  TRatioFrame* dragged = first->FindRatioFrame(4);
  dragged->SetFilename(tall);
  QTest::mousePress(dragged->pbPreview, Qt::LeftButton, {}, QPoint(60, 20));
  QTest::mouseRelease(dragged->pbPreview, Qt::LeftButton, {}, QPoint(70, 60));
  ASSERT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('\n').toStdString();

  EXPECT_EQ(first->FindRatioFrame(0)->Filename(), wide);
  EXPECT_EQ(typed->Filename(), tall);
  EXPECT_FALSE(picked->Filename().isEmpty());
  for (int g = 0; g <= 3; ++g) {
    const TRatioFrame* frame = first->FindRatioFrame(g);
    EXPECT_EQ(frame->SelectRect(), frame->Group().DefaultSelection()) << g;
  }
  EXPECT_FALSE(dragged->SelectRect().IsEmpty());

  auto second = Start();
  ASSERT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('\n').toStdString();
  for (int g = 0; g < SizeGroupCount; ++g) {
    SCOPED_TRACE(g);
    const TRatioFrame* before = first->FindRatioFrame(g);
    const TRatioFrame* after = second->FindRatioFrame(g);
    EXPECT_EQ(after->Filename(), before->Filename());
    EXPECT_EQ(after->SelectRect(), before->SelectRect());
  }
  second->Validate();
  const QStringList log = LogOf(*second);
  for (int g = 0; g <= 4; ++g)
    EXPECT_EQ(log[1 + 3 * g + 2], QStringLiteral("      Selection rectangle Ok")) << g;
}

TEST_F(MainWindowTest, DevicesAndOptsetAreRememberedWhenTheUserChangesThem) {
  const auto stored = [](const char* key) { return readSetting(QStringLiteral("settings"), QString::fromLatin1(key)); };
  {
    auto form = Start();
    for (const char* key : {"android", "iphone", "ipad", "optset"})
      EXPECT_EQ(stored(key), QString()) << key << ": nothing is written at start-up";
    // The user unticks iPad with the keyboard and "Generate .optset file(s)" with the mouse.
    form->ListBox1->setCurrentItem(form->lbiiPad);
    QTest::keyClick(form->ListBox1->viewport(), Qt::Key_Space);
    ASSERT_FALSE(TfrmVellumark::IsChecked(form->lbiiPad));
    QTest::mouseClick(form->cbOptset, Qt::LeftButton, {}, QPoint(8, form->cbOptset->height() / 2));
    ASSERT_FALSE(form->cbOptset->isChecked());
    EXPECT_EQ(stored("ipad"), QStringLiteral("0"));
    EXPECT_EQ(stored("optset"), QStringLiteral("0"));
    EXPECT_EQ(stored("android"), QString()) << "only what changed is written";
    // Ticked again, then unticked: each change is written.
    QTest::keyClick(form->ListBox1->viewport(), Qt::Key_Space);
    EXPECT_EQ(stored("ipad"), QStringLiteral("1"));
    form->lbiAndroid->setCheckState(Qt::Unchecked);
    EXPECT_EQ(stored("android"), QStringLiteral("0"));
  }
  auto form = Start();
  EXPECT_FALSE(TfrmVellumark::IsChecked(form->lbiAndroid));
  EXPECT_TRUE(TfrmVellumark::IsChecked(form->lbiiPhone)) << "a missing key means checked";
  EXPECT_TRUE(TfrmVellumark::IsChecked(form->lbiiPad));
  EXPECT_FALSE(form->cbOptset->isChecked());
  EXPECT_TRUE(FDialogs.Errors.isEmpty());
  // Restoring them wrote nothing.
  EXPECT_EQ(stored("iphone"), QString());
  EXPECT_EQ(stored("android"), QStringLiteral("0"));
  // A stored base name is untouched by all this.
  EXPECT_EQ(stored("base_filename"), QString());
}

// A settings file written where the decimal separator is "." keeps every selection where it is ",".
TEST_F(MainWindowTest, APointFileKeepsItsSelectionsUnderAGermanLocale) {
  QImage image(1600, 1200, QImage::Format_ARGB32);
  image.fill(Qt::white);
  const QString path = TempPath(QStringLiteral("logo.png"));
  ASSERT_TRUE(image.save(path, "PNG"));
  writeSetting(QStringLiteral("images"), sizeKeyOf(6), path);
  writeSetting(QStringLiteral("selections"), sizeKeyOf(6), QStringLiteral("29.1015625,10,162.5,110"));
  setDecimalSeparatorOverride(u',');  // as under de_DE
  auto form = Start();
  setDecimalSeparatorOverride(QChar());
  EXPECT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('\n').toStdString();
  EXPECT_EQ(form->FindRatioFrame(6)->Filename(), path);
  EXPECT_EQ(form->FindRatioFrame(6)->SelectRect(), (TRectF{29.1015625f, 10, 162.5f, 110}));
  EXPECT_EQ(form->FindRatioFrame(6)->Caption(), QStringLiteral("1,333984375:1"));
}

TEST_F(MainWindowTest, AtItsMinimumSizeNothingIsCutOffAndTheGraphicsTabScrollsSideways) {
  auto form = Start();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const QSize minimum = form->minimumSize();
  EXPECT_LT(minimum.width(), 663);
  EXPECT_LT(minimum.height(), 609);
  EXPECT_GT(minimum.width(), 144 + 401);
  EXPECT_GT(minimum.height(), 264 + 19);

  // At the design size the frames fit: no sideways scrolling.
  form->TabControl1->setCurrentWidget(form->tiGraphics);
  QCoreApplication::processEvents();
  EXPECT_FALSE(form->VertScrollBox1->horizontalScrollBar()->isVisible());

  form->resize(1, 1);
  QCoreApplication::processEvents();
  EXPECT_EQ(form->size(), minimum);
  form->TabControl1->setCurrentWidget(form->tiSetup);
  QCoreApplication::processEvents();
  for (const QWidget* control : form->tiSetup->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_TRUE(form->tiSetup->rect().contains(control->geometry())) << control->objectName().toStdString();
    EXPECT_GE(control->width(), 80) << control->objectName().toStdString();
  }
  EXPECT_TRUE(form->rect().contains(form->Button2->geometry()));
  EXPECT_GE(form->Button2->y(), form->TabControl1->geometry().bottom());

  // The frames keep the width their controls need, and the Graphics tab scrolls sideways.
  form->TabControl1->setCurrentWidget(form->tiGraphics);
  QCoreApplication::processEvents();
  QScrollBar* sideways = form->VertScrollBox1->horizontalScrollBar();
  EXPECT_TRUE(sideways->isVisible());
  EXPECT_GT(sideways->maximum(), 0);
  for (const TRatioFrame* frame : form->FramesOfSet()) {
    SCOPED_TRACE(frame->Caption().toStdString());
    EXPECT_GE(frame->width(), frame->minimumWidth());
    EXPECT_LT(frame->Label2->geometry().right(), frame->imPreview->geometry().left());
    EXPECT_LE(frame->imPreview->geometry().right(), frame->width());
  }
  const int contentWidth = form->VertScrollBox1->widget()->width();
  EXPECT_EQ(sideways->maximum(), contentWidth - form->VertScrollBox1->viewport()->width());
}

}  // namespace

TEST_F(MainWindowTest, OptInBoxesAreOffByDefaultStoredWhenToggledAndRestored) {
  {
    auto form = Start();
    EXPECT_EQ(form->cbSmooth->text(), QStringLiteral("Smooth downscaling (sharper small images)"));
    EXPECT_EQ(form->cbAppStoreIcon->text(), QStringLiteral("Also write the 1024 x 1024 App Store icon"));
    EXPECT_FALSE(form->cbSmooth->isChecked());
    EXPECT_FALSE(form->cbAppStoreIcon->isChecked());
    // Starting writes neither key.
    QFile ini(SettingsPath());
    const QByteArray bytes = ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
    EXPECT_FALSE(bytes.contains("smooth_downscale"));
    EXPECT_FALSE(bytes.contains("appstore_icon"));

    form->cbSmooth->click();
    EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("smooth_downscale")), QStringLiteral("1"));
    form->cbAppStoreIcon->click();
    form->cbAppStoreIcon->click();
    EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("appstore_icon")), QStringLiteral("0"));
  }
  {
    auto form = Start();
    EXPECT_TRUE(form->cbSmooth->isChecked());
    EXPECT_FALSE(form->cbAppStoreIcon->isChecked());
  }
  // Only "1" checks a box.
  writeSetting(QStringLiteral("settings"), QStringLiteral("smooth_downscale"), QStringLiteral("yes"));
  writeSetting(QStringLiteral("settings"), QStringLiteral("appstore_icon"), QStringLiteral("1"));
  auto form = Start();
  EXPECT_FALSE(form->cbSmooth->isChecked());
  EXPECT_TRUE(form->cbAppStoreIcon->isChecked());
  EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("smooth_downscale")), QStringLiteral("yes"))
      << "restoring writes nothing";
  EXPECT_TRUE(FDialogs.Errors.isEmpty());
}

// "Store paths relative to the settings file": turning it on rewrites every stored path under the
// settings file's folder relative to it with "/" (a picture that could not be restored included),
// leaves the others full, and turning it off gives back the very bytes of before. The frames, the
// history and the run keep working with full paths either way.
TEST_F(MainWindowTest, RelativePathsBoxRewritesTheStoredPathsAtOnceAndBack) {
  const QString folder = FDir.path();
  ASSERT_TRUE(QDir().mkpath(TempPath(QStringLiteral("pics"))));
  const QString a = TempPath(QStringLiteral("pics/a.png")), b = TempPath(QStringLiteral("pics/b.gif"));
  const QString outside = testDataDir() + QStringLiteral("/formats/rgbrgb.png");
  const QString gone = TempPath(QStringLiteral("pics/gone.png"));
  ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/formats/sample.png"), a));
  ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/formats/palette.gif"), b));
  const auto pictureOf = [&](int g) { return g == 5 ? gone : g % 3 == 0 ? a : g % 3 == 1 ? outside : b; };
  for (int g = 0; g < SizeGroupCount; ++g)
    writeSetting(QStringLiteral("images"), sizeKeyOf(g), pictureOf(g));
  writeSetting(QStringLiteral("settings"), QStringLiteral("base_filename"), TempPath(QStringLiteral("out/MyApp.png")));
  writeSetting(QStringLiteral("settings"), QStringLiteral("relative_paths"), QStringLiteral("0"));

  QByteArray before;
  {
    auto form = Start();
    EXPECT_EQ(FDialogs.Errors, QStringList{QStringLiteral("File does not exist: ") + gone + QStringLiteral(".")});
    EXPECT_EQ(form->cbRelativePaths->text(), QStringLiteral("Store paths relative to the settings file"));
    EXPECT_FALSE(form->cbRelativePaths->isChecked());
    before = readSettingsBytes();
    ASSERT_TRUE(before.contains("relative_paths=0"));

    form->cbRelativePaths->click();
    QByteArray on = before;
    on.replace("relative_paths=0", "relative_paths=1").replace("=" + folder.toUtf8() + "/", "=");
    EXPECT_EQ(readSettingsBytes(), on);
    EXPECT_TRUE(on.contains("=pics/gone.png\r\n") && on.contains("base_filename=out/MyApp.png\r\n") &&
                on.contains("=" + outside.toUtf8() + "\r\n"));
    EXPECT_EQ(form->FindRatioFrame(0)->Filename(), a);  // the frames keep their full names

    form->cbRelativePaths->click();
    EXPECT_EQ(readSettingsBytes(), before);
    form->cbRelativePaths->click();
  }

  // A start with the box on: full names in the frames, nothing rewritten; the entry of the missing
  // picture still names it.
  FDialogs.Errors.clear();
  const QByteArray relative = readSettingsBytes();
  auto form = Start();
  EXPECT_EQ(FDialogs.Errors, QStringList{QStringLiteral("File does not exist: ") + gone + QStringLiteral(".")});
  FDialogs.Errors.clear();
  EXPECT_TRUE(form->cbRelativePaths->isChecked());
  EXPECT_EQ(readSettingsBytes(), relative);
  EXPECT_EQ(form->FindRatioFrame(0)->Filename(), a);
  EXPECT_EQ(form->FindRatioFrame(2)->Filename(), b);
  EXPECT_EQ(form->ceBaseName->currentText(), TempPath(QStringLiteral("out/MyApp.png")));

  // What is chosen or typed from now on is stored relative when it lies under the folder. A typed
  // relative name, with either separator, names a file beside the settings file, not in the current
  // folder.
  FDialogs.FileAnswers.enqueue(a);
  form->FindRatioFrame(1)->Button1->click();
  EXPECT_EQ(readSetting(QStringLiteral("images"), sizeKeyOf(1)), QStringLiteral("pics/a.png"));
  TRatioFrame* typed = form->FindRatioFrame(4);
  typed->ceFilename->setEditText(QStringLiteral("pics\\b.gif"));
  QTest::keyClick(typed->ceFilename->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(typed->Filename(), b);
  EXPECT_EQ(typed->ceFilename->currentText(), b);
  EXPECT_EQ(readSetting(QStringLiteral("images"), sizeKeyOf(4)), QStringLiteral("pics/b.gif"));
  EXPECT_EQ(itemsOf(form->FindRatioFrame(7)->ceFilename), (QStringList{a, b}));  // the history: full names
  form->ceBaseName->setEditText(QStringLiteral("icons\\App.png"));
  EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("base_filename")), QStringLiteral("icons/App.png"));
  EXPECT_EQ(form->OutputFolder(), TempPath(QStringLiteral("icons")));
  EXPECT_EQ(form->OutputPngPaths().first(), TempPath(QStringLiteral("icons/App180x180.png")));
  form->ceBaseName->setEditText(QStringLiteral("D:\\work\\App.png"));
  EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("base_filename")), QStringLiteral("D:\\work\\App.png"));
  EXPECT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('\n').toStdString();
}

// A stored base file name without a folder part is shown as stored and refused by the check, as a
// typed one is; a relative one with a folder part is shown beside the settings file and passes. A
// name beside the settings file chosen with relative paths on is read back as the same name.
TEST_F(MainWindowTest, AStoredBaseNameWithoutAFolderIsRefusedAsStored) {
  const struct {
    const char* what;
    QString stored;
    QString shown;
    QString finding;  // empty: the check passes
  } cases[] = {
      {"no folder part", QStringLiteral("MyApp.png"), QStringLiteral("MyApp.png"),
       QStringLiteral("   No directory found at specified path for base name: MyApp.png")},
      {"a relative folder part", QStringLiteral("icons/MyApp.png"), TempPath(QStringLiteral("icons/MyApp.png")), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StoreFullSetup(c.stored);
    FDialogs.Errors.clear();
    auto form = Start();
    ASSERT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('\n').toStdString();
    EXPECT_EQ(form->ceBaseName->currentText(), c.shown);
    OpenGenerateTab(*form);
    ExpectOutputsVerdict(*form, c.finding);
  }

  // Relative paths on: a name typed directly beside the settings file keeps a folder part when stored.
  StoreFullSetup(QString());
  writeSetting(QStringLiteral("settings"), QStringLiteral("relative_paths"), QStringLiteral("1"));
  FDialogs.Errors.clear();
  {
    auto form = Start();
    form->ceBaseName->setEditText(TempPath(QStringLiteral("MyApp.png")));
    EXPECT_EQ(readSetting(QStringLiteral("settings"), QStringLiteral("base_filename")), QStringLiteral("./MyApp.png"));
  }
  auto form = Start();
  EXPECT_EQ(form->ceBaseName->currentText(), TempPath(QStringLiteral("MyApp.png")));
  OpenGenerateTab(*form);
  EXPECT_TRUE(form->actGenerate->isEnabled()) << form->mmOutput->toPlainText().toStdString();
  EXPECT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('\n').toStdString();
}

// The window's own check of the outputs against the frames' pictures: a base name that puts an output
// file on a frame's picture is refused with the picture named, and Generate stays disabled.
TEST_F(MainWindowTest, ABaseNameWhoseOutputWouldOverwriteAFramesPictureIsRefused) {
  StoreFullSetup(QString());
  auto form = Start();
  ASSERT_TRUE(QDir().mkpath(TempPath(QStringLiteral("out"))));
  form->ceBaseName->setEditText(TempPath(QStringLiteral("out/MyApp.png")));
  OpenGenerateTab(*form);
  ASSERT_TRUE(form->actGenerate->isEnabled()) << form->mmOutput->toPlainText().toStdString();

  // The picture of the 2.16:1 frame now lies where one of its own outputs goes.
  TRatioFrame* frame = form->FindRatioFrame(1);
  const QString picture = form->OutputPngPaths().at(form->OutputPngPaths().size() / 2);
  ASSERT_TRUE(QFile::copy(frame->Filename(), picture));
  const QByteArray bytes = readFileBytes(picture);
  frame->SetFilename(picture);
  ASSERT_EQ(frame->Filename(), picture);

  FDialogs.Errors.clear();
  OpenGenerateTab(*form);
  const QStringList log = LogOf(*form);
  ASSERT_GE(log.size(), 41);
  EXPECT_EQ(log.mid(40), (QStringList{QStringLiteral("Validating Outputs..."),
                                      QStringLiteral("   INVALID Output would overwrite the source picture ") + picture}));
  EXPECT_EQ(FDialogs.Errors, QStringList{QStringLiteral("Errors were found in setup.  Please correct.")});
  EXPECT_FALSE(form->actGenerate->isEnabled());
  form->actGenerate->trigger();
  EXPECT_EQ(readFileBytes(picture), bytes);
  EXPECT_EQ(QDir(TempPath(QStringLiteral("out"))).entryList(QDir::Files), QStringList{QFileInfo(picture).fileName()});
}

// The launch screen's dark picture: taken from its field like a picture (a file that fails changes
// nothing and says why), stored under its own key, one undo step; it adds the dark files to the
// plan and takes them away again.
TEST_F(MainWindowTest, TheLaunchScreenFrameTakesADarkPictureAsOneUndoStep) {
  const QString light = TempPath("light.png");
  const QString dark = TempPath("dark.png");
  QImage picture(40, 40, QImage::Format_ARGB32);
  picture.fill(qRgb(200, 0, 0));
  ASSERT_TRUE(picture.save(light));
  picture.fill(qRgb(0, 0, 200));
  ASSERT_TRUE(picture.save(dark));
  writeSetting("settings", "file_set", "current");
  writeSetting("settings", "base_filename", TempPath("MyApp.png"));
  auto form = Start();
  TRatioFrame* launch = form->FindRatioFrame(LaunchScreenGroup);
  ASSERT_FALSE(launch->isHidden());
  ASSERT_NE(launch->edDark, nullptr);
  EXPECT_EQ(form->FindRatioFrame(0)->edDark, nullptr) << "only a group with a dark key has the row";
  launch->SetFilename(light);
  const auto darkFiles = [&form] { return form->OutputPngPaths().filter("LaunchDark").size(); };
  EXPECT_EQ(darkFiles(), 0);

  const QByteArray before = readSettingsBytes();
  ScriptedDialogs dialogs;
  launch->edDark->setText(TempPath("missing.png"));
  emit launch->edDark->editingFinished();
  ASSERT_EQ(dialogs.Errors.size(), 1);
  EXPECT_TRUE(dialogs.Errors[0].startsWith("File does not exist: " + TempPath("missing.png")))
      << dialogs.Errors[0].toStdString();
  EXPECT_EQ(launch->edDark->text(), QString());
  EXPECT_EQ(readSettingsBytes(), before);

  launch->edDark->setText(dark);
  emit launch->edDark->editingFinished();
  EXPECT_EQ(launch->DarkFilename(), dark);
  EXPECT_EQ(TSettingsFile::load(SettingsPath()).value("images", "launch_screen_dark"), dark);
  // 2x (iPhone and iPad) and 3x (iPhone).
  EXPECT_EQ(darkFiles(), 2) << form->OutputPngPaths().join('\n').toStdString();
  form->actUndo->trigger();
  EXPECT_EQ(launch->DarkFilename(), QString());
  EXPECT_EQ(launch->Filename(), light) << "undo takes back the dark picture alone";
  EXPECT_EQ(TSettingsFile::load(SettingsPath()).value("images", "launch_screen_dark"), QString());
  EXPECT_EQ(darkFiles(), 0);
  form->actRedo->trigger();
  EXPECT_EQ(launch->DarkFilename(), dark);
  EXPECT_EQ(darkFiles(), 2);
}

// Without a picture of its own the notification frame says whose it uses and warns of that
// picture; one of its own with transparent parts ends both.
TEST_F(MainWindowTest, TheNotificationFrameFollowsTheSquareFrameUntilItHasAPicture) {
  const QString opaque = TempPath("opaque.png");
  const QString cutOut = TempPath("cut-out.png");
  QImage picture(40, 40, QImage::Format_ARGB32);
  picture.fill(qRgb(0, 120, 0));
  ASSERT_TRUE(picture.save(opaque));
  picture.fill(qRgba(0, 0, 0, 0));
  for (int y = 10; y < 30; ++y)
    for (int x = 10; x < 30; ++x)
      picture.setPixel(x, y, qRgb(0, 120, 0));
  ASSERT_TRUE(picture.save(cutOut));
  writeSetting("settings", "file_set", "current");
  auto form = Start();
  TRatioFrame* notification = form->FindRatioFrame(NotificationGroup);
  ASSERT_FALSE(notification->isHidden());
  EXPECT_TRUE(notification->Label2->text().contains("1:1 frame's picture")) << notification->Label2->text().toStdString();
  EXPECT_TRUE(notification->lbPlainSquare->isHidden()) << "no picture anywhere: nothing to warn of";

  form->FindRatioFrame(0)->SetFilename(opaque);
  EXPECT_FALSE(notification->lbPlainSquare->isHidden()) << "the followed picture has no transparent pixel";
  EXPECT_EQ(notification->SourceGroup().Filename, opaque);
  EXPECT_FALSE(HasKey("images", "notification")) << "following writes nothing";

  notification->SetFilename(cutOut);
  EXPECT_TRUE(notification->lbPlainSquare->isHidden());
  EXPECT_TRUE(notification->Label2->text().startsWith("Select images")) << notification->Label2->text().toStdString();
  EXPECT_EQ(notification->SourceGroup().Filename, cutOut);
}

// Every control the user works has a tool tip; a frame's Tab order follows its layout (the name,
// Browse..., Preview..., Edit..., select-all, the preview), and the preview tells assistive
// technology the selection in picture pixels.
TEST_F(MainWindowTest, ControlsHaveToolTipsAndTheFocusFollowsTheLayout) {
  writeSetting("settings", "file_set", "current");
  auto form = Start();
  int controls = 0;
  for (const QWidget* w : form->findChildren<QWidget*>()) {
    const bool control = qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w) ||
                         qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
                         qobject_cast<const QListWidget*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
                         qobject_cast<const TPaintBox*>(w);
    // Qt's own parts of a control (a combo box's field, a spin box's) have no name of ours.
    if (!control || w->objectName().isEmpty() || w->objectName().startsWith("qt_") ||
        w->parentWidget()->objectName().startsWith("qt_"))
      continue;
    ++controls;
    EXPECT_FALSE(w->toolTip().isEmpty()) << w->objectName().toStdString() << " of "
                                         << w->parentWidget()->objectName().toStdString();
  }
  EXPECT_GT(controls, 20);
  for (int i = 0; i < form->TabControl1->count(); ++i)
    EXPECT_FALSE(form->TabControl1->tabToolTip(i).isEmpty()) << i;

  const TRatioFrame* launch = form->FindRatioFrame(LaunchScreenGroup);
  const auto nextFocus = [](QWidget* w) {
    do
      w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled());
    return w;
  };
  EXPECT_EQ(nextFocus(launch->ceFilename->lineEdit()), launch->Button1);
  QList<QWidget*> order{launch->Button1};
  for (int i = 0; i < 6; ++i)
    order << nextFocus(order.last());
  QStringList names;
  for (const QWidget* w : order)
    names << w->objectName();
  EXPECT_EQ(order, (QList<QWidget*>{launch->Button1, launch->btnPreview, launch->btnEdit,
                                    launch->edDark, launch->btnDarkBrowse, launch->sbSelectAll, launch->pbPreview}))
      << names.join(' ').toStdString();

  TRatioFrame* square = form->FindRatioFrame(0);
  EXPECT_TRUE(square->pbPreview->accessibleDescription().startsWith("No selection"));
  const QString picture = TempPath("wide.png");
  ASSERT_TRUE(QImage(400, 300, QImage::Format_RGB32).save(picture));
  square->SetFilename(picture);
  EXPECT_TRUE(square->pbPreview->accessibleDescription().startsWith("Selection: x 50, y 0, 300 x 300 pixels"))
      << square->pbPreview->accessibleDescription().toStdString();
}
