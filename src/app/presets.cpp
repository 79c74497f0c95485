// The four preset selectors with their add prompt, and saving and deleting
// presets.
#include "app/frm_mdi.h"
#include "support/error_handler.h"
#include "support/host.h"
#include "support/number_text.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";

bool isAddEntry(const QString& text) { return text.left(6) == QStringLiteral("** Add"); }
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
  if (isAddEntry(chosen)) {
    std::string answer;
    if (!trap([&] { answer = host_.inputBox("Add Item to List", "", ""); })) return;
    if (!answer.empty()) {
      int position = 0;
      if (!trap([&] { position = addItemInOrder(QString::fromStdString(answer), box); })) return;
      if (!trap([&] { host_.doEvents(); })) return;
      if (!trap([&] { box->setListIndex(position); })) return;
    } else {
      if (!trap([&] {
            box->setListIndex(textToWholeNumber(readKey("PresetIndex" + std::to_string(index), "0")));
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
    if (!trap([&] { txtDuration->setText(QString::fromStdString(readKey(key + "Duration", ""))); })) return;
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
  trap([&] {
    const std::string key = presetKey();
    writeKeys({{key, brightnessText()}, {key + "Duration", txtDuration->text().toStdString()}});
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
