#pragma once

#include "imaging/KeptPicture.h"
#include "model/RatioGroup.h"
#include "settings/Settings.h"

#include <QList>
#include <memory>

// The pictures that the ratio groups restore from the settings file, loaded ahead as the groups
// keep them (TKeptPrefetch: each decoded and reduced to its preview copy at once, two at a time).
// Groups restored while the result is held take their pictures from it, in their own order and
// with their own errors; a settings file that cannot be read prefetches nothing (the groups then
// report it themselves).

// The stored pictures of these groups (their dark-mode pictures included), for groups that keep
// copies of that bound (TRatioGroup::CopyBound).
std::unique_ptr<TKeptPrefetch> prefetchStoredPictures(TSettingsStore& settings, const QList<int>& groups,
                                                      QSize copyBound = TRatioGroup::PreviewCopyBound);
// Those of the classic groups, which the window always restores.
std::unique_ptr<TKeptPrefetch> prefetchStoredPictures(TSettingsStore& settings);
