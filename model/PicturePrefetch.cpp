#include "model/PicturePrefetch.h"

#include "catalogue/SizeInfo.h"
#include "settings/Settings.h"

#include <exception>

std::unique_ptr<TPicturePrefetch> prefetchStoredPictures(TSettingsStore& settings) {
  QStringList names;
  try {
    for (const TSizeInfos& group : SizeGroups) {
      if (group.isEmpty())
        continue;
      // The frame's size key (TRatioFrame::SizeStr) of the group's first entry.
      const QString key = QString::number(group.constFirst().Width) + QLatin1Char('_') +
                          QString::number(group.constFirst().Height);
      names << settings.ResolvedPath(settings.ImageSetting(key));
    }
  } catch (const std::exception&) {
    return nullptr;
  }
  return std::make_unique<TPicturePrefetch>(names);
}
