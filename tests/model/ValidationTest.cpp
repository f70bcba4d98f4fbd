#include "model/Validation.h"

#include "catalogue/SizeInfo.h"
#include "model/RatioGroup.h"

#include <QImage>

#include <gtest/gtest.h>

#include <limits>

namespace {

// Two groups whose picture lies on 0,0 - 100,100 of the preview, with selections inside it.
TSetupCheck cleanSetup() {
  TSetupCheck s;
  const TRectF picture{0, 0, 100, 100};
  s.Groups = {{QStringLiteral("1:1"), true, TRectF{0, 0, 50, 50}, picture},
              {QStringLiteral("2.16:1"), true, TRectF{0, 0, 100, 46}, picture}};
  s.BaseName = QStringLiteral("/out/MyApp.png");
  s.SourcesInTheWay = [] { return QStringList(); };
  return s;
}

}  // namespace

// The check's log lines and verdict, as opening the Generate tab shows them.
TEST(Validation, LogsEachFindingAndGivesTheVerdict) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Row {
    const char* says;
    std::function<void(TSetupCheck&)> change;
    bool ok;
    QStringList expected;  // lines that must be there, one after the other
  } rows[] = {
      {"a clean setup passes with every line Ok", [](TSetupCheck&) {}, true,
       {"Validating Ratio Inputs...", "   Validating 1:1...", "      Bitmap Ok", "      Selection rectangle Ok",
        "   Validating 2.16:1...", "      Bitmap Ok", "      Selection rectangle Ok", "Validating Outputs..."}},
      {"a group without picture", [](TSetupCheck& s) { s.Groups[1].HasPicture = false; }, false,
       {"   Validating 2.16:1...", "      INVALID Bitmap (Empty)", "      Selection rectangle Ok"}},
      {"an empty selection", [](TSetupCheck& s) { s.Groups[0].SelectRect = TRectF{10, 10, 10, 20}; }, false,
       {"   Validating 1:1...", "      Bitmap Ok", "      INVALID Selection rectangle (Empty)"}},
      {"a selection that is not a number is empty",
       [nan](TSetupCheck& s) { s.Groups[0].SelectRect = TRectF{0, 0, nan, 50}; }, false,
       {"      INVALID Selection rectangle (Empty)"}},
      {"a selection beside the picture", [](TSetupCheck& s) { s.Groups[0].SelectRect = TRectF{120, 0, 170, 50}; },
       false, {"   Validating 1:1...", "      Bitmap Ok", "      INVALID Selection rectangle (outside the picture)"}},
      {"without a picture only the picture is reported",
       [](TSetupCheck& s) {
         s.Groups[0].HasPicture = false;
         s.Groups[0].SelectRect = TRectF{120, 0, 170, 50};
       },
       false, {"   Validating 1:1...", "      INVALID Bitmap (Empty)", "      Selection rectangle Ok"}},
      {"a base name that is no path", [](TSetupCheck& s) { s.BaseName = QStringLiteral("/out/a|b.png"); }, false,
       {"Validating Outputs...", "   Incorrect path for base name: /out/a|b.png"}},
      {"an empty base name", [](TSetupCheck& s) { s.BaseName.clear(); }, false,
       {"Validating Outputs...", "   Incorrect path for base name: "}},
      {"a base name without folder", [](TSetupCheck& s) { s.BaseName = QStringLiteral("MyApp.png"); }, false,
       {"Validating Outputs...", "   No directory found at specified path for base name: MyApp.png"}},
      {"outputs over the source pictures",
       [](TSetupCheck& s) { s.SourcesInTheWay = [] { return QStringList{"/out/a.png", "/out/b.png"}; }; }, false,
       {"Validating Outputs...", "   INVALID Output would overwrite the source picture /out/a.png",
        "   INVALID Output would overwrite the source picture /out/b.png"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.says);
    TSetupCheck setup = cleanSetup();
    row.change(setup);
    const TSetupVerdict verdict = checkSetup(setup);
    EXPECT_FALSE(verdict.NoDevice);
    EXPECT_EQ(verdict.Ok, row.ok);
    // 1 + 3 per group + 1 lines, then the findings of the outputs.
    EXPECT_GE(verdict.Lines.size(), 8);
    const qsizetype at = verdict.Lines.indexOf(row.expected.first());
    EXPECT_EQ(verdict.Lines.mid(at, row.expected.size()).join(u'\n').toStdString(), row.expected.join(u'\n').toStdString());
    if (row.ok)
      EXPECT_EQ(verdict.Lines.join(u'\n').toStdString(), row.expected.join(u'\n').toStdString());
  }
}

TEST(Validation, NoDeviceEndsTheCheckBeforeAnyLine) {
  TSetupCheck setup = cleanSetup();
  setup.Android = setup.iPhone = setup.iPad = false;
  const TSetupVerdict verdict = checkSetup(setup);
  EXPECT_TRUE(verdict.NoDevice);
  EXPECT_FALSE(verdict.Ok);
  EXPECT_TRUE(verdict.Lines.isEmpty());
  EXPECT_EQ(NoDeviceMessage, QStringLiteral("An output device must be checked"));
  for (auto only : {&TSetupCheck::Android, &TSetupCheck::iPhone, &TSetupCheck::iPad}) {
    TSetupCheck one = cleanSetup();
    one.Android = one.iPhone = one.iPad = false;
    one.*only = true;
    EXPECT_TRUE(checkSetup(one).Ok);
  }
}

// The files are looked at only when the base file name is otherwise in order.
TEST(Validation, AsksForTheSourcesInTheWayOnlyForAUsableBaseName) {
  for (const auto& [baseName, asked] : {std::pair{"/out/MyApp.png", true}, std::pair{"MyApp.png", false},
                                        std::pair{"/out/a<b.png", false}}) {
    TSetupCheck setup = cleanSetup();
    setup.BaseName = QString::fromLatin1(baseName);
    bool called = false;
    setup.SourcesInTheWay = [&called] {
      called = true;
      return QStringList();
    };
    checkSetup(setup);
    EXPECT_EQ(called, asked) << baseName;
  }
}

// A group whose files are drawn from the alpha alone (the notification icons) is warned about when
// its selection holds no transparent pixel: the warning follows its lines and fails nothing. Another
// group, or a selection that takes in a transparent pixel, gets no warning.
TEST(Validation, AnOpaqueNotificationSelectionIsWarnedAbout) {
  QImage picture(40, 40, QImage::Format_ARGB32);
  picture.fill(qRgba(200, 30, 30, 255));
  picture.setPixel(39, 39, qRgba(0, 0, 0, 0));
  TRatioGroup group = ratioGroupOf(NotificationGroup);
  TBitmap bitmap;
  bitmap.Assign(picture);
  group.Picture = bitmap;
  const TRectF image = group.ImageRect();
  const TRectF whole = image;
  const TRectF topLeft{image.Left, image.Top, image.Left + 20, image.Top + 20};
  const QString warning =
      QStringLiteral("      WARNING The notification icon will be a plain square: use a picture with transparent parts.");
  const struct {
    const char* what;
    TRectF selection;
    bool alphaOnly;
    bool warned;
  } cases[] = {
      {"an opaque selection of the notification group", topLeft, true, true},
      {"a selection taking in the transparent corner", whole, true, false},
      {"an opaque selection of another group", topLeft, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    group.SelectRect = c.selection;
    TSetupCheck setup = cleanSetup();
    setup.Groups = {groupCheckOf(group, c.alphaOnly)};
    const TSetupVerdict verdict = checkSetup(setup);
    EXPECT_TRUE(verdict.Ok);
    const QStringList expected = {"   Validating notification (1:1)...", "      Bitmap Ok", "      Selection rectangle Ok"};
    EXPECT_EQ(verdict.Lines.mid(1, 4).join(u'\n').toStdString(),
              (expected + QStringList{c.warned ? warning : "Validating Outputs..."}).join(u'\n').toStdString());
  }
}
