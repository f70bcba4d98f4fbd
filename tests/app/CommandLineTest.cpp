// The command line: its parsing as a table, and the real program started with --generate on
// prepared settings files, with no display and no platform chosen in its environment.
#include "app/CommandLine.h"

#include "app/VellumarkMain.h"
#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "imaging/KeptPicture.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "support/Paths.h"
#include "support/PngRead.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(CommandLineParse, AcceptedForms) {
  struct Case {
    QStringList args;
    bool generate, help, version;
    QString settings;
    std::optional<TOverwritePolicy> overwrite;
    bool dryRun = false;
  };
  const Case cases[] = {
      {{}, false, false, false, {}, {}},
      {{"--dry-run", "--generate", "--overwrite=none"}, true, false, false, {}, TOverwritePolicy::None, true},
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
    EXPECT_EQ(parsed.DryRun, c.dryRun);
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
      {{"--dry-run"}, "--dry-run needs --generate"},
      {{"--generate", "--dry-run", "--dry-run"}, "--dry-run is given more than once"},
      {{"--generate", "--dry-run=yes"}, "Unknown option: --dry-run=yes"},
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
  QString err;       // standard error without the groups' warnings
  QStringList warnings;  // the groups' warnings ("Warning (1:1): ..."), in order
};

// Starts the real program without DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM; standard input is a
// pipe that carries the given text. An empty working folder is the test's own. With closedOutput the
// pipe of standard output is closed at once, as "| head -1" closes it.
RunResult runProgram(const QStringList& args, const QByteArray& input = {}, const QString& workingFolder = {},
                     bool closedOutput = false) {
  QProcess process;
  process.setWorkingDirectory(workingFolder);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    env.remove(QString::fromLatin1(name));
  process.setProcessEnvironment(env);
  // Standard output: a pipe whose reading end is closed before the program starts.
  int brokenPipe[2] = {-1, -1};
  if (closedOutput) {
    EXPECT_EQ(::pipe(brokenPipe), 0);
    ::close(brokenPipe[0]);
    process.setChildProcessModifier([&brokenPipe] { ::dup2(brokenPipe[1], STDOUT_FILENO); });
  }
  process.start(QStringLiteral(VELLUMARK_EXECUTABLE), args);
  if (closedOutput)
    ::close(brokenPipe[1]);
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
  // The groups' warnings come before anything else on standard error; they are kept apart.
  QString err = QString::fromUtf8(process.readAllStandardError());
  while (err.startsWith(QStringLiteral("Warning ("))) {
    const qsizetype end = err.indexOf(u'\n');
    result.warnings << err.left(end);
    err = end < 0 ? QString() : err.mid(end + 1);
  }
  result.err = err;
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
                     const QString& missingPicture = {}, const QString& squarePicture = {}) {
    QByteArray text = "; prepared for the build server\n[settings]\nbase_filename=" + baseName.toUtf8() + "\n" +
                      extraSettings + "[images]\n";
    for (int g = 0; g < SizeGroupCount; ++g) {
      const TSizeInfo& first = SizeGroups[g].constFirst();
      const QString picture = g == 4 && !missingPicture.isEmpty() ? missingPicture
                              : g == 0 && !squarePicture.isEmpty() ? squarePicture
                              : first.Width >= first.Height   ? FDir.filePath("wide.png")
                                                              : FDir.filePath("tall.png");
      text += sizeKeyOf(g).toUtf8() + "=" + picture.toUtf8() + "\n";
    }
    text += "[selections]\n" + sizeKeyOf(0).toUtf8() + "=30,40,80,90\n";
    writeFileBytes(Settings, text);
    SettingsBytes = text;
  }

  // Adds lines to section "images" of the settings file written.
  void AddImages(const QByteArray& lines) {
    SettingsBytes.replace("[images]\n", "[images]\n" + lines);
    writeFileBytes(Settings, SettingsBytes);
  }

  RunResult Generate(const QStringList& more = {}, const QByteArray& input = {}, bool closedOutput = false) {
    return runProgram(QStringList{"--generate", "--settings", Settings} + more, input, QString(), closedOutput);
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
  QStringList windowWarnings;
  {
    const QString copy = FDir.filePath("window.ini");
    writeFileBytes(copy, SettingsBytes);
    setSettingsFilePathOverride(copy);
    ScriptedDialogs dialogs;
    {
      TfrmVellumark form(nullptr, ::Settings());
      form.TabControl1->setCurrentWidget(form.tiGenerate);
      ASSERT_TRUE(form.actGenerate->isEnabled()) << form.mmOutput->toPlainText().toStdString();
      form.actGenerate->trigger();
      windowLog = form.mmOutput->toPlainText().split(u'\n');
      // The warnings the frames show, as the command line is to print them.
      for (const TRatioFrame* frame : form.FramesOfSet())
        for (const QLabel* warning : {frame->lbTransparency, frame->lbEnlarged})
          if (!warning->isHidden())
            windowWarnings << QStringLiteral("Warning (%1): %2").arg(frame->Caption(), warning->text());
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
  // Standard error tells what the frames warn of, once per group, and the run still completes.
  EXPECT_GE(windowWarnings.size(), 2);
  EXPECT_EQ(run.warnings, windowWarnings);
  // The same lines as the window's log, validation included, on standard output, with the output
  // folder named before the run's first line.
  const qsizetype ready = windowLog.indexOf(QStringLiteral("Ready to generate images"));
  ASSERT_GT(ready, 0);
  windowLog.insert(ready + 1, "Output folder: " + Out);
  EXPECT_EQ(run.out.toStdString(), (windowLog.join('\n') + '\n').toStdString());
  EXPECT_EQ(windowLog.last(), "Operation complete.");

  const auto made = filesUnder(Out);
  const auto expected = filesUnder(windowOut);
  EXPECT_EQ(made.size(), ClassicFileCount + 2u);  // the PNG files and the two option-set files
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

// A dry run checks the setup, names the folder and lists every file of the run with what the run
// would do to it under the overwrite mode; the questions of "ask" are asked as in the run. Nothing
// in the folder changes, and the exit status is the one the run would give before its first file.
TEST_F(CommandLineRun, DryRunListsWhatEachOverwriteModeWouldDoAndWritesNothing) {
  WriteSettings(OutPath("MyApp.png"), AndroidOnly);
  const RunResult first = Generate();
  ASSERT_EQ(first.status, ExitCompleted) << first.err.toStdString();
  QStringList pngs;  // in run order, from the run's log
  for (const QString& line : first.out.split(u'\n'))
    if (line.startsWith("      " + Out))
      pngs << line.mid(6);
  ASSERT_EQ(pngs.size(), 9);
  ASSERT_TRUE(QFile::remove(pngs[0]));
  const auto before = filesUnder(FDir.path());

  const QString optset = "   replace " + OutPath("MyApp.android.optset");
  auto listed = [&](const QStringList& words) {
    QStringList lines{"Output folder: " + Out, "Dry run, nothing is written:"};
    for (qsizetype i = 0; i < words.size(); ++i)
      lines << "   " + words[i].leftJustified(7) + " " + pngs[i];
    return lines;
  };
  const QStringList replaceAll{"new", "replace", "replace", "replace", "replace", "replace", "replace", "replace", "replace"};
  const QStringList keepAll{"new", "keep", "keep", "keep", "keep", "keep", "keep", "keep", "keep"};
  const QStringList noThenAll{"new", "keep", "replace", "replace", "replace", "replace", "replace", "replace", "replace"};
  const struct {
    const char* what;
    QStringList options;
    QByteArray input;
    int status;
    QStringList out;  // after the check's lines; the option-set file follows a complete list
    int questions;
    QString errEnd;
  } cases[] = {
      {"all", {"--overwrite=all"}, {}, ExitCompleted, listed(replaceAll), 0, {}},
      {"none", {"--overwrite=none"}, {}, ExitCompleted, listed(keepAll), 0, {}},
      {"ask: no, then yes to all", {"--overwrite=ask"}, "n\na\n", ExitCompleted, listed(noThenAll), 2, {}},
      {"ask: cancel", {"--overwrite=ask"}, "c\n", ExitError, listed({"new"}), 1,
       "Cancelled: the run did not complete.\n"},
      {"fail stops as the run would", {"--overwrite=fail"}, {}, ExitError, {"Output folder: " + Out}, 0,
       "MyApp72x72.png exists.  Nothing was written (--overwrite=fail).\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult run = Generate(QStringList{"--dry-run"} + c.options, c.input);
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    QStringList out = run.out.split(u'\n');
    ASSERT_EQ(out.takeLast(), QString());
    const qsizetype ready = out.indexOf("Ready to generate images");
    ASSERT_GT(ready, 0) << run.out.toStdString();
    QStringList expected = c.out;
    if (c.status == ExitCompleted)
      expected << optset;
    EXPECT_EQ(out.mid(ready + 1).join(u'\n').toStdString(), expected.join(u'\n').toStdString());
    EXPECT_EQ(int(run.err.count("Overwrite? ")), c.questions);
    EXPECT_TRUE(run.err.endsWith(c.errEnd)) << run.err.toStdString();
    EXPECT_TRUE(filesUnder(FDir.path()) == before);
  }

  // A setup that does not pass the check: the status of the run, and nothing listed.
  WriteSettings("/MyApp.png", AndroidOnly);
  const RunResult invalid = Generate({"--dry-run", "--overwrite=all"});
  EXPECT_EQ(invalid.status, ExitSetupInvalid);
  EXPECT_EQ(invalid.out.toStdString(), "");
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

TEST_F(CommandLineRun, ARunThatWouldWriteOverASourcePictureIsRefused) {
  ASSERT_TRUE(QFile::link(Out, FDir.filePath("linked")));
  struct Case {
    const char* what;
    QString picture;   // the 1:1 group's picture, as the settings file names it
    QString baseName;
    QByteArray extraSettings;
  };
  const Case cases[] = {
      {"the App Store icon over its own master picture", OutPath("MyApp1024x1024.png"), OutPath("MyApp.png"),
       "appstore_icon=1\n"},
      {"another spelling of the same file", Out + "/../out/./MyApp180x180.png", OutPath("MyApp.png"), {}},
      {"the base name in a linked folder", OutPath("MyApp144x144.png"), FDir.filePath("linked/MyApp.png"), {}},
      {"an option-set file reached through a link", FDir.filePath("optset.png"), OutPath("MyApp.png"), {}},
  };
  ASSERT_TRUE(QFile::link(OutPath("MyApp.ios.optset"), FDir.filePath("optset.png")));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const QString& f : QDir(Out).entryList(QDir::Files))
      QFile::remove(OutPath(f));
    const QByteArray picture = readFileBytes(FDir.filePath("wide.png"));
    writeFileBytes(QFileInfo(c.picture).isSymLink() ? QFileInfo(c.picture).symLinkTarget() : c.picture, picture);
    WriteSettings(c.baseName, c.extraSettings, {}, c.picture);
    const RunResult run = Generate({"--overwrite=all"});
    EXPECT_EQ(run.status, ExitSetupInvalid) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Validating Outputs...\n   INVALID Output would overwrite the source picture " +
                                 c.picture + "\nErrors were found in setup.  Please correct.\n"))
        << run.err.toStdString();
    EXPECT_EQ(QDir(Out).entryList(QDir::Files).size(), 1);  // the picture alone, as it was
    EXPECT_EQ(readFileBytes(QFileInfo(c.picture).canonicalFilePath()), picture);
  }
}

// Standard output for a run in this process that runs an action once a line holding `text` is
// written: what the run does next sees the world as the action left it.
class TriggeredOutput : public QIODevice {
public:
  TriggeredOutput(QString text, std::function<void()> action) : FText(std::move(text)), FAction(std::move(action)) {
    open(QIODevice::WriteOnly);
  }
  QString Written() const { return QString::fromUtf8(FWritten); }

protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    FWritten.append(data, size);
    if (FAction && Written().contains(FText))
      std::exchange(FAction, nullptr)();
    return size;
  }

private:
  QString FText;
  std::function<void()> FAction;
  QByteArray FWritten;
};

// A picture whose file changes between the check of the setup and the run (another picture written
// in its place) stops the run before any file is written, with the message naming the file; the
// last group's picture is the one changed, so a check made group by group would have written the
// other groups' files.
TEST_F(CommandLineRun, APictureChangedAfterItWasReadStopsTheRunBeforeAnyFile) {
  WriteSettings(OutPath("MyApp.png"));
  const QString last = FDir.filePath("last.png");
  const QString lastKey = sizeKeyOf(SizeGroupCount - 1);
  const qsizetype line = SettingsBytes.indexOf("\n" + lastKey.toUtf8() + "=");
  ASSERT_GT(line, 0);
  const QString stored = QString::fromUtf8(SettingsBytes.mid(line + lastKey.size() + 2).split('\n').first());
  ASSERT_TRUE(QFile::copy(stored, last));
  SettingsBytes.replace(lastKey.toUtf8() + "=" + stored.toUtf8(), lastKey.toUtf8() + "=" + last.toUtf8());
  writeFileBytes(Settings, SettingsBytes);

  TriggeredOutput output(QStringLiteral("Output folder: "), [&] {
    QImage other(QImage(last).size(), QImage::Format_ARGB32);
    other.fill(qRgba(9, 9, 9, 255));
    ASSERT_TRUE(other.save(last));
  });
  QTextStream out(&output), err, in;
  QString errors;
  err.setString(&errors);
  TCommandLine options;
  options.Generate = true;
  options.SettingsFile = Settings;
  options.Overwrite = TOverwritePolicy::All;
  EXPECT_EQ(runGenerate(options, {out, err, in, false}), ExitError);
  EXPECT_TRUE(output.Written().endsWith("Output folder: " + Out + "\n")) << output.Written().toStdString();
  EXPECT_TRUE(errors.endsWith(errorDisplayText(pictureChangedMessage(last)) + "\n")) << errors.toStdString();
  EXPECT_EQ(QDir(Out).entryList(QDir::Files).join(' ').toStdString(), "") << "no PNG, no option set";
}

// A link in an output's place counts as an existing file, named with where it leads; only a link
// to a regular file can be overwritten, and one that leads nowhere is refused.
TEST_F(CommandLineRun, ALinkInAnOutputsPlaceIsAnExistingFile) {
  WriteSettings(OutPath("MyApp.png"), AndroidOnly);
  const QString link = OutPath("MyApp72x72.png");
  const QString outside = FDir.filePath("notes.txt");
  const QString missing = FDir.filePath("nowhere/x.png");
  // What a killed run left beside the outputs: a run removes it.
  const pid_t ended = fork();
  if (ended == 0)
    _exit(0);
  waitpid(ended, nullptr, 0);
  const QString leftover = OutPath("MyApp144x144.png." + QString::number(ended) + "-k3x.vellumark-tmp");
  struct Case {
    const char* what;
    QString target;
    QStringList options;
    QByteArray input;
    int status;
    QString err;  // contained in standard error
    bool replaced;
  };
  const Case cases[] = {
      {"fail", outside, {"--overwrite=fail"}, {}, ExitError, link + " exists.  Nothing was written", false},
      {"ask, no", outside, {"--overwrite=ask"}, "n\n", ExitCompleted,
       link + " exists (a link to " + outside + ").  Overwrite?", false},
      {"all", outside, {"--overwrite=all"}, {}, ExitCompleted, {}, true},
      {"a link to nothing", missing, {"--overwrite=all"}, {}, ExitError,
       "Cannot create file \"" + link + "\". It is a link to " + missing + ", which does not exist.\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const QString& f : QDir(Out).entryList(QDir::Files | QDir::System))
      QFile::remove(OutPath(f));
    writeFileBytes(outside, "notes");
    writeFileBytes(leftover, "part");
    ASSERT_TRUE(QFile::link(c.target, link));
    const RunResult run = Generate(c.options, c.input);
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(c.err)) << run.err.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFileBytes(outside) != "notes", c.replaced);
    if (c.replaced)
      EXPECT_FALSE(QImage(outside, "PNG").isNull());
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_EQ(QFile::exists(leftover), c.what == std::string("fail"));
  }
}

TEST_F(CommandLineRun, AClosedStandardOutputStopsNothingButIsReported) {
  WriteSettings(OutPath("MyApp.png"));
  const RunResult run = Generate({}, {}, true);
  EXPECT_EQ(run.status, ExitError);
  EXPECT_EQ(run.err.toStdString(), "The log could not be written to standard output: Broken pipe.\n");
  // Every file is made, and complete.
  EXPECT_EQ(Pngs().size(), ClassicFileCount);
  for (const QString& name : Pngs())
    EXPECT_FALSE(QImage(OutPath(name)).isNull()) << name.toStdString();
  EXPECT_TRUE(QFile::exists(OutPath("MyApp.ios.optset")));
  EXPECT_TRUE(QFile::exists(OutPath("MyApp.android.optset")));
}

TEST_F(CommandLineRun, BadCommandLinesAndInformation) {
  struct Case {
    QStringList args;
    int status;
    QByteArray outStart;
    QByteArray errStart;
  };
  const QString noFile = FDir.filePath("none.ini");
  const QString fifo = FDir.filePath("pipe.ini");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
  const Case cases[] = {
      {{"--generate", "--bogus"}, ExitBadCommandLine, "", "Unknown option: --bogus\n\nUsage: Vellumark"},
      {{"--overwrite=all"}, ExitBadCommandLine, "", "--overwrite needs --generate\n\nUsage: Vellumark"},
      {{"--help"}, ExitCompleted, "Usage: Vellumark", ""},
      {{"--version"}, ExitCompleted, "Vellumark 1.0.0\n", ""},
      {{"--generate", "--settings", noFile}, ExitError, "", "Settings file does not exist: "},
      {{"--generate", "--settings", FDir.path()}, ExitError, "",
       "Cannot open file \"" + FDir.path().toUtf8() + "\". Is a directory.\n"},
      {{"--generate", "--settings", fifo}, ExitError, "",
       "Cannot open file \"" + fifo.toUtf8() + "\". Is a named pipe.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const RunResult run = runProgram(c.args);
    EXPECT_EQ(run.status, c.status);
    // An empty start: the stream stays empty.
    for (const auto& [text, start] : {std::pair{run.out, c.outStart}, std::pair{run.err, c.errStart}}) {
      if (!start.isEmpty())
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(start))) << text.toStdString();
      else
        EXPECT_EQ(text.toStdString(), "");
    }
  }
  EXPECT_FALSE(QFile::exists(noFile));
  // The help names where the file set comes from.
  EXPECT_TRUE(runProgram({"--help"}).out.contains("The file set comes from the settings file: file_set=classic|current in "
                                                  "section \"settings\"\n"));
}

namespace {

// A project as a team keeps it: the settings file in art/, the pictures in art/pics/, the outputs
// in art/icons/; the paths in the settings file written in the form of the case.
class PortableSettings : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    ::InitSizeInfos();
    Elsewhere = FDir.filePath("elsewhere");
    ASSERT_TRUE(QDir().mkpath(Elsewhere));
  }

  // Makes the project at a new path; every group's picture is stored as picture(art folder, group)
  // and the base file name as given, with "<art>" standing for the art folder.
  void MakeProject(const std::function<QString(const QString& art, int group)>& picture, QString baseName) {
    Project = FDir.filePath(QStringLiteral("project%1").arg(++FProjects));
    Art = Project + "/art";
    Stored.clear();
    ASSERT_TRUE(QDir().mkpath(Art + "/pics"));
    ASSERT_TRUE(QDir().mkpath(Art + "/icons"));
    for (const char* name : {"wide.png", "tall.png"}) {
      QImage img(name[0] == 'w' ? 200 : 120, name[0] == 'w' ? 120 : 200, QImage::Format_ARGB32);
      img.fill(qRgba(20, 140, 60, 255));
      ASSERT_TRUE(img.save(Art + "/pics/" + name));
    }
    QByteArray text =
        "[settings]\nbase_filename=" + baseName.replace("<art>", Art).toUtf8() + "\niphone=0\nipad=0\n[images]\n";
    for (int g = 0; g < SizeGroupCount; ++g) {
      Stored << picture(Art, g);
      text += sizeKeyOf(g).toUtf8() + "=" + Stored.last().toUtf8() + "\n";
    }
    Settings = Art + "/Vellumark.ini";
    writeFileBytes(Settings, text);
  }
  static QString PictureOf(int group) {
    const TSizeInfo& first = SizeGroups[group].constFirst();
    return first.Width >= first.Height ? QStringLiteral("wide.png") : QStringLiteral("tall.png");
  }

  // The files of the project and of the unrelated folder, outside the icons folder.
  QStringList FilesOutsideIcons() const {
    QStringList files;
    for (const QString& folder : {Project, Elsewhere})
      for (const auto& [name, bytes] : filesUnder(folder))
        if (!name.startsWith("art/icons/"))
          files << QDir(folder).relativeFilePath(folder + "/" + name);
    files.sort();
    return files;
  }
  // The Android run's nine PNG files and its option-set file, every one in art/icons and named
  // there by its full path in the option set; then the folder is emptied for the next run.
  void ExpectOutputsInIconsAndClear() {
    const QStringList made = QDir(Art + "/icons").entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(made.size(), 10) << made.join(' ').toStdString();
    EXPECT_TRUE(made.contains("MyApp.android.optset"));
    const QByteArray optset = readFileBytes(Art + "/icons/MyApp.android.optset");
    EXPECT_TRUE(optset.contains(">" + (Art + "/icons/MyApp144x144.png").toUtf8() + "<")) << optset.toStdString();
    for (const QString& name : made)
      QFile::remove(Art + "/icons/" + name);
    EXPECT_EQ(FilesOutsideIcons(), (QStringList{"art/Vellumark.ini", "art/pics/tall.png", "art/pics/wide.png"}));
  }

  QTemporaryDir FDir;
  QString Elsewhere, Project, Art, Settings;
  QStringList Stored;  // each group's picture as the settings file holds it
  int FProjects = 0;
};

}  // namespace

// Whatever the current folder, the command line and the window find the pictures and write the
// files where the settings file says, with its relative paths taken beside it; a Windows path on
// Linux is reported missing.
TEST_F(PortableSettings, PathsFollowTheSettingsFileFromEveryCurrentFolder) {
  const struct {
    const char* sentence;
    std::function<QString(const QString& art, int group)> picture;
    const char* baseName;  // "<art>" stands for the settings file's folder
    QString missing;       // the picture reported missing; empty when the run completes
  } cases[] = {
      {"relative with slashes", [](const QString&, int g) { return "pics/" + PictureOf(g); }, "icons/MyApp.png", {}},
      {"relative with backslashes", [](const QString&, int g) { return "pics\\" + PictureOf(g); }, "icons\\MyApp.png",
       {}},
      {"absolute", [](const QString& art, int g) { return art + "/pics/" + PictureOf(g); }, "<art>/icons/MyApp.png",
       {}},
      {"mixed, with dot components",
       [](const QString& art, int g) {
         return g % 3 == 0   ? art + "/pics/" + PictureOf(g)
                : g % 3 == 1 ? "./pics\\" + PictureOf(g)
                             : "pics/../pics/" + PictureOf(g);
       },
       "../art/icons\\MyApp.png", {}},
      {"Windows-style", [](const QString&, int g) { return "C:\\work\\art\\pics\\" + PictureOf(g); },
       "C:\\work\\art\\icons\\MyApp.png", "C:\\work\\art\\pics\\tall.png"},
  };
  const QString startFolder = QDir::currentPath();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sentence);
    MakeProject(c.picture, QString::fromUtf8(c.baseName));
    for (const QString& current : {Project, Art + "/pics", Elsewhere}) {
      SCOPED_TRACE(current.toStdString());
      const QByteArray settingsBytes = readFileBytes(Settings);
      // The command line, with the settings file named relative to the current folder.
      const RunResult run = runProgram(
          {"--generate", "--settings", QDir(current).relativeFilePath(Settings), "--overwrite=all"}, {}, current);
      if (c.missing.isEmpty()) {
        EXPECT_EQ(run.status, ExitCompleted) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("\nOutput folder: " + Art + "/icons\nGenerating images...\n"))
            << run.out.toStdString();
        ExpectOutputsInIconsAndClear();
      } else {
        EXPECT_EQ(run.status, ExitSetupInvalid);
        EXPECT_TRUE(run.err.contains("File does not exist: " + c.missing + ".\n")) << run.err.toStdString();
        EXPECT_TRUE(QDir(Art + "/icons").isEmpty());
      }
      EXPECT_EQ(readFileBytes(Settings), settingsBytes);

      // The window: the frames hold the full paths; its writes keep the stored paths as written.
      ASSERT_TRUE(QDir::setCurrent(current));
      setSettingsFilePathOverride(Settings);
      {
        ScriptedDialogs dialogs;
        TfrmVellumark form(nullptr, ::Settings());
        if (c.missing.isEmpty()) {
          ASSERT_TRUE(dialogs.Errors.isEmpty()) << dialogs.Errors.join('\n').toStdString();
          for (const TRatioFrame* frame : form.FramesOfSet())
            EXPECT_EQ(frame->Filename(), Art + "/pics/" + PictureOf(frame->Tag()));
          EXPECT_EQ(form.ceBaseName->currentText(), Art + "/icons/MyApp.png");
          form.TabControl1->setCurrentWidget(form.tiGenerate);
          ASSERT_TRUE(form.actGenerate->isEnabled()) << form.mmOutput->toPlainText().toStdString();
          form.actGenerate->trigger();
          ExpectOutputsInIconsAndClear();
        } else {
          EXPECT_TRUE(dialogs.Errors.join('\n').contains("File does not exist: " + c.missing))
              << dialogs.Errors.join('\n').toStdString();
        }
      }
      setSettingsFilePathOverride(QString());
      ASSERT_TRUE(QDir::setCurrent(startFolder));
      const TSettingsFile written = TSettingsFile::load(Settings);
      for (int g = 0; g < SizeGroupCount; ++g)
        EXPECT_EQ(written.value("images", sizeKeyOf(g)).toStdString(), Stored[g].toStdString());
    }
  }
}

// A stored base file name without a folder part is refused by the check, named as stored, and nothing
// is written beside the settings file; the dry run says the same.
TEST_F(CommandLineRun, AStoredBaseNameWithoutAFolderIsRefused) {
  WriteSettings("MyApp.png", AndroidOnly);
  const QStringList before = QDir(FDir.path()).entryList(QDir::Files);
  for (const QStringList& options : {QStringList{"--overwrite=all"}, QStringList{"--overwrite=all", "--dry-run"}}) {
    SCOPED_TRACE(options.join(' ').toStdString());
    const RunResult run = Generate(options);
    EXPECT_EQ(run.status, ExitSetupInvalid) << run.err.toStdString();
    EXPECT_EQ(run.out.toStdString(), "");
    EXPECT_TRUE(run.err.endsWith("Validating Outputs...\n"
                                 "   No directory found at specified path for base name: MyApp.png\n"
                                 "Errors were found in setup.  Please correct.\n"))
        << run.err.toStdString();
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), before);
  }
}

// Every path to a group's picture is the picture: its own name, another spelling, a link or a hard
// link in the output's place, the output folder reached through a bind mount. Each is refused by the
// check before anything is written, and the picture keeps its bytes.
TEST_F(CommandLineRun, EveryPathToASourcePictureIsRefused) {
  const QByteArray bytes = readFileBytes(FDir.filePath("wide.png"));
  const QString output = OutPath("MyApp180x180.png");  // the first file of the 1:1 group
  const QString picture = FDir.filePath("picture.png");
  const QString bind = FDir.filePath("bind");
  ASSERT_TRUE(QDir().mkpath(bind));
  struct Case {
    const char* what;
    QString picture;   // as the settings file names it
    QString baseName;
    std::function<QString()> place;  // puts the picture in place; a reason when it cannot be done
  };
  const Case cases[] = {
      {"its own name", output, OutPath("MyApp.png"),
       [&] { return writeFileBytes(output, bytes), QString(); }},
      {"another spelling", Out + "/../out/./MyApp180x180.png", OutPath("MyApp.png"),
       [&] { return writeFileBytes(output, bytes), QString(); }},
      {"a link to the picture in the output's place", picture, OutPath("MyApp.png"),
       [&] { return writeFileBytes(picture, bytes), QFile::link(picture, output) ? QString() : "no link"; }},
      {"a hard link in the output's place", picture, OutPath("MyApp.png"),
       [&] {
         writeFileBytes(picture, bytes);
         return ::link(QFile::encodeName(picture).constData(), QFile::encodeName(output).constData()) == 0
                    ? QString()
                    : QString::fromLocal8Bit(std::strerror(errno));
       }},
      {"the output folder through a bind mount", output, bind + "/MyApp.png",
       [&] {
         writeFileBytes(output, bytes);
         return ::mount(QFile::encodeName(Out).constData(), QFile::encodeName(bind).constData(), nullptr, MS_BIND,
                        nullptr) == 0
                    ? QString()
                    : QString::fromLocal8Bit(std::strerror(errno));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const QString& f : QDir(Out).entryList(QDir::Files | QDir::System))
      QFile::remove(OutPath(f));
    QFile::remove(picture);
    if (const QString reason = c.place(); !reason.isEmpty()) {
      std::cout << "[  SKIPPED ] " << c.what << ": " << reason.toStdString() << std::endl;
      continue;
    }
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(bind).constData(), MNT_DETACH); });
    const QStringList inOut = QDir(Out).entryList(QDir::Files | QDir::System);
    WriteSettings(c.baseName, {}, {}, c.picture);
    const RunResult run = Generate({"--overwrite=all"});
    EXPECT_EQ(run.status, ExitSetupInvalid) << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith("Validating Outputs...\n   INVALID Output would overwrite the source picture " +
                                 c.picture + "\nErrors were found in setup.  Please correct.\n"))
        << run.err.toStdString();
    EXPECT_EQ(QDir(Out).entryList(QDir::Files | QDir::System), inOut);
    EXPECT_EQ(readFileBytes(c.picture), bytes);
  }
}

// The dry run looks at the output folder and at each file as the run's writes would: where the run
// would end with an error, the dry run ends with the same message and exit status, and writes
// nothing.
TEST_F(CommandLineRun, ADryRunEndsWhereTheRunWouldFailWithItsMessage) {
  const QString aFile = FDir.filePath("a-file");
  struct Case {
    const char* what;
    QString baseName;
    std::function<void()> prepare;
    const char* reason;  // the system's reason the message ends with
    QString failing;     // the file named in the message
  };
  const Case cases[] = {
      {"the output folder is missing", FDir.filePath("no/such/MyApp.png"), [] {}, "No such file or directory",
       FDir.filePath("no/such/MyApp144x144.png")},
      {"the output folder is a file", aFile + "/MyApp.png", [&] { writeFileBytes(aFile, "text"); }, "Not a directory",
       aFile + "/MyApp144x144.png"},
      {"a folder where a PNG file goes", OutPath("MyApp.png"),
       [&] { ASSERT_TRUE(QDir().mkpath(OutPath("MyApp72x72.png"))); }, "Is a directory", OutPath("MyApp72x72.png")},
      {"a named pipe where a PNG file goes", OutPath("MyApp.png"),
       [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(OutPath("MyApp470x320.png")).constData(), 0600), 0); },
       "Is a named pipe", OutPath("MyApp470x320.png")},
      {"a folder where the option-set file goes", OutPath("MyApp.png"),
       [&] { ASSERT_TRUE(QDir().mkpath(OutPath("MyApp.android.optset"))); }, "Is a directory",
       OutPath("MyApp.android.optset")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QDir(Out).removeRecursively();
    QFile::remove(aFile);
    ASSERT_TRUE(QDir().mkpath(Out));
    c.prepare();
    WriteSettings(c.baseName, AndroidOnly);
    const auto before = filesUnder(FDir.path());
    const QStringList outBefore = QDir(Out).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);

    const RunResult dry = Generate({"--overwrite=all", "--dry-run"});
    EXPECT_TRUE(filesUnder(FDir.path()) == before);
    EXPECT_EQ(QDir(Out).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), outBefore);
    EXPECT_FALSE(dry.out.contains(c.failing)) << dry.out.toStdString();
    const RunResult run = Generate({"--overwrite=all"});

    EXPECT_EQ(run.status, ExitError) << run.err.toStdString();
    EXPECT_EQ(dry.status, run.status);
    const QString message = "Cannot create file \"" + c.failing + "\". " + c.reason + ".\n";
    EXPECT_EQ(run.err.toStdString(), message.toStdString());
    EXPECT_EQ(dry.err.toStdString(), run.err.toStdString());
  }
}

namespace {

// A test document kept in the repository.
QByteArray expectedDocument(const QString& name) { return readFileBytes(testDataDir() + "/" + name); }

// The text with the output folder written as $OUT, as the expected documents write it.
QByteArray withOutFolderNamed(QByteArray text, const QString& out) { return text.replace(out.toUtf8(), "$OUT"); }

// A picture of one colour, or of one colour with a transparent frame one pixel wide.
void writePicture(const QString& path, QRgb colour, bool transparentFrame = false) {
  QImage picture(64, 64, QImage::Format_ARGB32);
  picture.fill(colour);
  if (transparentFrame)
    for (int i = 0; i < 64; ++i)
      for (const auto& [x, y] : {std::pair{i, 0}, std::pair{i, 63}, std::pair{0, i}, std::pair{63, i}})
        picture.setPixel(x, y, qRgba(0, 0, 0, 0));
  ASSERT_TRUE(picture.save(path));
}

// The PNG files under a folder as "name WxH" lines, by name, and the option-set files' texts.
QByteArray pngSizes(const QString& folder) {
  QByteArray lines;
  for (const QString& name : QDir(folder).entryList({"*.png"}, QDir::Files, QDir::Name)) {
    const QImage image(folder + "/" + name);
    lines += QStringLiteral("%1 %2x%3\n").arg(name).arg(image.width()).arg(image.height()).toUtf8();
  }
  return lines;
}

}  // namespace

// A classic run from a settings file without file_set writes the same log, the same PNG files and
// the same option sets, byte for byte, as the build before the file sets had them (recorded in
// tests/data/classic-run: the log with the output folder written as $OUT, and each file's SHA-256,
// the option sets' taken with the folder written so): every device (the 53 files), and Android
// alone, whose log still names every group. The groups without a stored selection were recorded
// again when select-all became centred in picture pixels; the 1:1 group's stored selection gives
// the files first recorded.
TEST_F(CommandLineRun, AClassicRunIsAsBeforeTheFileSets) {
  for (const auto& [recorded, devices] : {std::pair{"all-devices", QByteArray()}, std::pair{"android-only", AndroidOnly}}) {
    SCOPED_TRACE(recorded);
    QDir(Out).removeRecursively();
    QDir().mkpath(Out);
    WriteSettings(OutPath("MyApp.png"), devices);
    const RunResult run = Generate();
    ASSERT_EQ(run.status, ExitCompleted) << run.err.toStdString();
    const QString document = QStringLiteral("classic-run/") + recorded;
    EXPECT_EQ(withOutFolderNamed(run.out.toUtf8(), Out).toStdString(), expectedDocument(document + ".log").toStdString());
    QByteArray sums;
    for (const auto& [name, bytes] : filesUnder(Out)) {
      const QByteArray file = name.endsWith(".optset") ? withOutFolderNamed(bytes, Out) : bytes;
      sums += QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex() + "  " + name.toUtf8() + "\n";
    }
    EXPECT_EQ(sums.toStdString(), expectedDocument(document + ".sha256").toStdString());
  }
}

// One settings file serves both sets: with file_set=current the run makes the current set's files
// (names and sizes, and both option sets, compared with the documents in tests/data/current-set,
// written from the IDE's list of properties), the launch screens from the launch-screen picture and
// the dark ones from the dark picture, the notification icons from the 1:1 group's picture as white
// silhouettes, the App Store icon opaque; switched back to classic, the same file gives the
// classic set's files and nothing of the current set.
TEST_F(CommandLineRun, BothSetsRunFromOneSettingsFile) {
  writePicture(FDir.filePath("light.png"), qRgb(250, 0, 0));
  writePicture(FDir.filePath("dark.png"), qRgb(0, 0, 250));
  WriteSettings(OutPath("MyApp.png"), "file_set=current\n");
  AddImages("launch_screen=" + FDir.filePath("light.png").toUtf8() + "\nlaunch_screen_dark=" +
            FDir.filePath("dark.png").toUtf8() + "\n");
  const RunResult run = Generate();
  ASSERT_EQ(run.status, ExitCompleted) << run.err.toStdString();
  EXPECT_TRUE(run.out.contains("   Validating launch screen (1:1)...\n      Bitmap Ok\n"));
  EXPECT_FALSE(run.out.contains("Validating 2.16")) << "a group the set does not use is checked";
  EXPECT_FALSE(run.out.contains("WARNING"));
  EXPECT_EQ(pngSizes(Out).toStdString(), expectedDocument("current-set/files.txt").toStdString());
  for (const char* optset : {"MyApp.android.optset", "MyApp.ios.optset"}) {
    SCOPED_TRACE(optset);
    EXPECT_EQ(withOutFolderNamed(readFileBytes(OutPath(optset)), Out).toStdString(),
              expectedDocument(QStringLiteral("current-set/") + optset).toStdString());
  }
  EXPECT_EQ(QImage(OutPath("MyAppLaunch400x400.png")).pixel(200, 200), qRgb(250, 0, 0));
  EXPECT_EQ(QImage(OutPath("MyAppLaunchDark600x600.png")).pixel(300, 300), qRgb(0, 0, 250));
  const DecodedPng icon = readPngFile(OutPath("MyApp1024x1024.png"));
  ASSERT_TRUE(icon.ok);
  for (size_t i = 3; i < icon.rgba.size(); i += 4)
    ASSERT_EQ(icon.rgba[i], 255) << "the App Store icon has a transparent pixel";
  const DecodedPng notification = readPngFile(OutPath("MyAppNotification48x48.png"));
  ASSERT_TRUE(notification.ok);
  std::set<int> alphas;
  for (size_t i = 0; i < notification.rgba.size(); i += 4) {
    alphas.insert(notification.rgba[i + 3]);
    if (notification.rgba[i + 3] > 0)
      ASSERT_EQ(notification.rgba[i] & notification.rgba[i + 1] & notification.rgba[i + 2], 255);
  }
  EXPECT_GT(alphas.size(), 1u) << "the silhouette keeps the source's alpha";

  QDir(Out).removeRecursively();
  QDir().mkpath(Out);
  SettingsBytes.replace("file_set=current\n", "file_set=classic\n");
  writeFileBytes(Settings, SettingsBytes);
  const RunResult classic = Generate();
  ASSERT_EQ(classic.status, ExitCompleted) << classic.err.toStdString();
  EXPECT_EQ(Pngs().size(), ClassicFileCount);
  EXPECT_TRUE(Pngs().filter("Launch").isEmpty() && Pngs().filter("Notification").isEmpty());
  EXPECT_EQ(readFileBytes(Settings), SettingsBytes);
}

// The window switches sets as the user picks them on Setup: the choice is the one entry it writes,
// the frames shown are the set's, its check and run cover the set's groups, and its files are the
// command line's, byte for byte; switched back, the classic set's files are as the command line
// makes them and every picture is still stored.
TEST_F(CommandLineRun, TheWindowSwitchesSetsAndMakesTheCommandLinesFiles) {
  writePicture(FDir.filePath("light.png"), qRgb(250, 0, 0));
  writePicture(FDir.filePath("dark.png"), qRgb(0, 0, 250));
  WriteSettings(OutPath("MyApp.png"));
  AddImages("launch_screen=" + FDir.filePath("light.png").toUtf8() + "\nlaunch_screen_dark=" +
            FDir.filePath("dark.png").toUtf8() + "\n");
  // What the command line makes of each set from this settings file.
  std::map<QString, std::map<QString, QByteArray>> byCommandLine;
  for (const char* set : {"current", "classic"}) {
    QByteArray bytes = SettingsBytes;
    writeFileBytes(Settings, bytes.replace("[settings]\n", QByteArray("[settings]\nfile_set=") + set + "\n"));
    const RunResult run = Generate();
    ASSERT_EQ(run.status, ExitCompleted) << run.err.toStdString();
    byCommandLine[set] = filesUnder(Out);
    QDir(Out).removeRecursively();
    QDir().mkpath(Out);
  }
  writeFileBytes(Settings, SettingsBytes);

  setSettingsFilePathOverride(Settings);
  const auto resetPath = qScopeGuard([] { setSettingsFilePathOverride(QString()); });
  ScriptedDialogs dialogs;
  auto form = std::make_unique<TfrmVellumark>(nullptr, ::Settings());
  ASSERT_TRUE(dialogs.Errors.isEmpty()) << dialogs.Errors.join('\n').toStdString();
  const QByteArray started = readFileBytes(Settings);
  const auto shownGroups = [&form] {
    QList<int> shown;
    for (const TRatioFrame* frame : form->RatioFrames())
      if (!frame->isHidden())
        shown << frame->Tag();
    return shown;
  };
  const auto runInWindow = [&](const char* set) {
    form->TabControl1->setCurrentWidget(form->tiGraphics);
    form->TabControl1->setCurrentWidget(form->tiGenerate);
    ASSERT_TRUE(form->actGenerate->isEnabled()) << form->mmOutput->toPlainText().toStdString();
    form->actGenerate->trigger();
    EXPECT_TRUE(filesUnder(Out) == byCommandLine[set]) << set << ": the window's files differ";
    QDir(Out).removeRecursively();
    QDir().mkpath(Out);
  };
  EXPECT_EQ(shownGroups(), groupsOfSet(TFileSet::Classic));

  for (const char* set : {"current", "classic"}) {
    SCOPED_TRACE(set);
    form->cbFileSet->setCurrentIndex(form->cbFileSet->findData(QString::fromLatin1(set)));
    TSettingsFile expected = TSettingsFile::fromBytes(started);
    expected.setValue("settings", "file_set", set);
    EXPECT_EQ(readFileBytes(Settings).toStdString(), expected.toBytes().toStdString());
    const TFileSet chosen = QByteArray(set) == "current" ? TFileSet::Current : TFileSet::Classic;
    EXPECT_EQ(shownGroups(), groupsOfSet(chosen));
    EXPECT_EQ(form->cbAppStoreIcon->isEnabled(), chosen == TFileSet::Classic);
    runInWindow(set);
    const QString log = form->mmOutput->toPlainText();
    EXPECT_EQ(log.contains("Validating launch screen (1:1)"), chosen == TFileSet::Current);
    EXPECT_EQ(log.contains("Validating 2.16"), chosen == TFileSet::Classic);
  }
  // A restart shows the set last chosen, every picture in place.
  form.reset();
  form = std::make_unique<TfrmVellumark>(nullptr, ::Settings());
  EXPECT_EQ(form->cbFileSet->currentData().toString(), QStringLiteral("classic"));
  EXPECT_EQ(form->FindRatioFrame(LaunchScreenGroup)->Filename(), FDir.filePath("light.png"));
  EXPECT_EQ(form->FindRatioFrame(LaunchScreenGroup)->DarkFilename(), FDir.filePath("dark.png"));
  EXPECT_EQ(form->FindRatioFrame(1)->Filename(), FDir.filePath("wide.png"));
}

// The App Store icon the classic set makes on request is written opaque too, over the colour set.
TEST_F(CommandLineRun, TheOptInAppStoreIconIsOpaqueOverTheChosenBackground) {
  writePicture(FDir.filePath("framed.png"), qRgb(0, 250, 0), true);
  WriteSettings(OutPath("MyApp.png"), "android=0\nipad=0\nappstore_icon=1\nappstore_background=#102030\n", {},
                FDir.filePath("framed.png"));
  SettingsBytes.replace("180_180=30,40,80,90\n", "");
  writeFileBytes(Settings, SettingsBytes);
  const RunResult run = Generate();
  ASSERT_EQ(run.status, ExitCompleted) << run.err.toStdString();
  const QImage icon(OutPath("MyApp1024x1024.png"));
  EXPECT_EQ(icon.pixel(0, 0), qRgb(0x10, 0x20, 0x30));  // the picture's transparent frame
  EXPECT_EQ(icon.pixel(512, 512), qRgb(0, 250, 0));
  // The app icons keep their transparency.
  EXPECT_EQ(qAlpha(QImage(OutPath("MyApp180x180.png")).pixel(0, 0)), 0);
}

// A notification picture without transparent parts is warned about and the run goes on; stored
// values the run cannot take end it before anything is written, each with its message, and so
// does a set whose own group has no picture.
TEST_F(CommandLineRun, FileChoicesWarningsAndRefusals) {
  writePicture(FDir.filePath("opaque.png"), qRgb(9, 9, 9));
  WriteSettings(OutPath("MyApp.png"), "file_set=current\niphone=0\nipad=0\n");
  AddImages("notification=" + FDir.filePath("opaque.png").toUtf8() + "\n");
  RunResult run = Generate();
  EXPECT_EQ(run.status, ExitCompleted) << run.err.toStdString();
  EXPECT_TRUE(run.out.contains("   Validating notification (1:1)...\n      Bitmap Ok\n      Selection rectangle Ok\n"
                               "      WARNING The notification icon will be a plain square: use a picture with "
                               "transparent parts.\n"))
      << run.out.toStdString();
  EXPECT_FALSE(run.out.contains("launch screen")) << "Android uses no launch screen";

  const struct {
    QByteArray settings;
    QString message;
  } refused[] = {
      {"file_set=newest\n", "The settings file's file_set=newest is not allowed (classic or current)"},
      {"launch_points=0\n", "The settings file's launch_points=0 is not allowed (a whole number of points from 1 to 1000)"},
      {"appstore_background=white\n", "The settings file's appstore_background=white is not allowed (a colour as #RRGGBB)"},
      {"file_set=current\n", "      INVALID Bitmap (Empty)"},  // no launch-screen picture for iPhone and iPad
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.settings.toStdString());
    QDir(Out).removeRecursively();
    QDir().mkpath(Out);
    WriteSettings(OutPath("MyApp.png"), c.settings);
    run = Generate();
    EXPECT_EQ(run.status, ExitSetupInvalid);
    EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
    EXPECT_TRUE(Pngs().isEmpty());
  }
}
