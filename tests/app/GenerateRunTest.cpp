// The generation run end to end, through the real window: real pictures, real temporary folders,
// the scripted dialog service answering the overwrite question.
#include "app/VellumarkMain.h"

#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "platform/Parallel.h"
#include "settings/Settings.h"
#include "support/PngRead.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <cmath>
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
    Form = std::make_unique<TfrmVellumark>();
    for (TRatioFrame* frame : Form->RatioFrames())
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
  EXPECT_EQ(files, 53);
  EXPECT_EQ(Pngs().size(), 53);
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
  const QImage& src = frame->Bitmap().Image();
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
    EXPECT_EQ(Log().count(), 1 + 13 + c.pngs + 1);  // every group heading, even with nothing to do
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

  // No, then Yes, then No to All: three questions, then the rest skipped without asking.
  Dialogs.Questions.clear();
  Dialogs.Answers << mrNo << mrYes << mrNoToAll;
  Generate();
  EXPECT_EQ(Dialogs.Questions.size(), 3);
  const QStringList skipped = Log().filter("exists.  Skipping.");
  EXPECT_EQ(skipped.size(), 8);
  EXPECT_EQ(skipped.front(), "      " + first + " exists.  Skipping.");
  EXPECT_EQ(propertyGroupOf(OutPath("MyApp.android.optset")).size(), 9u);  // skipped files still named
  EXPECT_EQ(Log().last(), "Operation complete.");

  // Cancel: the run ends at once, the option-set file of the earlier run is untouched (a marker
  // shows that nothing was saved over it).
  const QByteArray before = "<earlier run>";
  writeFileBytes(OutPath("MyApp.android.optset"), before);
  Dialogs.Questions.clear();
  Dialogs.Answers << mrCancel;
  Generate();
  EXPECT_EQ(Dialogs.Questions.size(), 1);
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

// An error on a render thread (out of memory, or no thread to be had) ends the run like any other
// error: its message is shown, after the file it happened on is logged, and no file is written.
TEST_F(GenerateRunTest, ErrorsOnRenderThreadsAreShownLikeAnyOther) {
  const std::system_error noThread(std::make_error_code(std::errc::resource_unavailable_try_again));
  struct Case {
    WorkerEvent when;
    std::function<void()> fail;
    QString shown;
  };
  const Case cases[] = {
      {WorkerEvent::Task, [] { throw std::bad_alloc(); }, "Out of memory."},
      {WorkerEvent::ThreadStart, [&] { throw noThread; }, QString::fromUtf8(noThread.what()) + "."},
  };
  for (const Case& c : cases) {
    Dialogs.Errors.clear();
    setWorkerTestHook([&](WorkerEvent e) {
      if (e == c.when)
        c.fail();
    });
    Generate();
    setWorkerTestHook({});
    EXPECT_EQ(Dialogs.Errors, QStringList{c.shown});
    EXPECT_EQ(Log().last(), "      " + OutPath("MyApp180x180.png"));
    EXPECT_TRUE(Pngs().isEmpty());
  }
  Dialogs.Errors.clear();
  Generate();  // the program goes on
  EXPECT_TRUE(Dialogs.Errors.isEmpty());
  EXPECT_EQ(Pngs().size(), 53);
}
