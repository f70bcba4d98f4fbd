#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

// The data of the catalogue: the ratio groups, and for each file set one row per PNG file. Every
// count the program shows or checks (files, groups) is derived from these tables.

namespace sizetables {

// A ratio group: one picture and one selection, the source of its files in every set using it.
struct TGroupRow {
  const char* Key;      // its key in the settings file's "images" and "selections" sections
  int Width, Height;    // its ratio (the classic groups: their largest file, which names the key)
  const char* Word;     // written after the stem in its files' names: MyAppLaunch400x400.png
  const char* DarkKey;  // the key in "images" of its optional dark-mode picture; "" for none
  bool InPoints;        // its files' sizes are scales (2x, 3x) of the launch-screen points
};

// The classic groups first, in the order of their frames, then the groups only the current set uses.
inline constexpr TGroupRow GroupRows[] = {
    {"180_180", 180, 180, "", "", false},
    {"2688_1242", 2688, 1242, "", "", false},
    {"2208_1242", 2208, 1242, "", "", false},
    {"470_320", 470, 320, "", "", false},
    {"2388_1668", 2388, 1668, "", "", false},
    {"2048_1496", 2048, 1496, "", "", false},
    {"2732_2048", 2732, 2048, "", "", false},
    {"1536_2008", 1536, 2008, "", "", false},
    {"2048_2732", 2048, 2732, "", "", false},
    {"1668_2388", 1668, 2388, "", "", false},
    {"640_960", 640, 960, "", "", false},
    {"1242_2208", 1242, 2208, "", "", false},
    {"1242_2688", 1242, 2688, "", "", false},
    {"launch_screen", 1, 1, "Launch", "launch_screen_dark", true},
    {"notification", 1, 1, "Notification", "", false},
};

// One PNG file of a set: its group, its size and the option-set properties that name it, per
// device. A cell holds the names separated by spaces ("" for none); the iOS cell names the file in
// the iOS option set whenever iPhone or iPad is chosen.
struct TSizeRow {
  int Group;
  int Width, Height;  // pixels; in a group sized in points, the scale of the points (2 for 2x)
  const char* iPhone;
  const char* iPad;
  const char* Android;
  const char* iOS = "";
  bool Dark = false;          // made from the group's dark-mode picture
  bool AppStoreIcon = false;  // the App Store icon: written opaque
};

// The classic set: the properties of the IDE versions that used fixed-size launch images.
inline constexpr TSizeRow ClassicRows[] = {
    // Square icons: iPhone and iPad application, Spotlight and Settings icons, Android launcher icons.
    {0, 180, 180, "iPhone_AppIcon180", "", ""},
    {0, 152, 152, "", "iPad_AppIcon152", ""},
    {0, 76, 76, "", "iPad_AppIcon76", ""},
    {0, 120, 120, "iPhone_Spotlight120", "iPhone_AppIcon120", ""},
    {0, 57, 57, "iPhone_AppIcon57", "", ""},
    {0, 60, 60, "iPhone_AppIcon60", "", ""},
    {0, 29, 29, "iPhone_Spotlight29", "iPad_Setting29", ""},
    {0, 80, 80, "iPhone_Spotlight80", "iPad_SpotLight80", ""},
    {0, 58, 58, "iPhone_Spotlight58", "iPad_Setting58", ""},
    {0, 40, 40, "iPhone_Spotlight40", "iPad_SpotLight40", ""},
    {0, 114, 114, "iPhone_AppIcon114", "", ""},
    {0, 100, 100, "", "iPad_SpotLight100", ""},
    {0, 144, 144, "", "iPad_AppIcon144", "Android_LauncherIcon144"},
    {0, 50, 50, "", "iPad_SpotLight50", ""},
    {0, 72, 72, "", "iPad_AppIcon72", "Android_LauncherIcon72"},
    {0, 96, 96, "", "", "Android_LauncherIcon96"},
    {0, 48, 48, "", "", "Android_LauncherIcon48"},
    {0, 36, 36, "", "", "Android_LauncherIcon36"},
    {0, 87, 87, "iPhone_AppIcon87", "", ""},
    {0, 83, 83, "", "iPad_AppIcon83_5", ""},
    {0, 167, 167, "", "iPad_AppIcon167", ""},
    // iPhone launch images, landscape.
    {1, 2688, 1242, "iPhone_Launch2688x1242", "", ""},
    {1, 2436, 1125, "iPhone_Launch2436", "", ""},
    {1, 1792, 828, "iPhone_Launch1792", "", ""},
    {2, 2208, 1242, "iPhone_Launch2208", "", ""},
    {2, 1136, 640, "iPhone_Launch1136x640", "", ""},
    {2, 1334, 750, "iPhone_Launch1334", "", ""},
    // Android splash image.
    {3, 470, 320, "", "", "Android_SplashImage470"},
    // iPad launch images, landscape.
    {4, 2388, 1668, "", "iPad_Launch2388x1668", ""},
    {5, 2048, 1496, "", "iPad_Launch2048", ""},
    {5, 1024, 748, "", "iPad_Launch1024", ""},
    // iPad launch images, landscape, and Android splash images.
    {6, 2732, 2048, "", "iPad_Launch2732x2048", ""},
    {6, 2224, 1668, "", "iPad_Launch2224", ""},
    {6, 2048, 1536, "", "iPad_Launch2048x1536", ""},
    {6, 1024, 768, "", "iPad_Launch1024x768", ""},
    {6, 640, 480, "", "", "Android_SplashImage640"},
    {6, 960, 720, "", "", "Android_SplashImage960"},
    {6, 426, 320, "", "", "Android_SplashImage426"},
    // iPad launch images, portrait.
    {7, 1536, 2008, "", "iPad_Launch1536", ""},
    {7, 768, 1004, "", "iPad_Launch768", ""},
    {8, 2048, 2732, "", "iPad_Launch2048x2732", ""},
    {8, 1536, 2048, "", "iPad_Launch1536x2048", ""},
    {8, 768, 1024, "", "iPad_Launch768x1024", ""},
    {8, 1668, 2224, "", "iPad_Launch1668", ""},
    {9, 1668, 2388, "", "iPad_Launch1668x2388", ""},
    // iPhone launch images, portrait.
    {10, 640, 960, "iPhone_Launch640", "", ""},
    {10, 320, 480, "iPhone_Launch320", "", ""},
    {11, 1242, 2208, "iPhone_Launch1242", "", ""},
    {11, 750, 1334, "iPhone_Launch750", "", ""},
    {11, 640, 1136, "iPhone_Launch640x1136", "", ""},
    {12, 1242, 2688, "iPhone_Launch1242x2688", "", ""},
    {12, 1125, 2436, "iPhone_Launch1125", "", ""},
    {12, 828, 1792, "iPhone_Launch828", "", ""},
};

constexpr int groupIndexOf(std::string_view key) {
  for (std::size_t g = 0; g < std::size(GroupRows); ++g)
    if (key == GroupRows[g].Key)
      return int(g);
  return -1;
}

inline constexpr int SquareGroup = groupIndexOf("180_180");
inline constexpr int Splash470Group = groupIndexOf("470_320");
inline constexpr int FourByThreeGroup = groupIndexOf("2732_2048");
inline constexpr int LaunchScreenGroup = groupIndexOf("launch_screen");
inline constexpr int NotificationGroup = groupIndexOf("notification");

// The current set: the properties of the IDE versions with storyboard launch screens.
inline constexpr TSizeRow CurrentRows[] = {
    // Square icons: app, Spotlight, Settings and notification icons of iPhone and iPad, the App
    // Store icon, Android launcher icons.
    {SquareGroup, 180, 180, "iPhone_AppIcon180", "", ""},
    {SquareGroup, 167, 167, "", "iPad_AppIcon167", ""},
    {SquareGroup, 152, 152, "", "iPad_AppIcon152", ""},
    {SquareGroup, 120, 120, "iPhone_AppIcon120 iPhone_Spotlight120", "", ""},
    {SquareGroup, 87, 87, "iPhone_Setting87", "", ""},
    {SquareGroup, 80, 80, "iPhone_Spotlight80", "iPad_SpotLight80", ""},
    {SquareGroup, 60, 60, "iPhone_Notification60", "", ""},
    {SquareGroup, 58, 58, "iPhone_Setting58", "iPad_Setting58", ""},
    {SquareGroup, 40, 40, "iPhone_Notification40", "iPad_Notification40", ""},
    {SquareGroup, 192, 192, "", "", "Android_LauncherIcon192"},
    {SquareGroup, 144, 144, "", "", "Android_LauncherIcon144"},
    {SquareGroup, 96, 96, "", "", "Android_LauncherIcon96"},
    {SquareGroup, 72, 72, "", "", "Android_LauncherIcon72"},
    {SquareGroup, 48, 48, "", "", "Android_LauncherIcon48"},
    {SquareGroup, 36, 36, "", "", "Android_LauncherIcon36"},
    {SquareGroup, 1024, 1024, "", "", "", "iOS_AppStore1024", false, true},
    // Android splash images, from the classic groups of their ratios.
    {Splash470Group, 470, 320, "", "", "Android_SplashImage470"},
    {FourByThreeGroup, 640, 480, "", "", "Android_SplashImage640"},
    {FourByThreeGroup, 960, 720, "", "", "Android_SplashImage960"},
    {FourByThreeGroup, 426, 320, "", "", "Android_SplashImage426"},
    // Launch screens of iPhone and iPad, light and dark.
    {LaunchScreenGroup, 2, 2, "iPhone_Launch2x", "iPad_Launch2x", ""},
    {LaunchScreenGroup, 3, 3, "iPhone_Launch3x", "", ""},
    {LaunchScreenGroup, 2, 2, "iPhone_LaunchDark2x", "iPad_LaunchDark2x", "", "", true},
    {LaunchScreenGroup, 3, 3, "iPhone_LaunchDark3x", "", "", "", true},
    // Android notification icons.
    {NotificationGroup, 96, 96, "", "", "Android_NotificationIcon96"},
    {NotificationGroup, 72, 72, "", "", "Android_NotificationIcon72"},
    {NotificationGroup, 48, 48, "", "", "Android_NotificationIcon48"},
    {NotificationGroup, 36, 36, "", "", "Android_NotificationIcon36"},
    {NotificationGroup, 24, 24, "", "", "Android_NotificationIcon24"},
};

// The number of groups a table's rows use: one past the highest group index.
template <std::size_t N>
constexpr int groupsSpanned(const TSizeRow (&rows)[N]) {
  int count = 0;
  for (const TSizeRow& r : rows)
    count = r.Group + 1 > count ? r.Group + 1 : count;
  return count;
}

// Every group the tables name by its key exists.
static_assert(SquareGroup == 0 && Splash470Group >= 0 && FourByThreeGroup >= 0 && LaunchScreenGroup >= 0 &&
              NotificationGroup >= 0);
static_assert(groupsSpanned(CurrentRows) <= int(std::size(GroupRows)));

}  // namespace sizetables
