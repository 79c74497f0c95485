// The four preset selectors with their add prompt, and saving and deleting
// presets.
#include "app/frm_mdi.h"
#include "settings/presets.h"
#include "support/error_handler.h"
#include "support/host.h"
#include "support/number_text.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";

// Blanks at either end of a typed name do not survive the settings file
// (readers trim values), and the presets stored under the name would be lost
// with them: the name is taken without them.
std::string trimmedName(const std::string& typed) {
  const auto first = typed.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return typed.substr(first, typed.find_last_not_of(' ') - first + 1);
}
}  // namespace

void FrmMDI::cmbPreset_Click(int index) {
  Trap trap(errors_, kModule, "cmbPreset_Click");
  VbComboBox* box = nullptr;
  QString chosen;
  if (!trap([&] {
        if (index < 1 || index > 4) throw RuntimeError(rt::SubscriptOutOfRange);
        box = cmbPreset[static_cast<std::size_t>(index)];
        chosen = box->selectedText();
      }))
    return;
  if (isAddEntry(chosen.toStdString())) {
    std::string answer;
    if (!trap([&] { answer = trimmedName(host_.inputBox("Add Item to List", "", "")); })) return;
    if (const std::string problem = nameProblem(answer); !answer.empty() && !problem.empty()) {
      if (!trap([&] { host_.msgBox(problem, mb::OkOnly, "Add Item to List"); })) return;
      answer.clear();  // nothing is added; back to the saved choice
    }
    if (!answer.empty()) {
      int position = 0;
      if (!trap([&] { position = addItemInOrder(QString::fromStdString(answer), box); })) return;
      if (!trap([&] { host_.doEvents(); })) return;
      if (!trap([&] { box->setListIndex(position); })) return;
    } else {
      if (!trap([&] {
            box->setListIndex(textToWholeNumber(readKey(presetIndexKey(index), kDefaultPresetIndex)));
          }))
        return;
    }
  } else {
    std::string key;
    std::string stored;
    if (!trap([&] { key = presetKey(); })) return;
    if (!trap([&] { stored = readKey(key, ""); })) return;
    if (!stored.empty()) {
      if (!trap([&] { txtBrightness->setText(QString::fromStdString(stored)); })) return;
      if (!trap([&] { brightness_ = toWholeNumber(valueOfText(brightnessText())); })) return;
      if (!trap([&] { updateBrightness(); })) return;
    }
    if (!trap([&] { txtDuration->setText(QString::fromStdString(readKey(durationKey(key), ""))); })) return;
  }
  trap([&] { writeSettings(); });
}

void FrmMDI::cmdSavePreset_Click() {
  Trap trap(errors_, kModule, "cmdSavePreset_Click");
  std::string text;
  int answer = mb::No;
  if (!trap([&] {
        text = "Confirm setting\r\n\r\n";
        for (int n = 1; n <= 4; ++n)
          text += cmbPreset[static_cast<std::size_t>(n)]->selectedText().toStdString() + "\r\n";
        text += "\r\nto value " + brightnessText();
      }))
    return;
  if (!trap([&] { answer = host_.msgBox(text, mb::YesNo, "Confirm Preset"); })) return;
  if (answer == mb::No) return;
  bool saved = false;
  if (!trap([&] {
        const std::string key = presetKey();
        saved = writeKeys({{key, brightnessText()}, {durationKey(key), txtDuration->text().toStdString()}},
                          false);
      }))
    return;
  // Asked for in so many words: a failure is told every time, with its cause.
  if (!saved)
    trap([&] {
      host_.msgBox("The preset was not saved.\r\n\r\n" + settings_.lastProblem(), mb::OkOnly, "Confirm Preset");
    });
}

void FrmMDI::cmdDeletePreset_Click(int index) {
  Trap trap(errors_, kModule, "cmdDeletePreset_Click");
  VbComboBox* box = nullptr;
  int answer = mb::No;
  if (!trap([&] {
        if (index < 1 || index > 4) throw RuntimeError(rt::SubscriptOutOfRange);
        box = cmbPreset[static_cast<std::size_t>(index)];
      }))
    return;
  if (box->listIndex() < 0 && box->listCount() >= 3) {
    trap([&] { host_.msgBox("Choose the entry to delete first.", mb::OkOnly, ""); });
    return;
  }
  if (box->listCount() < 3) {
    trap([&] { host_.msgBox("You must have at least one entry in the list", mb::OkOnly, "Must have 1 entry"); });
    return;
  }
  if (!trap([&] {
        answer = host_.msgBox("Are you sure you want to delete " + box->selectedText().toStdString() + "?",
                              mb::YesNo, "");
      }))
    return;
  if (answer == mb::Yes) {
    if (!trap([&] { box->removeItemAt(box->listIndex()); })) return;
    if (!trap([&] { box->setListIndex(0); })) return;
  }
  trap([&] { writeSettings(); });
}

}  // namespace kelvane
