#include "model/PicturePrefetch.h"

#include "catalogue/SizeInfo.h"
#include "model/RatioGroup.h"
#include "settings/Settings.h"

#include <exception>

std::unique_ptr<TKeptPrefetch> prefetchStoredPictures(TSettingsStore& settings, const QList<int>& groups,
                                                      QSize copyBound) {
  QStringList names;
  try {
    for (const int g : groups) {
      const TGroupInfo& info = groupInfo(g);
      names << settings.ResolvedPath(settings.ImageSetting(info.Key));
      if (!info.DarkKey.isEmpty())
        names << settings.ResolvedPath(settings.ImageSetting(info.DarkKey));
    }
  } catch (const std::exception&) {
    return nullptr;
  }
  names.removeAll(QString());
  return std::make_unique<TKeptPrefetch>(names, copyBound);
}

std::unique_ptr<TKeptPrefetch> prefetchStoredPictures(TSettingsStore& settings) {
  return prefetchStoredPictures(settings, groupsOfSet(TFileSet::Classic));
}
