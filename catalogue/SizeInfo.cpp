#include "catalogue/SizeInfo.h"

std::array<TSizeInfos, SizeGroupCount> SizeGroups;

void InitSizeInfos() {
  auto S = [](qint32 w, qint32 h, const char* iPhone, const char* iPad, const char* android) {
    return TSizeInfo::Create(w, h, QString::fromLatin1(iPhone), QString::fromLatin1(iPad),
                             QString::fromLatin1(android));
  };
  // Square icons: iPhone and iPad application, Spotlight and Settings icons, Android launcher icons.
  SizeGroups[0] = {
      S(180, 180, "iPhone_AppIcon180", "", ""),
      S(152, 152, "", "iPad_AppIcon152", ""),
      S(76, 76, "", "iPad_AppIcon76", ""),
      S(120, 120, "iPhone_Spotlight120", "iPhone_AppIcon120", ""),
      S(57, 57, "iPhone_AppIcon57", "", ""),
      S(60, 60, "iPhone_AppIcon60", "", ""),
      S(29, 29, "iPhone_Spotlight29", "iPad_Setting29", ""),
      S(80, 80, "iPhone_Spotlight80", "iPad_SpotLight80", ""),
      S(58, 58, "iPhone_Spotlight58", "iPad_Setting58", ""),
      S(40, 40, "iPhone_Spotlight40", "iPad_SpotLight40", ""),
      S(114, 114, "iPhone_AppIcon114", "", ""),
      S(100, 100, "", "iPad_SpotLight100", ""),
      S(144, 144, "", "iPad_AppIcon144", "Android_LauncherIcon144"),
      S(50, 50, "", "iPad_SpotLight50", ""),
      S(72, 72, "", "iPad_AppIcon72", "Android_LauncherIcon72"),
      S(96, 96, "", "", "Android_LauncherIcon96"),
      S(48, 48, "", "", "Android_LauncherIcon48"),
      S(36, 36, "", "", "Android_LauncherIcon36"),
      S(87, 87, "iPhone_AppIcon87", "", ""),
      S(83, 83, "", "iPad_AppIcon83_5", ""),
      S(167, 167, "", "iPad_AppIcon167", ""),
  };
  // iPhone launch images, landscape.
  SizeGroups[1] = {
      S(2688, 1242, "iPhone_Launch2688x1242", "", ""),
      S(2436, 1125, "iPhone_Launch2436", "", ""),
      S(1792, 828, "iPhone_Launch1792", "", ""),
  };
  SizeGroups[2] = {
      S(2208, 1242, "iPhone_Launch2208", "", ""),
      S(1136, 640, "iPhone_Launch1136x640", "", ""),
      S(1334, 750, "iPhone_Launch1334", "", ""),
  };
  // Android splash image.
  SizeGroups[3] = {S(470, 320, "", "", "Android_SplashImage470")};
  // iPad launch images, landscape.
  SizeGroups[4] = {S(2388, 1668, "", "iPad_Launch2388x1668", "")};
  SizeGroups[5] = {
      S(2048, 1496, "", "iPad_Launch2048", ""),
      S(1024, 748, "", "iPad_Launch1024", ""),
  };
  // iPad launch images, landscape, and Android splash images.
  SizeGroups[6] = {
      S(2732, 2048, "", "iPad_Launch2732x2048", ""),
      S(2224, 1668, "", "iPad_Launch2224", ""),
      S(2048, 1536, "", "iPad_Launch2048x1536", ""),
      S(1024, 768, "", "iPad_Launch1024x768", ""),
      S(640, 480, "", "", "Android_SplashImage640"),
      S(960, 720, "", "", "Android_SplashImage960"),
      S(426, 320, "", "", "Android_SplashImage426"),
  };
  // iPad launch images, portrait.
  SizeGroups[7] = {
      S(1536, 2008, "", "iPad_Launch1536", ""),
      S(768, 1004, "", "iPad_Launch768", ""),
  };
  SizeGroups[8] = {
      S(2048, 2732, "", "iPad_Launch2048x2732", ""),
      S(1536, 2048, "", "iPad_Launch1536x2048", ""),
      S(768, 1024, "", "iPad_Launch768x1024", ""),
      S(1668, 2224, "", "iPad_Launch1668", ""),
  };
  SizeGroups[9] = {S(1668, 2388, "", "iPad_Launch1668x2388", "")};
  // iPhone launch images, portrait.
  SizeGroups[10] = {
      S(640, 960, "iPhone_Launch640", "", ""),
      S(320, 480, "iPhone_Launch320", "", ""),
  };
  SizeGroups[11] = {
      S(1242, 2208, "iPhone_Launch1242", "", ""),
      S(750, 1334, "iPhone_Launch750", "", ""),
      S(640, 1136, "iPhone_Launch640x1136", "", ""),
  };
  SizeGroups[12] = {
      S(1242, 2688, "iPhone_Launch1242x2688", "", ""),
      S(1125, 2436, "iPhone_Launch1125", "", ""),
      S(828, 1792, "iPhone_Launch828", "", ""),
  };
}

bool isiOSAppIconName(const QString& name) {
  for (const char* part : {"AppIcon", "Spotlight", "Setting"})
    if (name.contains(QLatin1String(part), Qt::CaseInsensitive))
      return true;
  return false;
}

bool holdsiOSAppIcons(const TSizeInfos& group) {
  for (const TSizeInfo& e : group)
    if (isiOSAppIconName(e.iPhoneName) || isiOSAppIconName(e.iPadName))
      return true;
  return false;
}

const TSizeInfos* groupOfRatio(qint32 width, qint32 height) {
  for (const TSizeInfos& group : SizeGroups)
    if (!group.isEmpty() && group.constFirst().Width == width && group.constFirst().Height == height)
      return &group;
  return nullptr;
}
