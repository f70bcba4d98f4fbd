#include "app/CommandLine.h"

#include "catalogue/SizeInfo.h"
#include "model/GenerateRun.h"
#include "model/OutputPlan.h"
#include "model/PicturePrefetch.h"
#include "model/RatioGroup.h"
#include "model/SetupChoices.h"
#include "model/GroupWarnings.h"
#include "model/Validation.h"
#include "imaging/PictureRows.h"
#include "platform/AtomicFile.h"
#include "settings/Settings.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QTextStream>
#include <optional>

const QString VellumarkVersion = QStringLiteral(VELLUMARK_VERSION);

namespace {

const QString GenerateOption = QStringLiteral("--generate");
const QString SettingsOption = QStringLiteral("--settings");
const QString OverwriteOption = QStringLiteral("--overwrite");
const QString DryRunOption = QStringLiteral("--dry-run");
const QString CancelledMessage = QStringLiteral("Cancelled: the run did not complete.");

void writeLines(QTextStream& stream, const QStringList& lines) {
  for (const QString& line : lines)
    stream << line << '\n';
  stream.flush();
}

// One line of the dry run's list: what the run would do to the file ("new", "replace" or "keep").
void listFile(QTextStream& out, const QString& what, const QString& path) {
  out << QStringLiteral("   %1 %2").arg(what.leftJustified(7), path) << Qt::endl;
}

// What the run would do to a file it writes: make it or replace it. A folder in its place is no file.
QString madeOrReplaced(const QString& path) {
  const QFileInfo file(path);
  return file.exists() && !file.isDir() ? QStringLiteral("replace") : QStringLiteral("new");
}

// The files of the run in run order, each with what the run would do to it. An existing PNG file
// gets the overwrite question, answered by the policy as in the run; the option-set files are
// replaced. Every file the run would write is looked at as the write looks at it. Returns the
// message the run would end with (a question answered with Cancel, or the error of the first file
// that cannot be written, which ends the list); nullopt when the run would complete.
std::optional<QString> listRun(const TOutputPlan& plan, IDialogService& dialogs, QTextStream& out) {
  out << QStringLiteral("Dry run, nothing is written:") << Qt::endl;
  TOverwriteQuestion overwrite(dialogs);
  for (const QString& path : plan.PngPaths()) {
    const QString what = madeOrReplaced(path);
    switch (overwrite.Ask(path)) {
      case TOverwriteQuestion::Cancel:
        return CancelledMessage;
      case TOverwriteQuestion::Skip:
        listFile(out, QStringLiteral("keep"), path);
        break;
      case TOverwriteQuestion::Write:
        if (const QString error = plannedWriteError(path, false); !error.isEmpty())
          return error;
        listFile(out, what, path);
        break;
    }
  }
  for (const QString& path : plan.OptsetPaths()) {
    if (const QString error = plannedWriteError(path, true); !error.isEmpty())
      return error;
    listFile(out, madeOrReplaced(path), path);
  }
  return std::nullopt;
}

}  // namespace

TCommandLine parseCommandLine(const QStringList& arguments) {
  TCommandLine result;
  bool settingsGiven = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    // "--name=value" or "--name value"
    auto valueOf = [&](const QString& option, QString& value) {
      if (argument.startsWith(option + u'=')) {
        value = argument.mid(option.size() + 1);
        return true;
      }
      if (argument != option)
        return false;
      if (i + 1 >= arguments.size())
        throw ECommandLineError(QStringLiteral("%1 needs a value").arg(option));
      value = arguments[++i];
      return true;
    };
    auto once = [&](bool given, const QString& option) {
      if (given)
        throw ECommandLineError(QStringLiteral("%1 is given more than once").arg(option));
    };
    QString value;
    if (argument == GenerateOption) {
      once(result.Generate, GenerateOption);
      result.Generate = true;
    } else if (argument == DryRunOption) {
      once(result.DryRun, DryRunOption);
      result.DryRun = true;
    } else if (argument == u"--help" || argument == u"-h" || argument == u"-?") {
      result.Help = true;
    } else if (argument == u"--version") {
      result.Version = true;
    } else if (valueOf(SettingsOption, value)) {
      once(settingsGiven, SettingsOption);
      if (value.isEmpty())
        throw ECommandLineError(QStringLiteral("%1 needs a value").arg(SettingsOption));
      settingsGiven = true;
      result.SettingsFile = value;
    } else if (valueOf(OverwriteOption, value)) {
      once(result.Overwrite.has_value(), OverwriteOption);
      result.Overwrite = overwritePolicyFromText(value);
      if (!result.Overwrite)
        throw ECommandLineError(
            QStringLiteral("Unknown value for %1: \"%2\" (ask, all, none or fail)").arg(OverwriteOption, value));
    } else if (argument.startsWith(u'-')) {
      throw ECommandLineError(QStringLiteral("Unknown option: %1").arg(argument));
    } else {
      throw ECommandLineError(QStringLiteral("Unexpected argument: %1").arg(argument));
    }
  }
  if (result.Overwrite && !result.Generate)
    throw ECommandLineError(QStringLiteral("%1 needs %2").arg(OverwriteOption, GenerateOption));
  if (result.DryRun && !result.Generate)
    throw ECommandLineError(QStringLiteral("%1 needs %2").arg(DryRunOption, GenerateOption));
  return result;
}

QString commandLineUsage() {
  return QStringLiteral(
      "Usage: Vellumark [--settings FILE]\n"
      "       Vellumark --generate [--settings FILE] [--overwrite=ask|all|none|fail] [--dry-run]\n"
      "       Vellumark --help | --version\n"
      "\n"
      "Without --generate the window opens. With --generate every PNG file and option-set file is\n"
      "made from the settings file without a window and without a display, exactly as the Generate\n"
      "button would make them after the window's start-up. The log goes to standard output, with\n"
      "the output folder named before the first file; questions, errors, the log of a failed\n"
      "check of the setup and the warnings the frames would show go to standard error. Relative\n"
      "paths in the settings file are taken relative to the folder of the settings file,\n"
      "whatever the current folder.\n"
      "\n"
      "The file set comes from the settings file: file_set=classic|current in section \"settings\"\n"
      "(classic, the default: the launch images of earlier IDE versions; current: the launch\n"
      "screens, notification icons and App Store icon that current IDE versions ask for). The same\n"
      "section may hold launch_points=N, the launch screen's size in points (1 to 1000, default\n"
      "200), and appstore_background=#RRGGBB, the colour under the App Store icon's transparent\n"
      "parts (default white). The window's Setup tab sets all three.\n"
      "\n"
      "Options:\n"
      "  --generate          make the files without opening the window\n"
      "  --settings FILE     the settings file (default: the .ini file beside the program, or in\n"
      "                      the user's configuration folder when the program's folder cannot be\n"
      "                      written); a --generate run reads it and never writes it\n"
      "  --overwrite=MODE    what to do with an output PNG file that exists already:\n"
      "                        ask   ask for each: y yes, a yes to all, n no, o no to all, c cancel\n"
      "                        all   overwrite them all (Yes to All)\n"
      "                        none  keep them all (No to All)\n"
      "                        fail  stop before writing anything, naming the first one\n"
      "                      default: ask when standard input is a terminal, fail otherwise.\n"
      "                      Option-set files are replaced, as the window replaces them.\n"
      "  --dry-run           with --generate: check the setup and list every file the run would\n"
      "                      write, each marked new, replace or keep as --overwrite decides (ask\n"
      "                      asks the same questions), and write nothing; a file the run could\n"
      "                      not write (no output folder, a folder or a pipe in its place) ends\n"
      "                      the list with the run's message and exit status\n"
      "  -h, --help          show this text\n"
      "  --version           show the version\n"
      "\n"
      "Exit status: 0 the run completed; 1 the setup is not valid (a picture, a selection, the\n"
      "devices or the base file name), or a stored picture could not be loaded; 2 any other error,\n"
      "an existing file under --overwrite=fail, a cancelled run, or a log that could not be written\n"
      "to standard output (the files are all made); 64 a bad command line.\n");
}

namespace {
int runGenerateSteps(const TCommandLine& options, const TConsole& console);
}

int runGenerate(const TCommandLine& options, const TConsole& console) {
  const int status = runGenerateSteps(options, console);
  // A log that could not be written (standard output closed early) is no complete run, although
  // every file was made.
  console.Out.flush();
  if (console.Out.status() == QTextStream::Ok)
    return status;
  const QIODevice* device = console.Out.device();
  const QString reason = device ? device->errorString() : QString();
  console.Err << errorDisplayText(QStringLiteral("The log could not be written to standard output: ") + reason)
              << Qt::endl;
  return status == ExitCompleted ? ExitError : status;
}

namespace {

// The groups of every index, those of the file set restored from the settings file as at the
// window's start-up (the others stay empty: their pictures are not read, nor their errors
// reported); the notification group follows the 1:1 group while it has no picture of its own.
QList<TRatioGroup> restoreGroups(TFileSet set, TSettingsStore& settings, TErrorsOnce& errors) {
  QList<TRatioGroup> groups;
  for (int g = 0; g < AllGroupCount; ++g) {
    groups.append(ratioGroupOf(g));
    groups.last().CopyBound = QSize();  // nothing is shown
  }
  // The stored pictures are loaded ahead first; the groups below take them in order.
  const auto prefetch = prefetchStoredPictures(settings, groupsOfSet(set), QSize());
  for (const int g : groupsOfSet(set)) {
    try {
      if (g == NotificationGroup)
        restoreFollowingGroup(groups[g], groups[sizetables::SquareGroup], settings);
      else
        restoreGroup(groups[g], settings);
    } catch (...) {
      errors.ShowCurrent();
    }
  }
  return groups;
}

// What the check of the setup reads: the choices and the groups the run uses. The plan and the
// groups must outlive it (the look for source pictures in the way reads them).
TSetupCheck setupCheckOf(const TSetupChoices& setup, const TOutputPlan& plan, const QList<TRatioGroup>& groups) {
  TSetupCheck check;
  check.Android = setup.Android;
  check.iPhone = setup.iPhone;
  check.iPad = setup.iPad;
  for (const int g : groupsOfRun(plan))
    check.Groups.append(groupCheckOf(groups[g], g == NotificationGroup));
  check.BaseName = setup.BaseName;
  check.SourcesInTheWay = [&plan, &groups] {
    QStringList sources;
    for (const TRatioGroup& group : groups)
      sources << group.Filename << group.DarkFilename;
    return sourcesInTheWay(plan.FilePaths(), sources);
  };
  return check;
}

// The frames' warnings of the groups the run uses (transparent iOS app icons, an enlarged
// selection), once per group and warning, on standard error; they change nothing of the run.
void printGroupWarnings(const TOutputPlan& plan, const QList<TRatioGroup>& groups, QTextStream& err) {
  for (const int g : groupsOfRun(plan)) {
    QList<QSize> sizes;
    bool appIcons = false;
    for (const TPlannedOutput& o : plan.OfGroup(g)) {
      sizes << QSize(o.Width, o.Height);
      for (const QString& name : o.iPhoneNames + o.iPadNames)
        appIcons = appIcons || isiOSAppIconName(name);
    }
    if (sizes.isEmpty())
      continue;
    const TGroupWarnings warnings = groupWarnings(groups[g], sizes, appIcons, false);
    for (const QString& text : {warnings.Transparency ? TransparencyWarning : QString(), warnings.Enlarged})
      if (!text.isEmpty())
        err << QStringLiteral("Warning (%1): %2").arg(groups[g].Caption(), text) << Qt::endl;
  }
}

// Writes the message of an error that ends the run to standard error; returns the status.
int failWith(QTextStream& err, int status, const QString& message) {
  err << errorDisplayText(message) << Qt::endl;
  return status;
}

// A folder, a pipe or a device named as the settings file is said as what it is; a missing file
// as missing. Empty when the run may read it (or none is named).
QString settingsFileRefusal(const QString& settingsFile) {
  if (settingsFile.isEmpty())
    return {};
  if (const QString reason = notARegularFileReason(settingsFile); !reason.isEmpty())
    return cannotOpenFileMessage(settingsFile, reason);
  if (!QFileInfo(settingsFile).isFile())
    return QStringLiteral("Settings file does not exist: ") + settingsFile;
  return {};
}

// Start-up as the window's: the file choices, the groups' pictures and selections, then the base
// file name and the check boxes, by the window's rules; what fails is reported through the dialog
// service instead of in a box, each message once.
QList<TRatioGroup> restoreStartUp(TSetupChoices& setup, TSettingsStore& settings) {
  TErrorsOnce startupErrors;
  try {
    restoreFileChoices(setup, settings);
  } catch (...) {
    startupErrors.ShowCurrent();
  }
  QList<TRatioGroup> groups = restoreGroups(setup.FileSet, settings, startupErrors);
  try {
    setup.BaseName = restoreBaseName(settings);
  } catch (...) {
    startupErrors.ShowCurrent();
  }
  try {
    restoreCheckBoxes(setup, settings);
  } catch (...) {
    startupErrors.ShowCurrent();
  }
  return groups;
}

// The check that opening the Generate tab runs; its lines go where its outcome says. Returns the
// exit status of a failed check, or nothing when the run may go on.
std::optional<int> checkRun(const TOutputPlan& plan, const TSetupChoices& setup, const QList<TRatioGroup>& groups,
                            const TConsole& console) {
  const TSetupVerdict verdict = checkSetup(setupCheckOf(setup, plan, groups));
  if (verdict.NoDevice)
    return failWith(console.Err, ExitSetupInvalid, NoDeviceMessage);
  if (!verdict.Ok) {
    writeLines(console.Err, verdict.Lines);
    return failWith(console.Err, ExitSetupInvalid, SetupErrorsMessage);
  }
  writeLines(console.Out, verdict.Lines + QStringList{ReadyMessage});
  console.Out << QStringLiteral("Output folder: ") << plan.Choices.Folder << Qt::endl;
  return std::nullopt;
}

// The generation run itself, its log on standard output.
int writeRun(const TOutputPlan& plan, const QList<TRatioGroup>& groups, TConsoleDialogService& dialogs,
             const TConsole& console) {
  QList<TRunGroup> runGroups;
  for (const TRatioGroup& group : groups)
    runGroups.append(runGroupOf(group));
  TRunDocuments documents;
  try {
    runGeneration(
        plan, runGroups, dialogs, [&console](const QString& line) { console.Out << line << Qt::endl; },
        [](int, int) {}, documents);
  } catch (...) {
    return failWith(console.Err, ExitError, currentExceptionMessage());
  }
  if (dialogs.Cancelled())
    return failWith(console.Err, ExitError, CancelledMessage);
  return ExitCompleted;
}

int runGenerateSteps(const TCommandLine& options, const TConsole& console) {
  QTextStream& err = console.Err;
  if (const QString refusal = settingsFileRefusal(options.SettingsFile); !refusal.isEmpty())
    return failWith(err, ExitError, refusal);
  // The run reads its own copy of the settings file, never written back: a store of its own, handed
  // to everything the run restores.
  TSettingsStore settings(options.SettingsFile.isEmpty() ? installSettingsPath()
                                                          : QFileInfo(options.SettingsFile).absoluteFilePath());
  // A run that writes files first settles what killed writes left; a dry run writes nothing.
  if (!options.DryRun)
    settings.RecoverKilledWrites();
  try {
    settings.TakeSnapshot();
  } catch (...) {
    return failWith(err, ExitError, currentExceptionMessage());
  }
  const TOverwritePolicy policy =
      options.Overwrite.value_or(console.InputIsTerminal ? TOverwritePolicy::Ask : TOverwritePolicy::Fail);
  TConsoleDialogService dialogs(policy, console.In, err);
  IDialogService* previousDialogs = setDialogService(&dialogs);
  const auto restoreDialogs = qScopeGuard([previousDialogs] { setDialogService(previousDialogs); });

  InitSizeInfos();
  // Nothing in this run reads a picture's pixels but the renderers, which follow the rows as
  // they are decoded, and the groups' kept pictures, which wait for all the rows: a picture is
  // handed on once it is checked, before all its rows are written.
  const bool earlyBefore = setEarlyPictures(true);
  const auto restoreEarly = qScopeGuard([earlyBefore] { setEarlyPictures(earlyBefore); });
  TSetupChoices setup;
  const QList<TRatioGroup> groups = restoreStartUp(setup, settings);
  if (dialogs.ErrorsShown() > 0)
    return ExitSetupInvalid;

  const TOutputPlan plan = planOutputs(runChoicesOf(setup, settings));
  if (const std::optional<int> status = checkRun(plan, setup, groups, console))
    return *status;
  printGroupWarnings(plan, groups, err);
  if (policy == TOverwritePolicy::Fail)
    for (const QString& path : plan.PngPaths())
      if (const QFileInfo existing(path); existing.exists() || existing.isSymLink())
        return failWith(err, ExitError, QStringLiteral("%1 exists.  Nothing was written (--overwrite=fail).").arg(path));
  if (options.DryRun) {
    const std::optional<QString> end = listRun(plan, dialogs, console.Out);
    return end ? failWith(err, ExitError, *end) : ExitCompleted;
  }
  return writeRun(plan, groups, dialogs, console);
}

}  // namespace
