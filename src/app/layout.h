// The main window's fixed design, in twips (1/1440 inch), and its conversion to pixels.
#pragma once

namespace app {

constexpr int kTwipsPerInch = 1440;
constexpr int kClientWidthTwips = 7695;
constexpr int kClientHeightTwips = 7215;
constexpr int kColumn1WidthTwips = 6000;
constexpr int kColumn2WidthTwips = 1;

struct TwipRect {
  int left, top, width, height;
};

// Controls in tab order.
enum Control { kCheck5, kCheck6, kCheck3, kCheck4, kCheck8, kListView1, kControlCount };

struct ControlDesign {
  int id;
  const wchar_t* caption;
  TwipRect rect;
  double fontPoints;
  bool pushLike;
};

inline constexpr ControlDesign kDesign[kControlCount] = {
    {105, L"Put Selected Entry Onto Clipboard", {120, 5760, 2415, 1335}, 11.25, true},
    {106, L"Clear Entries", {2640, 5760, 2415, 1335}, 11.25, true},
    {103, L"View Save Log", {5160, 5760, 2415, 1335}, 11.25, true},
    {104, L"Load this software on Windows startup", {120, 5400, 3930, 330}, 9, false},
    {108, L"Start in system tray", {4080, 5400, 2580, 330}, 9, false},
    {101, L"Saved Clipboard Entries", {120, 120, 7455, 5265}, 9, false},  // read out, never drawn
};

constexpr int TwipsToPixels(int twips, int dpi) {
  return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}
// Character height in pixels of a font of the given size, for a negative LOGFONT height.
constexpr int PointsToPixels(double points, int dpi) {
  return static_cast<int>(points * dpi / 72.0 + 0.5);
}

}  // namespace app
