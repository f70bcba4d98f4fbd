#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct TSizeInfo;

// The plan of a generation run: every file the run writes, in the order it writes them, made once
// from the run's choices. The path listing, the render-ahead queue, the write loop, the command
// line's checks and the preview all read it, so an image's bytes always go to its own entry's file.

// What the Setup tab says when the run starts.
struct TRunChoices {
  bool Android = true;
  bool iPhone = true;
  bool iPad = true;
  bool Optsets = true;       // the option-set files are written after the PNG files
  bool Smooth = false;       // reductions are area-averaged
  bool AppStoreIcon = false; // the 1024 x 1024 icon after the 1:1 group, when iPhone or iPad is chosen
  QString Folder;            // where the files go: the base file name's folder
  QString Stem;              // the base file name's stem, the start of every file's name
};

// One PNG file of the run.
struct TPlannedOutput {
  int Group = 0;            // the ratio group (0..12) whose picture and selection it is made from
  int Width = 0;
  int Height = 0;
  QString FileName;         // stem, size and ".png": MyApp180x180.png
  QString Path;             // the file name in the run's folder
  // The option-set properties that name the file, for the chosen devices only (empty otherwise).
  QString AndroidName;
  QString iPhoneName;
  QString iPadName;
  bool AppStoreIcon = false;  // the App Store icon: no option set names it
  friend bool operator==(const TPlannedOutput&, const TPlannedOutput&) = default;
};

struct TOutputPlan {
  TRunChoices Choices;
  // In run order: group by group (0..12), each group's catalogue entries that serve a chosen
  // device in catalogue order, the App Store icon after the 1:1 group's own files.
  QList<TPlannedOutput> Pngs;
  // The option-set files saved after the PNG files; empty when that file is not written.
  QString AndroidOptset;
  QString iOSOptset;

  // The outputs made from one group, in run order.
  QList<TPlannedOutput> OfGroup(int group) const;
  QStringList PngPaths() const;
  QStringList OptsetPaths() const;  // Android first
  // Both: every file the run writes.
  QStringList FilePaths() const { return PngPaths() + OptsetPaths(); }
};

// The plan for these choices over the catalogue (SizeGroups, filled).
TOutputPlan planOutputs(const TRunChoices& choices);

// The side of the square App Store icon that the run can write after the 1:1 group.
constexpr int AppStoreIconSize = 1024;

// The PNG file name of an output: stem, width, "x", height, ".png" (MyApp180x180.png).
QString outputFileName(const QString& stem, int width, int height);
// True when the entry is produced for at least one checked device.
bool servesCheckedDevice(const TSizeInfo& e, bool android, bool iPhone, bool iPad);
