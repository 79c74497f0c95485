#include "support/msgbox_layout.h"

#include <algorithm>
#include <climits>

#include "support/error_handler.h"
#include "support/number_text.h"
#include "support/runtime_error.h"

namespace kelvane {

namespace {

constexpr const char* kModule = "MsgBx2";

std::string lowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Moves a cut so it does not split a multi-byte character; never to 0.
std::size_t characterBoundary(const std::string& text, std::size_t cut) {
  if (cut >= text.size()) return text.size();
  std::size_t back = cut;
  while (back > 0 && isUtf8Continuation(text[back])) --back;
  if (back > 0) return back;
  std::size_t forward = cut;
  while (forward < text.size() && isUtf8Continuation(text[forward])) ++forward;
  return forward;
}

}  // namespace

int findStrWidth(ErrorHandler& errors, const std::string& text, DrawingSurface& pic, int low,
                 int high) {
  int result = 0;
  Trap trap(errors, kModule, "FindStrWidth");
  // A surface that cannot keep an image cannot measure either; the caller
  // then takes the whole rest as one line.
  bool unmeasurable = false;
  auto fits = [&](std::size_t count) {
    try {
      return pic.textWidth(text.substr(0, count)) < pic.width();
    } catch (const RuntimeError& e) {
      if (e.number() != rt::CantCreateAutoRedrawImage) throw;
      unmeasurable = true;
      return false;
    }
  };
  auto screenWidth = [&] {
    trap([&] { result = toWholeNumber(pic.screenWidth()); });
    return result;
  };

  bool whole = false;
  if (!trap([&] { whole = fits(text.size()); })) return result;
  if (unmeasurable) return screenWidth();
  if (whole || high == 1) return high;
  if (high - low <= 1) return low;
  const int mid = low + (high - low) / 2;
  trap([&] {
    const bool midFits = fits(static_cast<std::size_t>(mid));
    if (unmeasurable) return;
    result = midFits ? findStrWidth(errors, text, pic, mid, high)
                     : findStrWidth(errors, text, pic, low, mid);
  });
  if (unmeasurable) return screenWidth();
  return result;
}

int printPic(ErrorHandler& errors, const std::string& text, DrawingSurface& pic, bool clearFirst) {
  int result = 0;
  Trap trap(errors, kModule, "PrintPic");
  if (clearFirst && !trap([&] { pic.clear(); })) return result;
  // The trailing blank lets the last word end a line like every other.
  std::string rest = text + " ";
  while (!rest.empty()) {
    int n = 0;
    const int length = static_cast<int>(std::min<std::size_t>(rest.size(), INT_MAX));
    if (!trap([&] { n = findStrWidth(errors, rest, pic, 1, length); })) return result;
    // A search that failed and was ignored answers 0; take at least one
    // character so the loop always ends.
    const std::size_t take =
        characterBoundary(rest, std::clamp<std::size_t>(n < 1 ? 1 : n, 1, rest.size()));
    std::string line = rest.substr(0, take);
    const std::size_t blank = line.rfind(' ');
    if (blank != std::string::npos) line.resize(blank + 1);
    if (!trap([&] { pic.print(line); })) return result;
    rest.erase(0, line.size());
    if (errors.ended()) return result;
  }
  trap([&] { result = toWholeNumber(pic.currentY() + pic.textHeight("X")); });
  return result;
}

std::vector<std::string> splitButtonList(const std::string& buttonList) {
  std::vector<std::string> captions;
  if (buttonList.empty()) return captions;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = buttonList.find(',', start);
    captions.push_back(buttonList.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return captions;
}

MsgBoxLayout computeMsgBox2Layout(ErrorHandler& errors, const MsgBoxLayoutInput& in,
                                  DrawingSurface& pic) {
  MsgBoxLayout out;
  const MsgBoxDesign& d = in.design;
  Trap trap(errors, kModule, "MsgBox2");

  std::vector<std::string> captions = splitButtonList(in.buttonList);
  // One button per entry; the window has no more than its ten.
  if (captions.size() > MsgBoxDesign::kButtons) captions.resize(MsgBoxDesign::kButtons);

  // A freshly loaded window: every control in its design state.
  if (!trap([&] {
        pic.setWidth(d.picWidth);
        pic.setHeight(d.picHeight);
      }))
    return out;

  // The row is counted with the design width; a wide caption widens its
  // button later without widening the window.
  for (const std::string& caption : captions) {
    if (lowerCase(caption) == "dnsta") continue;
    if (!trap([&] { out.rowWidth = toWholeNumber(out.rowWidth + d.buttonWidth + 50); })) return out;
  }

  int h = 0;
  if (!trap([&] { h = printPic(errors, in.text, pic, true); })) return out;

  // Too tall: grow the surface towards a 1.7 : 1 shape of the needed area.
  bool tooTall = false;
  if (!trap([&] { tooTall = pic.height() < h; })) return out;
  if (tooTall) {
    double ratio = 0;
    if (!trap([&] {
          if (pic.height() == 0) throw RuntimeError(rt::DivisionByZero);
          ratio = h / pic.height();
        }))
      return out;
    if (!trap([&] { pic.setHeight(pic.width() * ratio); })) return out;
    if (!trap([&] { pic.setWidth(pic.height() * 1.7); })) return out;
  }
  if (!trap([&] {
        if (pic.width() < out.rowWidth) pic.setWidth(out.rowWidth);
      }))
    return out;

  if (!trap([&] { h = printPic(errors, in.text, pic, true); })) return out;
  if (!trap([&] { pic.setHeight(h); })) return out;
  if (!trap([&] { pic.setWidth(h * 1.7); })) return out;
  if (!trap([&] {
        if (pic.width() < d.minTextWidth) pic.setWidth(d.minTextWidth);
      }))
    return out;
  // The final drawing, at the final width. That width can be narrower than
  // the one the height was found at; grow the surface so the text wrapped
  // into more lines is not cut off at the bottom.
  if (!trap([&] { h = printPic(errors, in.text, pic, true); })) return out;
  if (!trap([&] {
        if (pic.height() < h) pic.setHeight(h);
      }))
    return out;

  if (!trap([&] {
        out.frame.width = pic.width() + 500;
        if (out.frame.width < out.rowWidth) out.frame.width = out.rowWidth;
        out.frame.height = pic.height() + 500;
        out.text = {250, 250, pic.width(), pic.height()};
      }))
    return out;

  if (!trap([&] {
        if (in.showAgain) {
          out.checkVisible = true;
          out.check = {d.checkLeft, out.frame.height + 50, d.checkWidth, d.checkHeight};
          out.rowTop = toWholeNumber(out.check.top + out.check.height + 50);
        } else {
          out.checkVisible = false;
          out.check = {d.checkLeft, 0, d.checkWidth, d.checkHeight};
          out.rowTop = toWholeNumber(out.frame.height + 100);
        }
      }))
    return out;

  for (const std::string& caption : captions) {
    ButtonPlacement b;
    b.caption = caption;
    b.width = d.buttonWidth;
    b.height = d.buttonHeight;
    if (!trap([&] {
          const double w = pic.textWidth(caption);
          if (w > b.width) b.width = w;
        }))
      return out;
    // Like a form's Default and Cancel properties, the last claim wins.
    const std::string lower = lowerCase(caption);
    if (lower == "ok") {
      for (auto& other : out.buttons) other.isDefault = false;
      b.isDefault = true;
    }
    if (lower == "cancel") {
      for (auto& other : out.buttons) other.isCancel = false;
      b.isCancel = true;
    }
    out.buttons.push_back(std::move(b));
  }

  // The row top and window height use button 0's height even without buttons.
  if (!trap([&] {
        const int allowance = toWholeNumber(in.borderHeight - in.borderWidth / 2);
        out.window.height = out.rowTop + d.buttonHeight + 150 + allowance;
        out.innerHeight = out.window.height - in.borderHeight;
      }))
    return out;
  out.window.width = in.borderWidth + out.frame.width;
  out.innerWidth = out.frame.width;

  if (!trap([&] {
        double x = toWholeNumber(out.innerWidth - 50);
        for (auto it = out.buttons.rbegin(); it != out.buttons.rend(); ++it) {
          it->top = out.rowTop;
          it->left = x - it->width - 100;
          x = toWholeNumber(it->left);
        }
      }))
    return out;

  if (!trap([&] {
        bool onScreen = !in.owner.has_value();
        if (in.owner) {
          out.window.left = in.owner->left + in.owner->width / 2 - out.window.width / 2;
          out.window.top = in.owner->top + in.owner->height / 2 - out.window.height / 2;
          onScreen = out.window.top > in.screenHeight || out.window.top < 0;
        }
        // Only the top is checked; a box reaching past an edge keeps its place.
        if (onScreen) {
          out.window.left = in.screenWidth / 2 - out.window.width / 2;
          out.window.top = in.screenHeight / 2 - out.window.height / 2;
        }
      }))
    return out;

  out.complete = true;
  return out;
}

}  // namespace kelvane
