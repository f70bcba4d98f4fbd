#include "catalogue/SizeInfo.h"

#include <algorithm>

std::array<TSizeInfos, SizeGroupCount> SizeGroups;

namespace {

QStringList namesOf(const char* cell) {
  return QString::fromLatin1(cell).split(u' ', Qt::SkipEmptyParts);
}

TSetEntry entryOf(const sizetables::TSizeRow& row) {
  TSetEntry e;
  e.Group = row.Group;
  e.Width = row.Width;
  e.Height = row.Height;
  e.Dark = row.Dark;
  e.AppStoreIcon = row.AppStoreIcon;
  e.AndroidNames = namesOf(row.Android);
  e.iPhoneNames = namesOf(row.iPhone);
  e.iPadNames = namesOf(row.iPad);
  e.iOSNames = namesOf(row.iOS);
  return e;
}

// A table's rows as entries, group by group in index order (rows of one group keep their order).
template <std::size_t N>
QList<TSetEntry> entriesOf(const sizetables::TSizeRow (&rows)[N]) {
  QList<TSetEntry> entries;
  for (const sizetables::TSizeRow& row : rows)
    entries.append(entryOf(row));
  std::stable_sort(entries.begin(), entries.end(),
                   [](const TSetEntry& a, const TSetEntry& b) { return a.Group < b.Group; });
  return entries;
}

QList<TGroupInfo> groupInfos() {
  QList<TGroupInfo> groups;
  for (const sizetables::TGroupRow& row : sizetables::GroupRows) {
    TGroupInfo g;
    g.Key = QString::fromLatin1(row.Key);
    g.Width = row.Width;
    g.Height = row.Height;
    g.Word = QString::fromLatin1(row.Word);
    g.DarkKey = QString::fromLatin1(row.DarkKey);
    g.InPoints = row.InPoints;
    groups.append(g);
  }
  return groups;
}

}  // namespace

void InitSizeInfos() {
  for (TSizeInfos& group : SizeGroups)
    group.clear();
  for (const sizetables::TSizeRow& row : sizetables::ClassicRows)
    SizeGroups[row.Group].append(TSizeInfo::Create(row.Width, row.Height, QString::fromLatin1(row.iPhone),
                                                   QString::fromLatin1(row.iPad), QString::fromLatin1(row.Android)));
}

const TGroupInfo& groupInfo(int group) {
  static const QList<TGroupInfo> groups = groupInfos();
  return groups.at(group);
}

const QList<TSetEntry>& setEntries(TFileSet set) {
  static const QList<TSetEntry> classic = entriesOf(sizetables::ClassicRows);
  static const QList<TSetEntry> current = entriesOf(sizetables::CurrentRows);
  return set == TFileSet::Current ? current : classic;
}

int fileCountOf(TFileSet set) {
  return int(setEntries(set).size());
}

QList<int> groupsOfSet(TFileSet set) {
  QList<int> groups;
  for (const TSetEntry& e : setEntries(set))
    if (groups.isEmpty() || groups.constLast() != e.Group)
      groups.append(e.Group);
  return groups;
}

bool namesAppStoreIcon(TFileSet set) {
  for (const TSetEntry& e : setEntries(set))
    if (e.AppStoreIcon)
      return true;
  return false;
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
