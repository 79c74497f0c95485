// Loading the settings file into the window at start-up and saving the
// window's state after every change.
#include "app/frm_mdi.h"
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
// stable order. The case-folded texts are given, so that a sort folds each
// name once. Names equal but for case fold alike, so the collation decides
// first and the plain comparison only between names it cannot tell apart.
int compareNames(const QString& a, const QString& aFolded, const QString& b, const QString& bFolded) {
  const int collated = aFolded.localeAwareCompare(bFolded);
  return collated != 0 ? collated : QString::compare(a, b, Qt::CaseInsensitive);
}

int compareNames(const QString& a, const QString& b) {
  return compareNames(a, a.toCaseFolded(), b, b.toCaseFolded());
}

// The stored names in the order and without the duplicates that inserting
// them one by one with AddItemInOrder gives, in n log n.
QStringList namesInOrder(const std::vector<std::string>& pieces, const QString& addEntry) {
  struct Name {
    QString text, folded;
  };
  std::vector<Name> names;
  names.reserve(pieces.size());
  for (const std::string& piece : pieces) {
    QString text = QString::fromStdString(piece);
    names.push_back({text, text.toCaseFolded()});
  }
  const auto compare = [](const Name& a, const Name& b) { return compareNames(a.text, a.folded, b.text, b.folded); };
  QStringList list;
  list.reserve(static_cast<qsizetype>(names.size()));
  for (const Name& name : sortedDistinct(names, Name{addEntry, addEntry.toCaseFolded()}, compare)) list << name.text;
  return list;
}
}  // namespace

std::string FrmMDI::readKey(const std::string& key, const std::string& defaultValue) {
  return settings_.read(key, defaultValue);
}

bool FrmMDI::writeKeys(const IniEntries& entries, bool explainFailure) {
  if (!settings_.write(entries, explainFailure)) return false;
  ++settingsWrites_;
  return true;
}

void FrmMDI::pollSettings() {
  Trap trap(errors_, kModule, "WriteSettings");
  trap([&] { settings_.poll(); });
}

void FrmMDI::flushSettings() noexcept {
  try {
    settings_.flush(false);
  } catch (...) {
    // Only on the way out, with nobody left to tell.
  }
}

void FrmMDI::readSettings() {
  Trap trap(errors_, kModule, "ReadSettings");
  // Temporary files of writes that were killed midway (no other instance is
  // writing while this is done).
  settings_.removeStaleTempFiles();
  for (int n = 1; n <= 4; ++n) {
    VbComboBox* box = cmbPreset[static_cast<std::size_t>(n)];
    std::vector<std::string> pieces;
    const QString addEntry = QString::fromStdString(addEntryText(n));
    if (!trap([&] { box->appendItem(addEntry); })) return;
    if (!trap([&] { pieces = splitPresetList(readKey(presetListKey(n), kDefaultPresetList)); })) return;
    if (!trap([&] { box->insertItemsAt(0, namesInOrder(pieces, addEntry)); })) return;
    // The key is read again on Retry: the user may have fixed the file.
    if (!trap([&] { box->setListIndex(textToWholeNumber(readKey(presetIndexKey(n), kDefaultPresetIndex))); }))
      return;
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
  // Left to the writer thread: a click must not wait for the rewrite of a
  // large file. Reads see the keys at once; every way out flushes them.
  if (!trap([&] {
        if (settings_.post(entries)) ++settingsWrites_;
      }))
    return;
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
