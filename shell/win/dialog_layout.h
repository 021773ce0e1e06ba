#pragma once

#include <vector>

// Where each control of the player's Windows dialog goes, in pixels, for a
// client area of a given size on a monitor of a given DPI. The same layout
// as the Qt window: at its smallest the written one; made larger, the
// playlist, the status line and the notice line take the room.
namespace shell::win {

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int Right() const { return x + width; }
  int Bottom() const { return y + height; }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

struct Placement {
  int id = 0;  // the control's identifier in resource.h
  PixelRect where;
  friend bool operator==(const Placement&, const Placement&) = default;
};

// 96 DPI: one pixel per written pixel.
inline constexpr int kBaseDpi = 96;
// The written client area at 96 DPI.
inline constexpr int kClientWidth = 845;
inline constexpr int kClientHeight = 530;

// A length of the written layout at `dpi`, rounded to the nearest pixel.
int Scale(int length, int dpi);

// The smallest client area at `dpi`: the written one.
PixelRect MinimumClient(int dpi);

// Every control's place for a client area of `width` x `height` pixels at
// `dpi`. A client smaller than the written one keeps the written layout
// (cut off at the edges) rather than crushing controls into each other.
std::vector<Placement> LayOut(int width, int height, int dpi);

}  // namespace shell::win
