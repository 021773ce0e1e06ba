#include "shell/win/dialog_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "shell/win/resource.h"

namespace shell::win {
namespace {

std::map<int, PixelRect> ById(const std::vector<Placement>& places) {
  std::map<int, PixelRect> byId;
  for (const Placement& p : places) {
    EXPECT_TRUE(byId.emplace(p.id, p.where).second) << "control " << p.id << " placed twice";
  }
  return byId;
}

bool Overlap(const PixelRect& a, const PixelRect& b) {
  return a.x < b.Right() && b.x < a.Right() && a.y < b.Bottom() && b.y < a.Bottom();
}

// Controls that are drawn around or over others on purpose: the frames,
// the audio player's area and the import panel.
const std::set<int> kContainers = {IDC_FRAME1,       IDC_FRAME2,       IDC_FRAME3,      IDC_FRAME4,
                                   IDC_WINDOWSMEDIA, IDC_FRMIMPORTING, IDC_LBLIMPORTING};

class LayoutAtDpi : public ::testing::TestWithParam<int> {};

TEST_P(LayoutAtDpi, SmallestClientHoldsEveryControlWithoutOverlaps) {
  const int dpi = GetParam();
  const PixelRect client = MinimumClient(dpi);
  const auto places = ById(LayOut(client.width, client.height, dpi));
  EXPECT_EQ(places.size(), 35u);
  for (const auto& [id, r] : places) {
    EXPECT_GT(r.width, 0) << id;
    EXPECT_GT(r.height, 0) << id;
    EXPECT_GE(r.x, 0) << id;
    EXPECT_GE(r.y, 0) << id;
    EXPECT_LE(r.Right(), client.width) << id;
    EXPECT_LE(r.Bottom(), client.height) << id;
  }
  for (const auto& [a, ra] : places) {
    for (const auto& [b, rb] : places) {
      if (a < b && !kContainers.count(a) && !kContainers.count(b)) {
        EXPECT_FALSE(Overlap(ra, rb)) << "controls " << a << " and " << b << " at " << dpi;
      }
    }
  }
  // Each control inside its frame.
  const std::pair<int, int> inside[] = {
      {IDC_CBOPORT, IDC_FRAME2},      {IDC_CMDPHONEPAGE, IDC_FRAME2},
      {IDC_CBOFRAMECOMP, IDC_FRAME2}, {IDC_CBOENDTIME, IDC_FRAME4},
      {IDC_CMDSTOP, IDC_FRAME3},      {IDC_LSTPLAYLIST, IDC_FRAME1},
      {IDC_LABEL7, IDC_FRAME1},       {IDC_LBLPLAYINGNOTE, IDC_WINDOWSMEDIA}};
  for (const auto& [control, frame] : inside) {
    const PixelRect& c = places.at(control);
    const PixelRect& f = places.at(frame);
    EXPECT_TRUE(c.x >= f.x && c.y >= f.y && c.Right() <= f.Right() && c.Bottom() <= f.Bottom())
        << control << " outside " << frame << " at " << dpi;
  }
}

TEST_P(LayoutAtDpi, LargerClientGoesToThePlaylistAndTheBottomLines) {
  const int dpi = GetParam();
  const PixelRect client = MinimumClient(dpi);
  const auto small = ById(LayOut(client.width, client.height, dpi));
  const auto large = ById(LayOut(client.width + 300, client.height + 120, dpi));
  EXPECT_EQ(large.at(IDC_LSTPLAYLIST).width, small.at(IDC_LSTPLAYLIST).width + 300);
  EXPECT_EQ(large.at(IDC_LSTPLAYLIST).height, small.at(IDC_LSTPLAYLIST).height + 120);
  EXPECT_EQ(large.at(IDC_LBLSTATUS).width, small.at(IDC_LBLSTATUS).width + 300);
  EXPECT_EQ(large.at(IDC_LBLNOTICE).Bottom(), small.at(IDC_LBLNOTICE).Bottom() + 120);
  // The counters keep their size and their margin to the right edge.
  EXPECT_EQ(large.at(IDC_TEXT2).width, small.at(IDC_TEXT2).width);
  EXPECT_EQ(client.width + 300 - large.at(IDC_TEXT2).Right(),
            client.width - small.at(IDC_TEXT2).Right());
  EXPECT_LT(large.at(IDC_LBLSTATUS).Right(), large.at(IDC_TEXT1).x);
  // The left column and the setting lists stay where they were written.
  for (int id : {IDC_FRAME2, IDC_CBOPORT, IDC_CMDSHOWSTART, IDC_CMDSTOP, IDC_WINDOWSMEDIA}) {
    EXPECT_EQ(large.at(id), small.at(id)) << id;
  }
  // The import panel stays centred across, and low: a message box centred
  // on the window (up to 240 pixels tall at 96 DPI) leaves it clear, and it
  // leaves the status line clear.
  for (const auto& [places, room] : {std::pair{&small, 0}, std::pair{&large, 120}}) {
    const PixelRect& panel = places->at(IDC_FRMIMPORTING);
    const int width = client.width + (room == 0 ? 0 : 300);
    const int height = client.height + room;
    EXPECT_LE(std::abs(panel.x * 2 + panel.width - width), 1);
    EXPECT_GE(panel.y, height / 2 + Scale(120, dpi));
    EXPECT_LE(panel.Bottom(), places->at(IDC_LBLSTATUS).y);
  }
}

TEST_P(LayoutAtDpi, ClientBelowTheSmallestKeepsTheWrittenLayout) {
  const int dpi = GetParam();
  const PixelRect client = MinimumClient(dpi);
  EXPECT_EQ(LayOut(client.width / 2, client.height / 3, dpi),
            LayOut(client.width, client.height, dpi));
}

INSTANTIATE_TEST_SUITE_P(Dpis, LayoutAtDpi, ::testing::Values(96, 120, 144, 168, 192, 288));

TEST(DialogLayout, WrittenPlacesAt96Dpi) {
  const auto places = ById(LayOut(kClientWidth, kClientHeight, kBaseDpi));
  const std::pair<int, PixelRect> written[] = {
      {IDC_FRAME2, {8, 8, 449, 136}},     {IDC_CMDSHOWSTART, {20, 294, 206, 70}},
      {IDC_FRAME1, {465, 8, 372, 462}},   {IDC_LSTPLAYLIST, {475, 32, 352, 348}},
      {IDC_LBLSTATUS, {8, 478, 721, 22}}, {IDC_TEXT1, {737, 478, 48, 22}},
      {IDC_TEXT2, {789, 478, 48, 22}},    {IDC_FRMIMPORTING, {192, 388, 460, 86}},
  };
  for (const auto& [id, where] : written) EXPECT_EQ(places.at(id), where) << id;
}

TEST(DialogLayout, ScaleRoundsToTheNearestPixelBothWays) {
  const struct {
    int length, dpi, expected;
  } cases[] = {{845, 96, 845}, {845, 144, 1268}, {1, 120, 1}, {3, 120, 4},
               {-5, 144, -8},  {0, 192, 0},      {8, 0, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(Scale(c.length, c.dpi), c.expected) << c.length << "@" << c.dpi;
  // No DPI known: the written layout.
  EXPECT_EQ(LayOut(kClientWidth, kClientHeight, 0), LayOut(kClientWidth, kClientHeight, kBaseDpi));
}

}  // namespace
}  // namespace shell::win
