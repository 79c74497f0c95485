// Loading the settings file into the window at start-up and saving the
// window's state after every change.
#include "app/frm_mdi.h"
#include "support/error_handler.h"
#include "support/host.h"
#include "support/number_text.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
constexpr const char* kModule = "frmMDI";
const char* const kCategories[] = {"Telescope", "Camera", "Binning Level", "Filter"};

QString addEntry(int n) {
  return QStringLiteral("** Add %1 **").arg(QString::fromLatin1(kCategories[n - 1]));
}

// Case-insensitive order of names in the user's collation; names that differ
// only in case are equal, names the collation cannot tell apart still get a
// stable order.
int compareNames(const QString& a, const QString& b) {
  const int plain = QString::compare(a, b, Qt::CaseInsensitive);
  if (plain == 0) return 0;
  const int collated = a.toCaseFolded().localeAwareCompare(b.toCaseFolded());
  return collated != 0 ? collated : plain;
}

QStringList splitList(const std::string& stored) {
  return QString::fromStdString(stored).split(QLatin1Char('\t'), Qt::KeepEmptyParts);
}
}  // namespace

std::string FrmMDI::readKey(const std::string&, const std::string& defaultValue) {
  return defaultValue;
}

bool FrmMDI::writeKeys(const std::vector<std::pair<std::string, std::string>>&) {
  ++settingsWrites_;
  return true;
}

void FrmMDI::readSettings() {
  Trap trap(errors_, kModule, "ReadSettings");
  for (int n = 1; n <= 4; ++n) {
    VbComboBox* box = cmbPreset[static_cast<std::size_t>(n)];
    const std::string suffix = std::to_string(n);
    QStringList pieces;
    std::string index;
    if (!trap([&] { box->appendItem(addEntry(n)); })) return;
    if (!trap([&] { pieces = splitList(readKey("PresetList" + suffix, "Default")); })) return;
    for (const QString& piece : pieces)
      if (!trap([&] { addItemInOrder(piece, box); })) return;
    if (!trap([&] { index = readKey("PresetIndex" + suffix, "0"); })) return;
    if (!trap([&] { box->setListIndex(textToWholeNumber(index)); })) return;
  }
  if (!trap([&] { chkKeeponTop->setValue(textToWholeNumber(readKey("KeepInFront", "0"))); })) return;
  if (!trap([&] { chkTurnOff->setValue(textToWholeNumber(readKey("TurnOff", "1"))); })) return;
  if (!trap([&] {
        const double last = valueOfText(readKey("LastBrightness", "100"));
        txtBrightness->setText(QString::fromStdString(decimalText(last)));
      }))
    return;
  if (!trap([&] { brightness_ = toWholeNumber(valueOfText(brightnessText())); })) return;
  if (!trap([&] { updateBrightness(); })) return;
  trap([&] { setWindowPos(chkKeeponTop->value() == 1); });
}

void FrmMDI::writeSettings() {
  if (loading_) return;
  Trap trap(errors_, kModule, "WriteSettings");
  std::vector<std::pair<std::string, std::string>> entries;
  if (!trap([&] {
        entries.emplace_back("LastBrightness", decimalText(valueOfText(brightnessText())));
        entries.emplace_back("KeepInFront", std::to_string(chkKeeponTop->value()));
        entries.emplace_back("TurnOff", std::to_string(chkTurnOff->value()));
        for (int n = 1; n <= 4; ++n) {
          const VbComboBox* box = cmbPreset[static_cast<std::size_t>(n)];
          QStringList names;
          for (int i = 0; i + 1 < box->listCount(); ++i) names << box->list(i);
          entries.emplace_back("PresetList" + std::to_string(n), names.join(QLatin1Char('\t')).toStdString());
          entries.emplace_back("PresetIndex" + std::to_string(n), std::to_string(box->listIndex()));
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
  std::string key;
  for (int n = 1; n <= 4; ++n) key += cmbPreset[static_cast<std::size_t>(n)]->selectedText().toStdString() + "|";
  return key;
}

}  // namespace kelvane
