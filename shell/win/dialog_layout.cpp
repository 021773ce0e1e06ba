#include "shell/win/dialog_layout.h"

#include <algorithm>

#include "shell/win/resource.h"

namespace shell::win {
namespace {

// How a control follows the client area beyond its written size: moves
// right or down with the room, or grows into it.
enum Follow : unsigned {
  kFixed = 0,
  kMoveX = 1,
  kMoveY = 2,
  kGrowX = 4,
  kGrowY = 8,
};

struct Written {
  int id;
  PixelRect where;  // at 96 DPI in the written client area
  unsigned follow;
};

// The Qt window's places, each relative to the client area (a control
// inside a frame at the frame's place plus its own).
constexpr Written kWritten[] = {
    {IDC_FRAME2, {8, 8, 449, 136}, kFixed},
    {IDC_LBL_PORT, {20, 38, 110, 22}, kFixed},
    {IDC_CBOPORT, {138, 38, 150, 22}, kFixed},
    {IDC_LBL_DATARATE, {20, 72, 110, 22}, kFixed},
    {IDC_CBODATARATE, {138, 72, 150, 22}, kFixed},
    {IDC_LBL_FRAMECOMP, {20, 106, 110, 22}, kFixed},
    {IDC_CBOFRAMECOMP, {138, 106, 150, 22}, kFixed},
    {IDC_CMDPHONEPAGE, {308, 106, 137, 22}, kFixed},
    {IDC_FRAME4, {8, 152, 449, 104}, kFixed},
    {IDC_LBL_STARTTIME, {20, 182, 110, 22}, kFixed},
    {IDC_CBOSTARTTIME, {138, 182, 150, 22}, kFixed},
    {IDC_LBL_ENDTIME, {20, 216, 110, 22}, kFixed},
    {IDC_CBOENDTIME, {138, 216, 150, 22}, kFixed},
    {IDC_FRAME3, {8, 264, 449, 120}, kFixed},
    {IDC_CMDSHOWSTART, {20, 294, 206, 70}, kFixed},
    {IDC_CMDSTOP, {239, 294, 206, 70}, kFixed},
    {IDC_LBLPHONEPAGE, {20, 364, 425, 18}, kFixed},
    {IDC_WINDOWSMEDIA, {8, 392, 449, 78}, kFixed},
    // What plays (three lines), how far it is, and the note under it.
    {IDC_LBLNOWPLAYING, {18, 395, 429, 42}, kFixed},
    {IDC_LBLPLAYINGTIME, {18, 437, 429, 15}, kFixed},
    {IDC_LBLPLAYINGNOTE, {18, 453, 429, 15}, kFixed},
    {IDC_FRAME1, {465, 8, 372, 462}, kGrowX | kGrowY},
    {IDC_LSTPLAYLIST, {475, 32, 352, 348}, kGrowX | kGrowY},
    {IDC_CMDPLAYLISTADD, {475, 390, 82, 28}, kMoveY},
    {IDC_CMDPLAYLISTREMOVE, {565, 390, 82, 28}, kMoveY},
    {IDC_CMDPLAYLISTMOVEUP, {655, 390, 82, 28}, kMoveY},
    {IDC_CMDPLAYLISTMOVEDOWN, {745, 390, 82, 28}, kMoveY},
    {IDC_CHKPERFORMBITMASK, {475, 434, 20, 22}, kMoveY},
    {IDC_LABEL7, {497, 434, 330, 22}, kMoveY | kGrowX},
    {IDC_LBLSTATUS, {8, 478, 721, 22}, kMoveY | kGrowX},
    {IDC_TEXT1, {737, 478, 48, 22}, kMoveX | kMoveY},
    {IDC_TEXT2, {789, 478, 48, 22}, kMoveX | kMoveY},
    {IDC_LBLNOTICE, {8, 502, 829, 22}, kMoveY | kGrowX},
};

// Shown while an import runs, centred across the window's lower part: over
// the song's area and the playlist's buttons, which have nothing to show or
// take then, and clear of the message boxes the import may open (Windows
// centres them on the monitor, as the window is at first; Qt on the window)
// and of the status line. It keeps its distance from the bottom edge.
constexpr PixelRect kImporting{0, 388, 460, 86};
constexpr int kImportingMargin = 10;

}  // namespace

int Scale(int length, int dpi) {
  // Rounded half away from zero, for negative offsets too.
  const long long scaled = static_cast<long long>(length) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + kBaseDpi / 2) / kBaseDpi
                                      : -((-scaled + kBaseDpi / 2) / kBaseDpi));
}

PixelRect MinimumClient(int dpi) {
  return {0, 0, Scale(kClientWidth, dpi), Scale(kClientHeight, dpi)};
}

std::vector<Placement> LayOut(int width, int height, int dpi) {
  if (dpi <= 0) dpi = kBaseDpi;
  const PixelRect minimum = MinimumClient(dpi);
  const int dx = std::max(0, width - minimum.width);
  const int dy = std::max(0, height - minimum.height);
  std::vector<Placement> places;
  places.reserve(std::size(kWritten) + 2);
  for (const Written& c : kWritten) {
    // Each edge is scaled on its own, so neighbours written edge to edge
    // stay so at every DPI.
    PixelRect r{Scale(c.where.x, dpi), Scale(c.where.y, dpi), 0, 0};
    r.width = Scale(c.where.Right(), dpi) - r.x;
    r.height = Scale(c.where.Bottom(), dpi) - r.y;
    if (c.follow & kMoveX) r.x += dx;
    if (c.follow & kMoveY) r.y += dy;
    if (c.follow & kGrowX) r.width += dx;
    if (c.follow & kGrowY) r.height += dy;
    places.push_back({c.id, r});
  }
  const int panelWidth = Scale(kImporting.width, dpi);
  const int panelHeight = Scale(kImporting.height, dpi);
  const PixelRect panel{(std::max(width, minimum.width) - panelWidth) / 2,
                        Scale(kImporting.y, dpi) + dy, panelWidth, panelHeight};
  const int margin = Scale(kImportingMargin, dpi);
  places.push_back({IDC_FRMIMPORTING, panel});
  places.push_back(
      {IDC_LBLIMPORTING,
       {panel.x + margin, panel.y + margin, panel.width - 2 * margin, panel.height - 2 * margin}});
  return places;
}

}  // namespace shell::win
