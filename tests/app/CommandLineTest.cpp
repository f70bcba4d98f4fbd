// The command line: its parsing as a table, and the real program started with --generate on
// prepared settings files, with no display and no platform chosen in its environment.
#include "app/CommandLine.h"

#include "app/VellumarkMain.h"
#include "catalogue/SizeInfo.h"
#include "settings/Settings.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

TEST(CommandLineParse, AcceptedForms) {
  struct Case {
    QStringList args;
    bool generate, help, version;
    QString settings;
    std::optional<TOverwritePolicy> overwrite;
  };
  const Case cases[] = {
      {{}, false, false, false, {}, {}},
      {{"--generate"}, true, false, false, {}, {}},
      {{"--generate", "--settings", "a b.ini", "--overwrite=all"}, true, false, false, "a b.ini", TOverwritePolicy::All},
      {{"--overwrite", "none", "--settings=x=y.ini", "--generate"}, true, false, false, "x=y.ini", TOverwritePolicy::None},
      {{"--generate", "--overwrite=ask"}, true, false, false, {}, TOverwritePolicy::Ask},
      {{"--generate", "--overwrite=fail"}, true, false, false, {}, TOverwritePolicy::Fail},
      {{"--settings", "my.ini"}, false, false, false, "my.ini", {}},  // the window on another file
      {{"-h"}, false, true, false, {}, {}},
      {{"--version"}, false, false, true, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const TCommandLine parsed = parseCommandLine(c.args);
    EXPECT_EQ(parsed.Generate, c.generate);
    EXPECT_EQ(parsed.Help, c.help);
    EXPECT_EQ(parsed.Version, c.version);
    EXPECT_EQ(parsed.SettingsFile, c.settings);
    EXPECT_EQ(parsed.Overwrite, c.overwrite);
  }
}

TEST(CommandLineParse, Refused) {
  struct Case {
    QStringList args;
    const char* message;
  };
  const Case cases[] = {
      {{"--generat"}, "Unknown option: --generat"},
      {{"-platform", "xcb"}, "Unknown option: -platform"},
      {{"picture.png"}, "Unexpected argument: picture.png"},
      {{"--generate", "--settings"}, "--settings needs a value"},
      {{"--generate", "--settings="}, "--settings needs a value"},
      {{"--generate", "--overwrite=always"}, "Unknown value for --overwrite: \"always\" (ask, all, none or fail)"},
      {{"--generate", "--overwrite=ALL"}, "Unknown value for --overwrite: \"ALL\" (ask, all, none or fail)"},
      {{"--overwrite=all"}, "--overwrite needs --generate"},
      {{"--generate", "--generate"}, "--generate is given more than once"},
      {{"--generate", "--settings", "a", "--settings=b"}, "--settings is given more than once"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    try {
      parseCommandLine(c.args);
      ADD_FAILURE() << "accepted";
    } catch (const ECommandLineError& e) {
      EXPECT_EQ(e.Message().toStdString(), c.message);
    }
  }
}

struct RunResult {
  int status = -1;
  QString out;
  QString err;
};

// Starts the real program without DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM; standard input is a
// pipe that carries the given text.
RunResult runProgram(const QStringList& args, const QByteArray& input = {}) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    env.remove(QString::fromLatin1(name));
  process.setProcessEnvironment(env);
  process.start(QStringLiteral(VELLUMARK_EXECUTABLE), args);
  RunResult result;
  if (!process.waitForStarted(30000)) {
    ADD_FAILURE() << "cannot start " << VELLUMARK_EXECUTABLE;
    return result;
  }
  process.write(input);
  process.closeWriteChannel();
  if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit) {
    ADD_FAILURE() << "the program did not end normally";
    process.kill();
    return result;
  }
  result.status = process.exitCode();
  result.out = QString::fromUtf8(process.readAllStandardOutput());
  result.err = QString::fromUtf8(process.readAllStandardError());
  return result;
}

// Every file under a folder, by relative path, with its bytes.
std::map<QString, QByteArray> filesUnder(const QString& folder) {
  std::map<QString, QByteArray> files;
  QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    files[QDir(folder).relativeFilePath(path)] = readFileBytes(path);
  }
  return files;
}

QString sizeKeyOf(int group) {
  const TSizeInfo& first = SizeGroups[group].constFirst();
  return QStringLiteral("%1_%2").arg(first.Width).arg(first.Height);
}

class CommandLineRun : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    ::InitSizeInfos();
    Out = FDir.filePath("out");
    QDir().mkpath(Out);
    for (const char* name : {"wide.png", "tall.png"}) {
      const bool wide = name[0] == 'w';
      QImage img(wide ? 260 : 150, wide ? 150 : 260, QImage::Format_ARGB32);
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
          img.setPixel(x, y, qRgba(x, y, (x * y) & 0xff, (x + y) % 5 ? 255 : 90));
      ASSERT_TRUE(img.save(FDir.filePath(name)));
    }
    Settings = FDir.filePath("Vellumark.ini");
  }

  // A settings file as a person may have left it: a comment, LF line ends, a stored selection for
  // group 0, a picture for every group, and the given extra lines of section "settings". Any write
  // of the program would change these bytes (it normalises the file).
  void WriteSettings(const QString& baseName, const QByteArray& extraSettings = {},
                     const QString& missingPicture = {}) {
    QByteArray text = "; prepared for the build server\n[settings]\nbase_filename=" + baseName.toUtf8() + "\n" +
                      extraSettings + "[images]\n";
    for (int g = 0; g < SizeGroupCount; ++g) {
      const TSizeInfo& first = SizeGroups[g].constFirst();
      const QString picture = g == 4 && !missingPicture.isEmpty() ? missingPicture
                              : first.Width >= first.Height   ? FDir.filePath("wide.png")
                                                              : FDir.filePath("tall.png");
      text += sizeKeyOf(g).toUtf8() + "=" + picture.toUtf8() + "\n";
    }
    text += "[selections]\n" + sizeKeyOf(0).toUtf8() + "=30,40,80,90\n";
    writeFileBytes(Settings, text);
    SettingsBytes = text;
  }

  RunResult Generate(const QStringList& more = {}, const QByteArray& input = {}) {
    return runProgram(QStringList{"--generate", "--settings", Settings} + more, input);
  }
  QString OutPath(const QString& name) const { return Out + "/" + name; }
  QStringList Pngs() const { return QDir(Out).entryList({"*.png"}, QDir::Files, QDir::Name); }

  QTemporaryDir FDir;
  QString Out;
  QString Settings;
  QByteArray SettingsBytes;
};

// Android only: nine files keep the runs short.
const QByteArray AndroidOnly = "iphone=0\nipad=0\n";

}  // namespace

TEST_F(CommandLineRun, FullRunMakesWhatTheWindowMakesAndLeavesTheSettingsAlone) {
  WriteSettings(OutPath("MyApp.png"));

  // The window's run, on a copy of the settings file (the window writes its own).
  QStringList windowLog;
  {
    const QString copy = FDir.filePath("window.ini");
    writeFileBytes(copy, SettingsBytes);
    setSettingsFilePathOverride(copy);
    ScriptedDialogs dialogs;
    {
      TfrmVellumark form;
      form.TabControl1->setCurrentWidget(form.tiGenerate);
      ASSERT_TRUE(form.actGenerate->isEnabled()) << form.mmOutput->toPlainText().toStdString();
      form.actGenerate->trigger();
      windowLog = form.mmOutput->toPlainText().split(u'\n');
    }
    setSettingsFilePathOverride(QString());
    ASSERT_TRUE(dialogs.Errors.isEmpty()) << dialogs.Errors.join('\n').toStdString();
    ASSERT_TRUE(dialogs.Questions.isEmpty());
  }
  const QString windowOut = FDir.filePath("window-out");
  ASSERT_TRUE(QDir().rename(Out, windowOut));
  ASSERT_TRUE(QDir().mkpath(Out));

  const RunResult run = Generate();
  EXPECT_EQ(run.status, ExitCompleted) << run.err.toStdString();
  EXPECT_EQ(run.err.toStdString(), "");
  // The same lines as the window's log, validation included, on standard output.
  EXPECT_EQ(run.out.toStdString(), (windowLog.join('\n') + '\n').toStdString());
  EXPECT_EQ(windowLog.last(), "Operation complete.");

  const auto made = filesUnder(Out);
  const auto expected = filesUnder(windowOut);
  EXPECT_EQ(made.size(), 55u);  // 53 PNG files and the two option-set files
  ASSERT_EQ(made.size(), expected.size());
  for (const auto& [name, bytes] : expected) {
    SCOPED_TRACE(name.toStdString());
    ASSERT_TRUE(made.count(name));
    EXPECT_TRUE(made.at(name) == bytes);
  }
  EXPECT_EQ(readFileBytes(Settings), SettingsBytes);
}

TEST_F(CommandLineRun, OverwriteModesOnASecondRun) {
  WriteSettings(OutPath("MyApp.png"), AndroidOnly);
  const RunResult first = Generate();
  ASSERT_EQ(first.status, ExitCompleted) << first.err.toStdString();
  ASSERT_EQ(Pngs().size(), 9);  // the device keys are honoured
  EXPECT_FALSE(QFile::exists(OutPath("MyApp.ios.optset")));

  // The first Android entry is missing: "fail" must stop before making it.
  const QString removed = OutPath("MyApp144x144.png");
  const QString firstPng = OutPath("MyApp72x72.png");  // the second
  const QString later = OutPath("MyApp470x320.png");
  const QString optset = OutPath("MyApp.android.optset");
  struct Case {
    const char* what;
    QStringList options;
    QByteArray input;
    int status;
    bool firstReplaced, laterReplaced, removedMade, optsetWritten;
    int skipLines;
    const char* errContains;
  };
  const Case cases[] = {
      {"all", {"--overwrite=all"}, {}, ExitCompleted, true, true, true, true, 0, ""},
      {"none", {"--overwrite=none"}, {}, ExitCompleted, false, false, true, true, 8, ""},
      {"fail", {"--overwrite=fail"}, {}, ExitError, false, false, false, false, 0,
       "MyApp72x72.png exists.  Nothing was written (--overwrite=fail).\n"},
      {"default without a terminal is fail", {}, {}, ExitError, false, false, false, false, 0,
       "MyApp72x72.png exists.  Nothing was written (--overwrite=fail).\n"},
      // An unknown answer asks again; "n" skips the first file, "A" is Yes to All.
      {"ask: no, then yes to all", {"--overwrite=ask"}, "x\nn\nA\n", ExitCompleted, false, true, true, true, 1,
       "MyApp72x72.png exists.  Overwrite? (y)es, yes to (a)ll, (n)o, n(o) to all, (c)ancel? "},
      {"ask: o is no to all", {"--overwrite=ask"}, "o\n", ExitCompleted, false, false, true, true, 8, ""},
      {"ask: cancel", {"--overwrite=ask"}, "c\n", ExitError, false, false, true, false, 0,
       "Cancelled: the run did not complete.\n"},
      {"ask: the end of the input cancels", {"--overwrite=ask"}, {}, ExitError, false, false, true, false, 0,
       "Cancelled: the run did not complete.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFileBytes(firstPng, "stale first");
    writeFileBytes(later, "stale later");
    writeFileBytes(optset, "earlier option set");
    QFile::remove(removed);
    const RunResult run = Generate(c.options, c.input);
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.errContains))) << run.err.toStdString();
    EXPECT_EQ(readFileBytes(firstPng) != "stale first", c.firstReplaced);
    EXPECT_EQ(readFileBytes(later) != "stale later", c.laterReplaced);
    EXPECT_EQ(QFile::exists(removed), c.removedMade);
    EXPECT_EQ(readFileBytes(optset) != "earlier option set", c.optsetWritten);
    EXPECT_EQ(int(run.out.count(" exists.  Skipping.")), c.skipLines);
    EXPECT_EQ(run.out.endsWith("Operation complete.\n"), c.status == ExitCompleted);
  }
  EXPECT_EQ(readFileBytes(Settings), SettingsBytes);
}

TEST_F(CommandLineRun, RefusedSetupsWriteNothing) {
  struct Case {
    const char* what;
    QString baseName;
    QByteArray extraSettings;
    QString missingPicture;
    int status;
    QString err;  // standard error, whole
  };
  const QString missing = FDir.filePath("gone.png");
  const Case cases[] = {
      {"a base name without a folder part", "/MyApp.png", {}, {}, ExitSetupInvalid, {}},
      {"no device", OutPath("MyApp.png"), "iphone=0\nipad=0\nandroid=0\n", {}, ExitSetupInvalid,
       "An output device must be checked.\n"},
      {"a missing picture", OutPath("MyApp.png"), {}, missing, ExitSetupInvalid,
       "File does not exist: " + missing + ".\n"},
      {"a folder that does not exist", FDir.filePath("no/such/MyApp.png"), {}, {}, ExitError, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteSettings(c.baseName, c.extraSettings, c.missingPicture);
    const RunResult run = Generate();
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    if (!c.err.isEmpty())
      EXPECT_EQ(run.err.toStdString(), c.err.toStdString());
    EXPECT_TRUE(Pngs().isEmpty());
    EXPECT_EQ(readFileBytes(Settings), SettingsBytes);
  }

  // The failed check: its log and the message on standard error, nothing on standard output.
  WriteSettings("/MyApp.png");
  const RunResult invalid = Generate();
  EXPECT_EQ(invalid.out.toStdString(), "");
  EXPECT_TRUE(invalid.err.startsWith("Validating Ratio Inputs...\n   Validating 1:1...\n      Bitmap Ok\n"))
      << invalid.err.toStdString();
  EXPECT_TRUE(invalid.err.endsWith("Validating Outputs...\n"
                                   "   No directory found at specified path for base name: /MyApp.png\n"
                                   "Errors were found in setup.  Please correct.\n"))
      << invalid.err.toStdString();

  // The run's own error: the log up to the failing file, the message on standard error.
  WriteSettings(FDir.filePath("no/such/MyApp.png"));
  const RunResult broken = Generate();
  EXPECT_TRUE(broken.out.endsWith("      " + FDir.filePath("no/such/MyApp180x180.png") + "\n"));
  EXPECT_TRUE(broken.err.startsWith("Cannot create file \"" + FDir.filePath("no/such/MyApp180x180.png") + "\". "))
      << broken.err.toStdString();
}

TEST_F(CommandLineRun, BadCommandLinesAndInformation) {
  struct Case {
    QStringList args;
    int status;
    const char* outStart;
    const char* errStart;
  };
  const QString noFile = FDir.filePath("none.ini");
  const Case cases[] = {
      {{"--generate", "--bogus"}, ExitBadCommandLine, "", "Unknown option: --bogus\n\nUsage: Vellumark"},
      {{"--overwrite=all"}, ExitBadCommandLine, "", "--overwrite needs --generate\n\nUsage: Vellumark"},
      {{"--help"}, ExitCompleted, "Usage: Vellumark", ""},
      {{"--version"}, ExitCompleted, "Vellumark 1.0.0\n", ""},
      {{"--generate", "--settings", noFile}, ExitError, "", "Settings file does not exist: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const RunResult run = runProgram(c.args);
    EXPECT_EQ(run.status, c.status);
    // An empty start: the stream stays empty.
    for (const auto& [text, start] : {std::pair{run.out, c.outStart}, std::pair{run.err, c.errStart}}) {
      if (*start)
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(start))) << text.toStdString();
      else
        EXPECT_EQ(text.toStdString(), "");
    }
  }
  EXPECT_FALSE(QFile::exists(noFile));
}
