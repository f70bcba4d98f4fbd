#pragma once

#include "catalogue/SizeInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

// The plan of a generation run: every file the run writes, in the order it writes them, made once
// from the run's choices. The path listing, the render-ahead queue, the write loop, the command
// line's checks and the preview all read it, so an image's bytes always go to its own entry's file.

// What the Setup tab says when the run starts.
// The colour the App Store icon's transparent parts are laid over when none is chosen: white.
constexpr quint32 DefaultAppStoreBackground = 0xFFFFFFFF;

struct TRunChoices {
  bool Android = true;
  bool iPhone = true;
  bool iPad = true;
  bool Optsets = true;       // the option-set files are written after the PNG files
  bool Smooth = false;       // reductions are area-averaged
  bool AppStoreIcon = false; // the 1024 x 1024 icon after the 1:1 group, when iPhone or iPad is chosen
                             // (a set that names the icon always makes it)
  QString Folder;            // where the files go: the base file name's folder
  QString Stem;              // the base file name's stem, the start of every file's name
  TFileSet FileSet = TFileSet::Classic;     // which files: the set's table
  int LaunchPoints = DefaultLaunchPoints;   // the launch screen's size in points (files 2x, 3x)
  bool DarkLaunchScreen = false;            // a dark launch-screen picture is set: its files are made
  quint32 AppStoreBackground = DefaultAppStoreBackground;  // what the App Store icon's transparent parts are laid over
};

// One PNG file of the run.
struct TPlannedOutput {
  int Group = 0;            // the ratio group (an index of groupInfo) whose picture and selection it is made from
  int Width = 0;
  int Height = 0;
  QString FileName;         // stem, the group's word, size and ".png": MyApp180x180.png, MyAppLaunch400x400.png
  QString Path;             // the file name in the run's folder
  // The option-set properties that name the file, for the chosen devices only (empty otherwise);
  // iOSNames: named for iPhone or iPad alike.
  QStringList AndroidNames;
  QStringList iPhoneNames;
  QStringList iPadNames;
  QStringList iOSNames;
  bool Dark = false;          // made from the group's dark-mode picture
  bool AppStoreIcon = false;  // the App Store icon (named only where the set names it)
  // The names in the iOS option set: iPhone's, iPad's, then both's.
  QStringList iOSOptsetNames() const { return iPhoneNames + iPadNames + iOSNames; }
  friend bool operator==(const TPlannedOutput&, const TPlannedOutput&) = default;
};

struct TOutputPlan {
  TRunChoices Choices;
  // In run order: group by group in index order, each group's entries of the chosen set that serve
  // a chosen device in table order; in the classic set the opt-in App Store icon after the 1:1
  // group's own files.
  QList<TPlannedOutput> Pngs;
  // The option-set files saved after the PNG files; empty when that file is not written.
  QString AndroidOptset;
  QString iOSOptset;

  // The outputs made from one group, in run order.
  QList<TPlannedOutput> OfGroup(int group) const;
  // The groups the files are made from, in run order.
  QList<int> GroupsUsed() const;
  QStringList PngPaths() const;
  QStringList OptsetPaths() const;  // Android first
  // Both: every file the run writes.
  QStringList FilePaths() const { return PngPaths() + OptsetPaths(); }
};

// The groups a run of this plan checks and logs, in index order: in the classic set every group
// of the set, whatever the devices (its log has always named them all); in another set only the
// groups its files are made from.
QList<int> groupsOfRun(const TOutputPlan& plan);

// The plan for these choices over the chosen set's table.
TOutputPlan planOutputs(const TRunChoices& choices);

// The side of the square App Store icon that the run can write after the 1:1 group.
constexpr int AppStoreIconSize = 1024;

// The PNG file name of an output: stem, width, "x", height, ".png" (MyApp180x180.png).
QString outputFileName(const QString& stem, int width, int height);
// The same with a word after the stem (MyAppLaunch400x400.png).
QString outputFileName(const QString& stem, const QString& word, int width, int height);
// True when the set's entry makes a file for these choices: a chosen device's property names it
// (and a dark-picture entry only when a dark picture is set).
bool servesChoices(const TSetEntry& e, const TRunChoices& choices);
