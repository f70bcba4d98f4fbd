// The generation run end to end, through the real window: real pictures, real temporary folders,
// the scripted dialog service answering the overwrite question.
#include "app/VellumarkMain.h"

#include "imaging/KeptPicture.h"
#include "imaging/RenderImage.h"
#include "frames/PreviewWindow.h"
#include "imaging/PngWriter.h"
#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "platform/Parallel.h"
#include "settings/Settings.h"
#include "support/PngRead.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace {

struct Devices {
  bool iPhone, iPad, android;
};

// Element name -> text of every leaf of "PropertyGroup", read with a real XML parser.
std::map<QString, QString> propertyGroupOf(const QString& path) {
  std::map<QString, QString> entries;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return entries;
  QXmlStreamReader xml(&f);
  bool inGroup = false;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement() && xml.name() == u"PropertyGroup")
      inGroup = true;
    else if (xml.isEndElement() && xml.name() == u"PropertyGroup")
      inGroup = false;
    else if (inGroup && xml.isStartElement())
      entries[xml.name().toString()] = xml.readElementText();
  }
  EXPECT_FALSE(xml.hasError()) << path.toStdString();
  return entries;
}

class GenerateRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    setSettingsFilePathOverride(FDir.filePath("Vellumark.ini"));
    Out = FDir.filePath("out");
    QDir().mkpath(Out);
    // A picture with an opaque body, a transparent border and texture in every channel.
    Picture = FDir.filePath("picture.png");
    QImage img(240, 160, QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const bool border = x < 8 || y < 8 || x >= 232 || y >= 152;
        img.setPixel(x, y, border ? qRgba(0, 0, 0, 0) : qRgba(x, y, (x * y) & 0xff, x < 120 ? 255 : 160));
      }
    ASSERT_TRUE(img.save(Picture));
    Form = std::make_unique<TfrmVellumark>(nullptr, Settings());
    for (TRatioFrame* frame : Form->FramesOfSet())
      frame->SetFilename(Picture);  // select-all: the largest region of the frame's ratio
    Form->ceBaseName->setCurrentText(Out + "/MyApp.png");
  }
  void TearDown() override {
    Form.reset();
    setSettingsFilePathOverride(QString());
  }

  void SetDevices(Devices d) {
    Form->lbiiPhone->setCheckState(d.iPhone ? Qt::Checked : Qt::Unchecked);
    Form->lbiiPad->setCheckState(d.iPad ? Qt::Checked : Qt::Unchecked);
    Form->lbiAndroid->setCheckState(d.android ? Qt::Checked : Qt::Unchecked);
  }

  // Opens the Generate tab (a clean check enables the action) and presses Generate.
  void Generate() {
    Form->TabControl1->setCurrentIndex(2);
    Form->TabControl1->setCurrentIndex(3);
    ASSERT_TRUE(Form->actGenerate->isEnabled()) << Form->mmOutput->toPlainText().toStdString();
    Form->actGenerate->trigger();
  }

  // The run's own lines: what follows the validation's "Ready to generate images".
  QStringList Log() const {
    const QStringList all = Form->mmOutput->toPlainText().split(u'\n');
    const qsizetype ready = all.indexOf("Ready to generate images");
    EXPECT_GE(ready, 0);
    return all.mid(ready + 1);
  }
  static std::string Text(const QStringList& lines) { return lines.join(u'\n').toStdString(); }
  QStringList Pngs() const { return QDir(Out).entryList({"*.png"}, QDir::Files, QDir::Name); }
  QString OutPath(const QString& name) const { return Out + "/" + name; }

  QTemporaryDir FDir;
  QString Out;
  QString Picture;
  ScriptedDialogs Dialogs;
  std::unique_ptr<TfrmVellumark> Form;
};

}  // namespace

TEST_F(GenerateRunTest, AllDevicesIntoAnEmptyFolder) {
  Generate();
  ASSERT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join('\n').toStdString();
  EXPECT_TRUE(Dialogs.Questions.isEmpty());

  // Every entry: the exact name and size, read back by an independent decoder.
  QStringList expectedLog{"Generating images..."};
  int files = 0;
  for (int g = 0; g < SizeGroupCount; ++g) {
    expectedLog << "   Generating " + Form->FindRatioFrame(g)->Caption() + " images...";
    for (const TSizeInfo& e : SizeGroups[g]) {
      const QString path = OutPath(QStringLiteral("MyApp%1x%2.png").arg(e.Width).arg(e.Height));
      expectedLog << "      " + path;
      const DecodedPng png = readPngFile(path);
      ASSERT_TRUE(png.ok) << path.toStdString();
      EXPECT_EQ(png.width, e.Width);
      EXPECT_EQ(png.height, e.Height);
      ++files;
    }
  }
  expectedLog << "Operation complete.";
  EXPECT_EQ(files, ClassicFileCount);
  EXPECT_EQ(Pngs().size(), ClassicFileCount);
  EXPECT_EQ(Text(Log()), Text(expectedLog));
  EXPECT_EQ(expectedLog[1], "   Generating 1:1 images...");

  const auto android = propertyGroupOf(OutPath("MyApp.android.optset"));
  const auto ios = propertyGroupOf(OutPath("MyApp.ios.optset"));
  EXPECT_EQ(android.size(), 9u);
  EXPECT_EQ(ios.size(), 51u);
  EXPECT_EQ(android.at("Android_SplashImage470"), OutPath("MyApp470x320.png"));
  EXPECT_EQ(ios.at("iPhone_Spotlight120"), OutPath("MyApp120x120.png"));
  EXPECT_EQ(ios.at("iPhone_AppIcon120"), OutPath("MyApp120x120.png"));
  EXPECT_EQ(ios.at("iPad_Launch2732x2048"), OutPath("MyApp2732x2048.png"));

  // Under the log's last line: the output folder, shown on request; gone when the tab is opened anew.
  ASSERT_FALSE(Form->btnOpenOutputFolder->isHidden());
  QList<QUrl> shown;
  Form->OpenUrl = [&shown](const QUrl& url) {
    shown << url;
    return true;
  };
  Form->btnOpenOutputFolder->click();
  EXPECT_EQ(shown, QList<QUrl>{QUrl::fromLocalFile(Out)});
  Form->TabControl1->setCurrentIndex(2);
  Form->TabControl1->setCurrentIndex(3);
  EXPECT_TRUE(Form->btnOpenOutputFolder->isHidden());
}

TEST_F(GenerateRunTest, PixelsFollowTheBilinearRuleFromTheFramesSelection) {
  SetDevices({false, false, true});
  // Group 3 (470 x 320) with a selection of its own inside the picture.
  TRatioFrame* frame = Form->FindRatioFrame(3);
  const TRectF ir = frame->ImageRect();
  frame->SetSelectRect({ir.Left + 10, ir.Top + 5, ir.Left + 10 + 47, ir.Top + 5 + 32});
  Generate();
  ASSERT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join('\n').toStdString();

  const TRectF z = frame->ZoomRect();
  const QImage src = frame->Picture().Whole().Image();
  const double L = float(src.width() * double(z.Left)), T = float(src.height() * double(z.Top));
  const double R = float(src.width() * double(z.Right)), B = float(src.height() * double(z.Bottom));
  const DecodedPng png = readPngFile(OutPath("MyApp470x320.png"));
  ASSERT_TRUE(png.ok);
  for (int j = 0; j < 320; j += 29)
    for (int i = 0; i < 470; i += 31) {
      const double x = L + (i + 0.5) * (R - L) / 470 - 0.5, y = T + (j + 0.5) * (B - T) / 320 - 0.5;
      const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
      const double fx = x - x0, fy = y - y0;
      auto px = [&](int xi, int yi) {
        return src.pixel(std::clamp(xi, 0, src.width() - 1), std::clamp(yi, 0, src.height() - 1));
      };
      double alpha = 0, red = 0;
      for (auto [dx, dy, w] : {std::tuple{0, 0, (1 - fx) * (1 - fy)}, std::tuple{1, 0, fx * (1 - fy)},
                               std::tuple{0, 1, (1 - fx) * fy}, std::tuple{1, 1, fx * fy}}) {
        alpha += qAlpha(px(x0 + dx, y0 + dy)) * w;
        red += qRed(px(x0 + dx, y0 + dy)) * w;  // premultiplied
      }
      const uint8_t* out = png.pixel(i, j);
      ASSERT_NEAR(out[3], alpha, 1.0) << i << "," << j;
      if (alpha > 64)
        ASSERT_NEAR(out[0], red * 255 / alpha, 4.0) << i << "," << j;
    }
}

TEST_F(GenerateRunTest, DeviceChoicesDecideFilesAndNames) {
  struct Case {
    const char* what;
    Devices devices;
    int pngs;
    bool androidFile, iosFile;
    const char* name120;  // the iOS property that names the 120 x 120 file, if any
  };
  const Case cases[] = {
      {"only Android", {false, false, true}, 9, true, false, nullptr},
      {"only iPad", {false, true, false}, 27, false, true, "iPhone_AppIcon120"},
      {"only iPhone", {true, false, false}, 24, false, true, "iPhone_Spotlight120"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QDir(Out).removeRecursively();
    QDir().mkpath(Out);
    SetDevices(c.devices);
    Generate();
    ASSERT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join('\n').toStdString();
    EXPECT_EQ(Pngs().size(), c.pngs);
    EXPECT_EQ(QFile::exists(OutPath("MyApp.android.optset")), c.androidFile);
    EXPECT_EQ(QFile::exists(OutPath("MyApp.ios.optset")), c.iosFile);
    EXPECT_EQ(Log().count(), 1 + SizeGroupCount + c.pngs + 1);  // every group heading, even with nothing to do
    if (c.iosFile) {
      const auto ios = propertyGroupOf(OutPath("MyApp.ios.optset"));
      EXPECT_EQ(int(ios.size()), c.pngs);
      EXPECT_EQ(ios.count("iPhone_Spotlight120") + ios.count("iPhone_AppIcon120"), 1u);
      EXPECT_EQ(ios.at(c.name120), OutPath("MyApp120x120.png"));
    }
  }
}

TEST_F(GenerateRunTest, WithoutOptionSetsNoOptionSetFileIsTouched) {
  const QString existing = OutPath("MyApp.android.optset");
  writeFileBytes(existing, "keep me");
  SetDevices({false, false, true});
  Form->cbOptset->setChecked(false);
  Generate();
  EXPECT_EQ(Pngs().size(), 9);
  EXPECT_EQ(readFileBytes(existing), "keep me");
  EXPECT_FALSE(QFile::exists(OutPath("MyApp.ios.optset")));
  EXPECT_EQ(Log().last(), "Operation complete.");
}

TEST_F(GenerateRunTest, SecondRunAnswers) {
  SetDevices({false, false, true});  // nine files keep the runs short
  Generate();
  const QByteArray firstAndroid = readFileBytes(OutPath("MyApp.android.optset"));
  ASSERT_FALSE(firstAndroid.isEmpty());
  const QString first = OutPath("MyApp144x144.png");

  // Yes to All: one question, every file written again.
  QFile::remove(OutPath("MyApp96x96.png"));
  writeFileBytes(first, "stale");
  Dialogs.Answers << mrYesToAll;
  Generate();
  ASSERT_EQ(Dialogs.Questions.size(), 1);
  const auto& q = Dialogs.Questions.front();
  EXPECT_EQ(q.Text, first + " exists.  Overwrite?");
  EXPECT_EQ(q.Kind, TMsgDlgType::mtWarning);
  EXPECT_EQ(q.Buttons, TMsgDlgButtons(mbYes | mbYesToAll | mbNo | mbNoToAll | mbCancel));
  EXPECT_EQ(q.HelpContext, 0);
  EXPECT_TRUE(readPngFile(first).ok);
  EXPECT_EQ(Log().filter("exists.  Skipping.").size(), 0);
  EXPECT_EQ(Log().last(), "Operation complete.");

  // Every file is replaced by a marker of its own, so that any write over it shows.
  QMap<QString, QByteArray> markers;
  const auto markAll = [&] {
    for (const QString& name : Pngs()) {
      markers[name] = "marker of " + name.toUtf8();
      writeFileBytes(OutPath(name), markers[name]);
    }
    ASSERT_EQ(markers.size(), 9);
  };

  // No, then Yes, then No to All: three questions (144, 72, 96), then the rest skipped without
  // asking. Only the file answered with Yes is written; every skipped file keeps its bytes.
  markAll();
  Dialogs.Questions.clear();
  Dialogs.Answers << mrNo << mrYes << mrNoToAll;
  Generate();
  EXPECT_EQ(Dialogs.Questions.size(), 3);
  const QStringList skipped = Log().filter("exists.  Skipping.");
  EXPECT_EQ(skipped.size(), 8);
  EXPECT_EQ(skipped.front(), "      " + first + " exists.  Skipping.");
  for (const QString& name : markers.keys()) {
    SCOPED_TRACE(name.toStdString());
    if (name == "MyApp72x72.png")
      EXPECT_TRUE(readPngFile(OutPath(name)).ok);
    else
      EXPECT_EQ(readFileBytes(OutPath(name)), markers[name]);
  }
  EXPECT_EQ(propertyGroupOf(OutPath("MyApp.android.optset")).size(), 9u);  // skipped files still named
  EXPECT_EQ(Log().last(), "Operation complete.");

  // Cancel at the first file: the run ends at once. Neither that file nor any other is written, and
  // the option-set file of the earlier run is untouched.
  markAll();
  const QByteArray before = "<earlier run>";
  writeFileBytes(OutPath("MyApp.android.optset"), before);
  Dialogs.Questions.clear();
  Dialogs.Answers << mrCancel;
  Generate();
  EXPECT_EQ(Dialogs.Questions.size(), 1);
  for (const QString& name : markers.keys())
    EXPECT_EQ(readFileBytes(OutPath(name)), markers[name]) << name.toStdString();
  EXPECT_EQ(readFileBytes(OutPath("MyApp.android.optset")), before);
  EXPECT_EQ(Text(Log()), Text({"Generating images...", "   Generating 1:1 images..."}));
}

TEST_F(GenerateRunTest, AMissingFolderEndsTheRunWithTheMessage) {
  const QString missing = FDir.filePath("no/such/folder");
  Form->ceBaseName->setCurrentText(missing + "/MyApp.png");
  Generate();
  ASSERT_EQ(Dialogs.Errors.size(), 1);
  EXPECT_TRUE(Dialogs.Errors.front().startsWith(
      QStringLiteral("Cannot create file \"%1/MyApp180x180.png\". ").arg(missing)))
      << Dialogs.Errors.front().toStdString();
  EXPECT_TRUE(Dialogs.Errors.front().endsWith('.'));
  EXPECT_EQ(Log().last(), "      " + missing + "/MyApp180x180.png");
  EXPECT_FALSE(QDir(missing).exists());
}

TEST_F(GenerateRunTest, AFolderNamedLikeAnOutputFileIsNoFileToAskAbout) {
  SetDevices({false, false, true});
  const QString folder = OutPath("MyApp144x144.png");  // the first file of an Android run
  ASSERT_TRUE(QDir().mkdir(folder));
  Generate();
  EXPECT_TRUE(Dialogs.Questions.isEmpty());
  ASSERT_EQ(Dialogs.Errors.size(), 1);
  const QString prefix = QStringLiteral("Cannot create file \"%1\". ").arg(folder);
  EXPECT_TRUE(Dialogs.Errors.front().startsWith(prefix)) << Dialogs.Errors.front().toStdString();
  EXPECT_GT(Dialogs.Errors.front().size(), prefix.size() + 1) << "the system's reason follows";
  EXPECT_EQ(Log().last(), "      " + folder);
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_TRUE(Pngs().isEmpty());  // the run ended there
}

TEST_F(GenerateRunTest, PercentSignsInTheBaseNameStayAsTyped) {
  // A "%" followed by a digit is an ordinary part of a Windows file name.
  SetDevices({false, false, true});
  Form->ceBaseName->setCurrentText(Out + "/50%1 off%2.png");
  Generate();
  ASSERT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join('\n').toStdString();
  QStringList expected;
  for (const TSizeInfo& e : SizeGroups[0])
    if (!e.AndroidName.isEmpty())
      expected << QStringLiteral("50%1 off%2") + QString::number(e.Width) + "x" + QString::number(e.Height) + ".png";
  for (const char* splash : {"470x320", "640x480", "960x720", "426x320"})
    expected << QStringLiteral("50%1 off%2") + splash + ".png";
  expected.sort();
  EXPECT_EQ(Text(Pngs()), Text(expected));
  EXPECT_EQ(propertyGroupOf(OutPath("50%1 off%2.android.optset")).at("Android_LauncherIcon144").toStdString(),
            OutPath("50%1 off%2144x144.png").toStdString());
}

TEST_F(GenerateRunTest, ARunShowsItsProgressAndLocksTheWindowUntilItEnds) {
  SetDevices({false, false, true});
  struct Seen {
    int value, maximum;
    bool otherTabsEnabled, generateTabEnabled, buttonEnabled, anyFrameEnabled, logReadOnly, busy, timerRan, closed;
  };
  QList<Seen> seen;
  bool timerRan = false;
  QObject::connect(Form->pbGenerate, &QProgressBar::valueChanged, Form.get(), [&] {
    bool otherTabs = false;
    for (int i = 0; i < 3; ++i)
      otherTabs = otherTabs || Form->TabControl1->isTabEnabled(i);
    bool anyFrame = false;
    for (TRatioFrame* frame : Form->FramesOfSet())
      anyFrame = anyFrame || frame->isEnabled();
    const QCursor* cursor = QApplication::overrideCursor();
    seen.append({Form->pbGenerate->value(), Form->pbGenerate->maximum(), otherTabs,
                 Form->TabControl1->isTabEnabled(3), Form->Button2->isEnabled(), anyFrame,
                 Form->mmOutput->isReadOnly(), cursor && cursor->shape() == Qt::WaitCursor, timerRan,
                 seen.isEmpty() && Form->close()});
  });
  // Runs only when the run lets events through.
  QTimer::singleShot(0, Form.get(), [&] { timerRan = true; });
  Generate();
  ASSERT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join('\n').toStdString();

  ASSERT_FALSE(seen.isEmpty());
  EXPECT_EQ(Form->pbGenerate->maximum(), 9);
  EXPECT_EQ(Form->pbGenerate->value(), 9);
  EXPECT_TRUE(Form->pbGenerate->isVisibleTo(Form->tiGenerate));
  for (qsizetype i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    const Seen& s = seen[i];
    EXPECT_EQ(s.maximum, 9);
    EXPECT_EQ(s.value, int(i) + 1);  // one step per entry, up to 9 of 9
    EXPECT_FALSE(s.otherTabsEnabled);
    EXPECT_TRUE(s.generateTabEnabled);
    EXPECT_FALSE(s.buttonEnabled);
    EXPECT_FALSE(s.anyFrameEnabled);
    EXPECT_TRUE(s.logReadOnly);
    EXPECT_TRUE(s.busy);
    EXPECT_FALSE(s.closed);
  }
  EXPECT_TRUE(seen.last().timerRan);  // the window repainted between files

  // Afterwards everything is back: the action stays enabled as after any run on this tab.
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(Form->TabControl1->isTabEnabled(i)) << i;
  EXPECT_TRUE(Form->Button2->isEnabled());
  EXPECT_TRUE(Form->FindRatioFrame(0)->isEnabled());
  EXPECT_FALSE(Form->mmOutput->isReadOnly());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Log().last(), "Operation complete.");

  // Opening the Generate tab again starts with a fresh log and no bar.
  Form->TabControl1->setCurrentIndex(2);
  Form->TabControl1->setCurrentIndex(3);
  EXPECT_FALSE(Form->pbGenerate->isVisibleTo(Form->tiGenerate));
}

TEST_F(GenerateRunTest, AppStoreIconAfterTheSquareGroupAskedAndLoggedLikeAnyFile) {
  const QString icon = OutPath("MyApp1024x1024.png");
  Form->cbAppStoreIcon->setChecked(true);
  SetDevices({true, false, false});
  Generate();
  ASSERT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join('\n').toStdString();
  // Logged after the 1:1 group's last file, before the next group's heading.
  const QStringList log = Log();
  const qsizetype at = log.indexOf("      " + icon);
  ASSERT_GT(at, 0) << Text(log);
  EXPECT_EQ(log[at - 1], "      " + OutPath("MyApp87x87.png"));
  EXPECT_TRUE(log[at + 1].startsWith("   Generating 2.16")) << log[at + 1].toStdString();
  // From the 1:1 frame's selection, as every output is rendered, laid over white: the App Store
  // refuses transparency.
  TRatioFrame* square = Form->FindRatioFrame(0);
  EXPECT_EQ(readFileBytes(icon), encodePng(renderImage(square->Picture().Whole(), 1024, 1024, square->ZoomRect(), false,
                                                       {TRenderLook::Opaque, qRgb(255, 255, 255)})
                                               .Image()));
  // Not named in the option set: no property holds its path.
  for (const auto& [name, path] : propertyGroupOf(OutPath("MyApp.ios.optset")))
    EXPECT_NE(path, icon) << name.toStdString();

  // An existing icon is asked about like any other file, after the 1:1 group's last file (every
  // answer No: nothing is rendered again).
  writeFileBytes(icon, "old icon");
  for (int i = 0; i < 100; ++i)
    Dialogs.Answers << mrNo;
  Generate();
  Dialogs.Answers.clear();
  QStringList questions;
  for (const auto& q : Dialogs.Questions)
    questions << q.Text;
  const qsizetype asked = questions.indexOf(icon + " exists.  Overwrite?");
  ASSERT_GT(asked, 0);
  EXPECT_EQ(questions[asked - 1], OutPath("MyApp87x87.png") + " exists.  Overwrite?");
  EXPECT_TRUE(Log().contains("      " + icon + " exists.  Skipping."));
  EXPECT_EQ(readFileBytes(icon), "old icon");
  EXPECT_EQ(Log().last(), "Operation complete.");

  // Android alone, or the box unchecked: no App Store icon (existing files skipped: No to All).
  QFile::remove(icon);
  SetDevices({false, false, true});
  Dialogs.Answers << mrNoToAll;
  Generate();
  EXPECT_FALSE(QFile::exists(icon));
  Form->cbAppStoreIcon->setChecked(false);
  SetDevices({true, true, false});
  Dialogs.Answers << mrNoToAll;
  Generate();
  EXPECT_FALSE(QFile::exists(icon));
  EXPECT_FALSE(Log().join('\n').contains("1024x1024")) << Text(Log());
}

// A picture smaller than the preview is shown at its own size, where the selection is measured:
// every source pixel seen inside the outline is the pixel the written file holds at that place.
TEST_F(GenerateRunTest, ASmallPictureShowsUnderTheOutlineWhatTheFileIsMadeFrom) {
  // 40 x 40 in blocks of 5 x 5, colours that differ from block to block.
  QImage small(40, 40, QImage::Format_ARGB32);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      small.setPixel(x, y, qRgb(40 + 25 * (x / 5), 40 + 25 * (y / 5), ((x / 5 + y / 5) & 1) ? 230 : 20));
  const QString path = FDir.filePath("small.png");
  ASSERT_TRUE(small.save(path));
  TRatioFrame* tall = nullptr;
  for (TRatioFrame* frame : Form->FramesOfSet())
    if (frame->RatioWidth() == 1242 && frame->RatioHeight() == 2208)
      tall = frame;
  ASSERT_NE(tall, nullptr);
  tall->SetFilename(path);
  ASSERT_EQ(tall->ImageRect(), (TRectF{14, 41, 54, 81}));
  const TRectF sel = tall->SelectRect();
  // Select-all: 22.5 x 40 pixels of the 40 x 40 picture, centred.
  ASSERT_EQ(sel, (TRectF{22.75f, 41, 45.25f, 81}));
  SetDevices({true, false, false});
  Generate();
  const DecodedPng file = readPngFile(OutPath("MyApp640x1136.png"));
  ASSERT_TRUE(file.ok);

  const QImage shown = tall->imPreview->grab().toImage();
  int compared = 0;
  // The middle of every block under the outline: preview pixel (px, py) against the file's pixel
  // at the same place within the selection.
  for (int py = 41 + 2; py < 81; py += 5)
    for (int px = 14 + 2 + 10; px < 45; px += 5) {
      const int fx = int((px + 0.5 - sel.Left) / sel.Width() * file.width);
      const int fy = int((py + 0.5 - sel.Top) / sel.Height() * file.height);
      const uint8_t* w = file.pixel(fx, fy);
      EXPECT_EQ(QColor(shown.pixel(px, py)), QColor(w[0], w[1], w[2])) << px << "," << py;
      ++compared;
    }
  EXPECT_EQ(compared, 4 * 8);
}

TEST_F(GenerateRunTest, PreviewShowsWhatTheRunWritesAndWritesNothing) {
  Form->cbSmooth->setChecked(true);
  Form->cbAppStoreIcon->setChecked(true);
  SetDevices({true, false, true});  // iPhone and Android: the group's iPad-only entries are left out

  struct Group {
    int index;
    std::unique_ptr<TPreviewWindow> window;
  };
  std::vector<Group> groups;
  for (int g : {0, 6})
    groups.push_back({g, std::unique_ptr<TPreviewWindow>(Form->PreviewFrame(Form->FindRatioFrame(g)))});
  EXPECT_TRUE(Pngs().isEmpty()) << "the preview writes nothing";
  Generate();
  ASSERT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join('\n').toStdString();
  const QStringList log = Log();

  for (const Group& group : groups) {
    TRatioFrame* frame = Form->FindRatioFrame(group.index);
    SCOPED_TRACE(frame->Caption().toStdString());
    EXPECT_EQ(group.window->windowTitle(), "Preview: " + frame->Caption());
    EXPECT_TRUE(group.window->isVisible());
    // The files the run wrote for this group, from its log section.
    const qsizetype heading = log.indexOf("   Generating " + frame->Caption() + " images...");
    ASSERT_GE(heading, 0);
    QStringList written;
    for (qsizetype i = heading + 1; i < log.size() && log[i].startsWith("      "); ++i)
      written << QFileInfo(log[i].trimmed()).fileName();
    QStringList shown;
    for (const TPreviewItem& item : group.window->Sheet()->Items()) {
      shown << item.FileName;
      EXPECT_EQ(item.Image.size(), QSize(item.Width, item.Height));
      EXPECT_EQ(readFileBytes(OutPath(item.FileName)), encodePng(item.Image)) << item.FileName.toStdString();
    }
    EXPECT_EQ(shown, written);
  }
  EXPECT_TRUE(groups[0].window->Sheet()->Items().constLast().FileName == "MyApp1024x1024.png");
  EXPECT_EQ(groups[1].window->Sheet()->Items().size(), 3) << "the Android splash images of the group";

  // The smooth setting reaches both: a reduced icon differs from the bilinear rule.
  TRatioFrame* square = Form->FindRatioFrame(0);
  EXPECT_NE(readFileBytes(OutPath("MyApp29x29.png")),
            encodePng(renderImage(square->Picture().Whole(), 29, 29, square->ZoomRect(), false).Image()));
  EXPECT_EQ(TPreviewWindow::SizeText(180, 180), "180 x 180");
}

// An error on a render thread (out of memory) ends the run like any other error: its message is
// shown, after the file it happened on is logged, and no file is written. A thread the system will
// not start means fewer threads, not a refused run: the files are those of a run on every core.
TEST_F(GenerateRunTest, ErrorsOnRenderThreadsAreShownLikeAnyOtherAndMissingThreadsOnlySlowTheRun) {
  Generate();
  QMap<QString, QByteArray> normal;
  for (const QString& name : Pngs())
    normal[name] = readFileBytes(OutPath(name));
  ASSERT_EQ(normal.size(), ClassicFileCount);
  const std::system_error noThread(std::make_error_code(std::errc::resource_unavailable_try_again));
  struct Case {
    const char* what;
    WorkerEvent when;
    int threadsStarted;  // before the failures begin
    std::function<void()> fail;
    QString shown;       // empty: the run completes
  };
  const Case cases[] = {
      {"out of memory on a worker", WorkerEvent::Task, 0, [] { throw std::bad_alloc(); }, "Out of memory."},
      {"no thread at all", WorkerEvent::ThreadStart, 0, [&] { throw noThread; }, {}},
      {"one thread only", WorkerEvent::ThreadStart, 1, [&] { throw noThread; }, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const QString& name : Pngs())
      QFile::remove(OutPath(name));
    Dialogs.Errors.clear();
    std::atomic<int> starts{0};
    setWorkerTestHook([&](WorkerEvent e) {
      if (e == c.when && (e != WorkerEvent::ThreadStart || starts++ >= c.threadsStarted))
        c.fail();
    });
    Generate();
    setWorkerTestHook({});
    if (!c.shown.isEmpty()) {
      EXPECT_EQ(Dialogs.Errors, QStringList{c.shown});
      EXPECT_EQ(Log().last(), "      " + OutPath("MyApp180x180.png"));
      EXPECT_TRUE(Pngs().isEmpty());
      continue;
    }
    EXPECT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join('\n').toStdString();
    EXPECT_EQ(Log().last(), "Operation complete.");
    ASSERT_EQ(Pngs().size(), ClassicFileCount);
    for (const QString& name : Pngs())
      EXPECT_TRUE(readFileBytes(OutPath(name)) == normal[name]) << name.toStdString();
  }
}

// A picture whose file changed after the frames loaded it is never made into files silently: the
// run stops before it writes anything (the changed picture is the last group's, so a check made
// group by group would have written the others), naming the file; the preview says the same and
// the selection editor does not open. Each way of changing a file is caught: another picture
// written in its place, another file with the same bytes and time renamed over it, the file
// removed.
TEST_F(GenerateRunTest, APictureChangedOnDiskStopsTheRunBeforeAnyFileIsWritten) {
  const auto setTime = [](const QString& path, const QDateTime& time) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
  };
  struct Case {
    const char* what;
    std::function<void(const QString&)> change;
  };
  const Case cases[] = {
      {"another picture written in its place",
       [](const QString& path) {
         QImage other(240, 160, QImage::Format_ARGB32);
         other.fill(qRgba(1, 2, 3, 255));
         ASSERT_TRUE(other.save(path));
       }},
      {"the same bytes with the same time renamed over it",
       [&](const QString& path) {
         const QString twin = path + ".twin.png";
         ASSERT_TRUE(QFile::copy(path, twin));
         setTime(twin, QFileInfo(path).lastModified());
         ASSERT_EQ(std::rename(QFile::encodeName(twin).constData(), QFile::encodeName(path).constData()), 0);
       }},
      {"removed", [](const QString& path) { ASSERT_TRUE(QFile::remove(path)); }},
  };
  const QList<TRatioFrame*> frames = Form->FramesOfSet();
  TRatioFrame* last = frames.last();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Dialogs.Errors.clear();
    const QString changed = FDir.filePath(QStringLiteral("last-%1.png").arg(&c - cases));
    ASSERT_TRUE(QFile::copy(Picture, changed));
    last->SetFilename(changed);
    c.change(changed);
    Generate();
    EXPECT_EQ(Text(Dialogs.Errors), errorDisplayText(pictureChangedMessage(changed)).toStdString());
    EXPECT_EQ(Text(Log()), "");
    EXPECT_EQ(Text(QDir(Out).entryList(QDir::Files)), "") << "no PNG, no option set";

    const std::unique_ptr<TPreviewWindow> preview(Form->PreviewFrame(last));
    EXPECT_TRUE(preview->Sheet()->Items().isEmpty());
    EXPECT_EQ(preview->Sheet()->Message(), pictureChangedMessage(changed));
    EXPECT_THROW(last->EditSelection(), EPictureChanged);
  }
}
