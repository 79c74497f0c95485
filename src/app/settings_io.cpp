// Loading the settings file into the window at start-up and saving the
// window's state after every change.
#include "app/frm_mdi.h"
#include "settings/ini_file.h"
#include "settings/presets.h"
#include "support/error_handler.h"
#include "support/host.h"
#include "support/number_text.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";

// Case-insensitive order of names in the user's collation; names that differ
// only in case are equal, names the collation cannot tell apart still get a
// stable order.
int compareNames(const QString& a, const QString& b) {
  const int plain = QString::compare(a, b, Qt::CaseInsensitive);
  if (plain == 0) return 0;
  const int collated = a.toCaseFolded().localeAwareCompare(b.toCaseFolded());
  return collated != 0 ? collated : plain;
}
}  // namespace

std::string FrmMDI::readKey(const std::string& key, const std::string& defaultValue) {
  return readINIFile(errors_, store_, key, defaultValue);
}

bool FrmMDI::writeKeys(const IniEntries& entries) {
  if (!writeINIFile(errors_, store_, entries)) return false;
  ++settingsWrites_;
  return true;
}

void FrmMDI::readSettings() {
  Trap trap(errors_, kModule, "ReadSettings");
  for (int n = 1; n <= 4; ++n) {
    VbComboBox* box = cmbPreset[static_cast<std::size_t>(n)];
    std::vector<std::string> pieces;
    std::string index;
    if (!trap([&] { box->appendItem(QString::fromStdString(addEntryText(n))); })) return;
    if (!trap([&] { pieces = splitPresetList(readKey(presetListKey(n), kDefaultPresetList)); })) return;
    for (const std::string& piece : pieces)
      if (!trap([&] { addItemInOrder(QString::fromStdString(piece), box); })) return;
    if (!trap([&] { index = readKey(presetIndexKey(n), kDefaultPresetIndex); })) return;
    if (!trap([&] { box->setListIndex(textToWholeNumber(index)); })) return;
  }
  if (!trap([&] { chkKeeponTop->setValue(textToWholeNumber(readKey(kKeepInFrontKey, kDefaultKeepInFront))); })) return;
  if (!trap([&] { chkTurnOff->setValue(textToWholeNumber(readKey(kTurnOffKey, kDefaultTurnOff))); })) return;
  if (!trap([&] {
        const double last = valueOfText(readKey(kLastBrightnessKey, kDefaultLastBrightness));
        txtBrightness->setText(QString::fromStdString(decimalText(last)));
      }))
    return;
  if (!trap([&] { brightness_ = toWholeNumber(valueOfText(brightnessText())); })) return;
  if (!trap([&] { updateBrightness(); })) return;
  trap([&] { setWindowPos(chkKeeponTop->value() == 1); });
}

void FrmMDI::writeSettings() {
  if (loading_ || ending_) return;
  Trap trap(errors_, kModule, "WriteSettings");
  IniEntries entries;
  if (!trap([&] {
        entries.emplace_back(kLastBrightnessKey, decimalText(valueOfText(brightnessText())));
        entries.emplace_back(kKeepInFrontKey, std::to_string(chkKeeponTop->value()));
        entries.emplace_back(kTurnOffKey, std::to_string(chkTurnOff->value()));
        for (int n = 1; n <= kSelectorCount; ++n) {
          const VbComboBox* box = cmbPreset[static_cast<std::size_t>(n)];
          std::vector<std::string> names;
          for (int i = 0; i + 1 < box->listCount(); ++i) names.push_back(box->list(i).toStdString());
          entries.emplace_back(presetListKey(n), joinPresetList(names));
          entries.emplace_back(presetIndexKey(n), std::to_string(box->listIndex()));
        }
      }))
    return;
  if (!trap([&] { writeKeys(entries); })) return;
  trap([&] { updateBrightness(); });
}

int FrmMDI::addItemInOrder(const QString& item, VbComboBox* box) {
  int result = 0;
  Trap trap(errors_, kModule, "AddItemInOrder");
  trap([&] {
    for (int i = 0; i < box->listCount(); ++i) {
      const int order = compareNames(box->list(i), item);
      if (order == 0) {
        result = i;
        return;
      }
      if (order > 0) {
        box->insertItemAt(i, item);
        result = i;
        return;
      }
    }
    box->insertItemAt(std::max(0, box->listCount() - 1), item);
    writeSettings();
    result = box->listCount() - 2;
  });
  return result;
}

std::string FrmMDI::presetKey() const {
  std::vector<std::string> names;
  for (int n = 1; n <= kSelectorCount; ++n)
    names.push_back(cmbPreset[static_cast<std::size_t>(n)]->selectedText().toStdString());
  return kelvane::presetKey(names);
}

}  // namespace kelvane
