#pragma once

#include <QList>
#include <QString>
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

constexpr int SizeGroupCount = 13;

// The output catalogue: 13 ratio groups, 53 entries. Empty until InitSizeInfos fills it at
// start-up; read-only afterwards.
extern std::array<TSizeInfos, SizeGroupCount> SizeGroups;

// True for the option-set property of an iOS app icon, Spotlight icon or Settings icon: a name
// holding "AppIcon", "Spotlight" or "Setting", letter case ignored (iPad_SpotLight80). The App
// Store rejects such icons when they have transparent pixels.
bool isiOSAppIconName(const QString& name);
// True when an entry of the group is an iOS app icon for iPhone or iPad.
bool holdsiOSAppIcons(const TSizeInfos& group);
// The group whose first entry has this size (the group of a ratio frame); nullptr for none.
const TSizeInfos* groupOfRatio(qint32 width, qint32 height);

// Fills SizeGroups with the fixed catalogue (idempotent: the table is rebuilt from scratch).
void InitSizeInfos();
