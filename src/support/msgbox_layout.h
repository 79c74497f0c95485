#pragma once
// The text work and the layout of the program's own message box window, kept
// free of the window toolkit: everything is measured in twips on a
// DrawingSurface, and the window only realises the numbers computed here.
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

class ErrorHandler;

// A surface that keeps what is drawn on it. All lengths are twips.
// Measuring may throw RuntimeError 480 when the surface cannot keep an image.
class DrawingSurface {
 public:
  virtual ~DrawingSurface() = default;
  // Erases everything and puts the drawing position at the top left.
  virtual void clear() = 0;
  // Draws a piece of text at the drawing position and moves to the start of
  // the next line; each CR LF inside the piece starts a new line too.
  virtual void print(const std::string& piece) = 0;
  virtual double currentY() const = 0;
  // Width of the widest line of text, in the surface's font.
  virtual double textWidth(const std::string& text) = 0;
  virtual double textHeight(const std::string& text) = 0;
  virtual double width() const = 0;
  virtual double height() const = 0;
  virtual void setWidth(double twips) = 0;
  virtual void setHeight(double twips) = 0;
  // Width of the screen the surface is shown on.
  virtual double screenWidth() const = 0;
};

// FindStrWidth: how many leading characters of text fit on one line of the
// surface (binary search between low and high, 1 <= low <= high). When the
// surface cannot measure (480) it answers the screen width in twips, which
// callers read as "all of it".
int findStrWidth(ErrorHandler& errors, const std::string& text, DrawingSurface& pic, int low,
                 int high);

// PrintPic: word-wraps text onto the surface; returns the height the text
// takes from the top plus one more line.
int printPic(ErrorHandler& errors, const std::string& text, DrawingSurface& pic, bool clearFirst);

// Splits a button list at every ","; no blanks are trimmed; "" gives none.
std::vector<std::string> splitButtonList(const std::string& buttonList);

struct TwipsRect {
  double left = 0, top = 0, width = 0, height = 0;
};

// The window as it stands in its design.
struct MsgBoxDesign {
  static constexpr int kButtons = 10;
  double buttonWidth = 975, buttonHeight = 375;
  double checkLeft = 120, checkWidth = 4455, checkHeight = 375;
  double picWidth = 3375, picHeight = 1455;
  double frameWidth = 3855, frameHeight = 1695;
  double minTextWidth = 4320;
};

struct MsgBoxLayoutInput {
  std::string text;
  std::string buttonList;
  bool showAgain = false;
  MsgBoxDesign design;
  // Outer minus inner size of the window (borders and title bar).
  double borderWidth = 0, borderHeight = 0;
  // The first loaded window, which the box centres on; none: the screen.
  std::optional<TwipsRect> owner;
  double screenWidth = 0, screenHeight = 0;
};

struct ButtonPlacement {
  std::string caption;
  double left = 0, top = 0, width = 0, height = 0;
  bool isDefault = false, isCancel = false;
};

struct MsgBoxLayout {
  // False when a failure made the procedure leave before the window was laid
  // out; the box is then not shown.
  bool complete = false;
  double rowWidth = 0;
  TwipsRect text;   // the drawing surface, inside the frame
  TwipsRect frame;  // inside the window
  double rowTop = 0;
  std::vector<ButtonPlacement> buttons;  // visible buttons, in list order
  bool checkVisible = false;
  TwipsRect check;
  TwipsRect window;  // outer size and place on the screen
  double innerWidth = 0, innerHeight = 0;
};

// Lays out the box: sizes the surface to the text and draws the final text
// on it, places frame, check box and buttons, sizes and centres the window.
// Failures are reported through the "MsgBox2" trap.
MsgBoxLayout computeMsgBox2Layout(ErrorHandler& errors, const MsgBoxLayoutInput& input,
                                  DrawingSurface& pic);

}  // namespace kelvane
