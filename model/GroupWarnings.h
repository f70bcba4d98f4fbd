#pragma once

#include <QList>
#include <QSize>
#include <QString>

class TRatioGroup;

// The warnings of a group's picture and selection: the frame shows them and the command line prints
// them. None of them fails anything.

// Shown while the group holds iOS app icons for a checked iPhone or iPad and the selected region
// has a pixel that is not fully opaque.
extern const QString TransparencyWarning;
// The selection has fewer pixels than the largest output made from it.
QString enlargedWarning(int selectedWidth, int selectedHeight, int outputWidth, int outputHeight);

// The largest of the sizes (by pixels); an empty size for none.
QSize largestOutput(const QList<QSize>& outputs);

struct TGroupWarnings {
  bool Transparency = false;
  QString Enlarged;          // empty for none
  bool PlainSquare = false;  // an alpha-only group's selection without a transparent pixel
};

// The warnings of the group made into outputs of these sizes: appIcons when they hold iOS app icons
// for a checked iPhone or iPad, alphaOnly when they are drawn from the alpha alone. The opacity is
// read from the map the group's kept picture holds.
TGroupWarnings groupWarnings(const TRatioGroup& source, const QList<QSize>& outputs, bool appIcons, bool alphaOnly);
