#pragma once

#include "catalogue/SizeTables.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>

// One output image: its pixel size and, per device, the option-set property that receives the
// PNG (empty when the image is not produced for that device).
struct TSizeInfo {
  qint32 Width = 0;
  qint32 Height = 0;
  QString AndroidName;
  QString iPhoneName;
  QString iPadName;

  TSizeInfo() = default;
  // Arguments in the order the table is written: size, iPhone, iPad, Android.
  static TSizeInfo Create(qint32 X, qint32 Y, const QString& aiPhoneName, const QString& aiPadName,
                          const QString& aAndroidName) {
    TSizeInfo info;
    info.Width = X;
    info.Height = Y;
    info.iPhoneName = aiPhoneName;
    info.iPadName = aiPadName;
    info.AndroidName = aAndroidName;
    return info;
  }
};

// One ratio group, in slot order; its first entry is the largest and defines the group's ratio.
using TSizeInfos = QList<TSizeInfo>;

// The number of ratio groups of the classic set, which are the first groups.
constexpr int SizeGroupCount = sizetables::groupsSpanned(sizetables::ClassicRows);
// The number of files of the classic set.
constexpr int ClassicFileCount = int(std::size(sizetables::ClassicRows));

// The classic set's catalogue: SizeGroupCount ratio groups, ClassicFileCount entries, one entry
// per file. Empty until InitSizeInfos fills it at start-up; read-only afterwards.
extern std::array<TSizeInfos, SizeGroupCount> SizeGroups;

// True for the option-set property of an iOS app icon, Spotlight icon or Settings icon: a name
// holding "AppIcon", "Spotlight" or "Setting", letter case ignored (iPad_SpotLight80). The App
// Store rejects such icons when they have transparent pixels.
bool isiOSAppIconName(const QString& name);
// True when an entry of the group is an iOS app icon for iPhone or iPad.
bool holdsiOSAppIcons(const TSizeInfos& group);
// The group whose first entry has this size (the group of a ratio frame); nullptr for none.
const TSizeInfos* groupOfRatio(qint32 width, qint32 height);

// Fills SizeGroups from the classic set's table (idempotent: the table is rebuilt from scratch).
void InitSizeInfos();

// ---- The file sets: the catalogue of each, read by the plan ----

// The files a run makes: the classic set (fixed-size launch images, the default), or the current
// set (storyboard launch screens, notification icons, the App Store icon named).
enum class TFileSet { Classic, Current };

// Every ratio group of every set: the classic groups first (indices 0 .. SizeGroupCount - 1),
// then the launch-screen and notification groups.
constexpr int AllGroupCount = int(std::size(sizetables::GroupRows));
constexpr int LaunchScreenGroup = sizetables::LaunchScreenGroup;
constexpr int NotificationGroup = sizetables::NotificationGroup;

// The launch-screen size in points when none is set: its files are 2x and 3x of it.
constexpr int DefaultLaunchPoints = 200;

struct TGroupInfo {
  QString Key;             // in "images" and "selections": "180_180", "launch_screen"
  qint32 Width = 0;        // the group's ratio
  qint32 Height = 0;
  QString Word;            // after the stem in its files' names: "Launch", "Notification"; "" none
  QString DarkKey;         // in "images": its optional dark-mode picture ("launch_screen_dark")
  bool InPoints = false;   // its entries' sizes are scales of the launch-screen points
};

// The group of this index (0 <= group < AllGroupCount).
const TGroupInfo& groupInfo(int group);

// One file of a set: a row of its table with the names split.
struct TSetEntry {
  int Group = 0;
  qint32 Width = 0;   // pixels; in a group sized in points, the scale of the points
  qint32 Height = 0;
  bool Dark = false;          // made from the group's dark-mode picture
  bool AppStoreIcon = false;  // the App Store icon
  // The option-set properties that name the file, per device; iOS: for iPhone or iPad.
  QStringList AndroidNames;
  QStringList iPhoneNames;
  QStringList iPadNames;
  QStringList iOSNames;
};

// The set's files in run order: group by group in index order, each group's rows in table order.
const QList<TSetEntry>& setEntries(TFileSet set);
// The set's files (rows of its table), whatever the devices.
int fileCountOf(TFileSet set);
// The groups the set's files come from, in index order.
QList<int> groupsOfSet(TFileSet set);
// True when the set names the App Store icon in its iOS option set (and so always makes it).
bool namesAppStoreIcon(TFileSet set);
