// indi_kelvane: the INDI light-box driver for the dimmer, started by
// indiserver. Every libindi call of the driver lives in this file (INDI 2
// renamed the light-box interface, so a port touches only this file); what
// the dimmer does is LightBox's business.
#include <defaultdevice.h>
#include <indilightboxinterface.h>
#include <indipropertyswitch.h>
#include <lilxml.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "device/protocol.h"
#include "indi/light_box.h"
#include "panel/panel_engine.h"

namespace {

using kelvane::LightBox;
using kelvane::LightBoxView;

constexpr const char* kFaultsName = "SIMULATED_FAULTS";
constexpr const char* kFilterIntensityName = "FLAT_LIGHT_FILTER_INTENSITY";

class KelvaneDriver final : public INDI::DefaultDevice, public INDI::LightBoxInterface {
 public:
  KelvaneDriver();

  void ISGetProperties(const char* dev) override;
  bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
  bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;
  bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;
  bool ISSnoopDevice(XMLEle* root) override;

 protected:
  const char* getDefaultName() override { return "Kelvane"; }
  bool initProperties() override;
  bool updateProperties() override;
  bool Connect() override;
  bool Disconnect() override;
  void TimerHit() override;
  bool saveConfigItems(FILE* fp) override;
  void debugTriggered(bool enable) override;
  void simulationTriggered(bool enable) override;

  // Called by the light-box interface when the snooped wheel reaches a slot
  // with a stored intensity.
  bool SetLightBoxBrightness(uint16_t value) override;
  bool EnableLightBox(bool enable) override;

 private:
  bool mine(const char* dev) const { return dev != nullptr && std::strcmp(dev, getDeviceName()) == 0; }
  void show(const LightBoxView& view);
  // FILTER_SLOT and FILTER_NAME count only from the wheel in ACTIVE_DEVICES.
  bool fromActiveWheel(XMLEle* root);
  // The stored intensity of the filter in place; 0 when there is none.
  std::int32_t filterPreset() const;
  void rememberStoredFilterIntensities();
  // The per-filter intensities as the configuration keeps them; "" while
  // the property does not exist.
  std::string filterIntensitiesText();

  LightBox box_;
  ISwitch faultS_[3];
  ISwitchVectorProperty faultSP_;
  // The per-filter intensities as the configuration file held them at start:
  // until the wheel's filter names arrive the property does not exist, and a
  // configuration saved meanwhile must not drop them.
  std::string storedFilterIntensities_;
  int filterSlot_ = 0;  // the wheel's slot last seen at rest, from 1
};

KelvaneDriver::KelvaneDriver()
    : LightBoxInterface(this, true),
      box_({[this](const std::string& line) { LOGF_DEBUG("%s.", line.c_str()); },
            [this](const std::string& text) { LOGF_ERROR("%s", text.c_str()); }}) {
  setVersion(KELVANE_VERSION_MAJOR, KELVANE_VERSION_MINOR);
  if (const char* trace = std::getenv("KELVANE_SIM_TRACE")) box_.traceSimulator(trace);
}

bool KelvaneDriver::initProperties() {
  INDI::DefaultDevice::initProperties();
  // INDI writes major.minor; the driver reports the program's whole version.
  if (auto* version = getText("DRIVER_INFO").findWidgetByName("DRIVER_VERSION")) version->setText(KELVANE_VERSION);
  setDriverInterface(AUX_INTERFACE | LIGHTBOX_INTERFACE);
  initLightBoxProperties(getDeviceName(), MAIN_CONTROL_TAB);
  // Before any filter preset is made: they take their range from here.
  LightIntensityN[0].max = kelvane::kMaxBrightness;
  LightIntensityN[0].step = 1;

  IUFillSwitch(&faultS_[0], "SIM_SILENT", "Silent", ISS_OFF);
  IUFillSwitch(&faultS_[1], "SIM_UNPLUGGED", "Unplugged", ISS_OFF);
  IUFillSwitch(&faultS_[2], "SIM_HELD", "Held by another program", ISS_OFF);
  IUFillSwitchVector(&faultSP_, faultS_, 3, getDeviceName(), kFaultsName, "Dimmer faults", "Simulation", IP_RW,
                     ISR_NOFMANY, 0, IPS_IDLE);

  addAuxControls();
  setDefaultPollingPeriod(kelvane::kMonitorIntervalMs);
  rememberStoredFilterIntensities();
  return true;
}

void KelvaneDriver::rememberStoredFilterIntensities() {
  char errmsg[MAXRBUF];
  FILE* fp = IUGetConfigFP(nullptr, getDeviceName(), "r", errmsg);
  if (fp == nullptr) return;
  LilXML* lp = newLilXML();
  XMLEle* root = readXMLFile(fp, lp, errmsg);
  std::fclose(fp);
  delLilXML(lp);
  if (root == nullptr) return;
  for (XMLEle* ep = nextXMLEle(root, 1); ep != nullptr; ep = nextXMLEle(root, 0)) {
    const char* name = findXMLAttValu(ep, "name");
    if (std::strcmp(name, kFilterIntensityName) != 0) continue;
    const int size = sprlXMLEle(ep, 0);
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    sprXMLEle(text.data(), ep, 0);
    text.resize(std::strlen(text.c_str()));
    storedFilterIntensities_ = text;
  }
  delXMLEle(root);
}

std::string KelvaneDriver::filterIntensitiesText() {
  if (FilterIntensityN == nullptr) return "";
  char* buffer = nullptr;
  std::size_t size = 0;
  FILE* memory = open_memstream(&buffer, &size);
  if (memory == nullptr) return "";
  IUSaveConfigNumber(memory, &FilterIntensityNP);
  std::fclose(memory);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

void KelvaneDriver::ISGetProperties(const char* dev) {
  INDI::DefaultDevice::ISGetProperties(dev);
  isGetLightBoxProperties(dev);
}

bool KelvaneDriver::updateProperties() {
  INDI::DefaultDevice::updateProperties();
  if (isConnected()) {
    defineProperty(&LightSP);
    defineProperty(&LightIntensityNP);
  } else {
    deleteProperty(LightSP.name);
    deleteProperty(LightIntensityNP.name);
  }
  updateLightBoxProperties();
  return true;
}

void KelvaneDriver::simulationTriggered(bool enable) {
  if (enable)
    defineProperty(&faultSP_);
  else
    deleteProperty(faultSP_.name);
}

void KelvaneDriver::debugTriggered(bool enable) { box_.setDebug(enable); }

bool KelvaneDriver::Connect() {
  const std::string why = box_.connect(isSimulation());
  if (!why.empty()) {
    LOGF_ERROR("Cannot connect: %s.", why.c_str());
    return false;
  }
  LOG_INFO(isSimulation() ? "Connected to the simulated dimmer." : "Connected to the dimmer.");
  // Shown by updateProperties, which defines the properties next.
  const LightBoxView& panel = box_.atConnect();
  LightIntensityN[0].value = panel.value;
  LightIntensityNP.s = IPS_OK;
  LightS[FLAT_LIGHT_ON].s = panel.lit ? ISS_ON : ISS_OFF;
  LightS[FLAT_LIGHT_OFF].s = panel.lit ? ISS_OFF : ISS_ON;
  LightSP.s = IPS_OK;
  // Ask the wheel again: its filter names come back and with them the
  // per-filter intensities a disconnect removed.
  if (ActiveDeviceT[0].text != nullptr && ActiveDeviceT[0].text[0] != '\0') {
    IDSnoopDevice(ActiveDeviceT[0].text, "FILTER_SLOT");
    IDSnoopDevice(ActiveDeviceT[0].text, "FILTER_NAME");
  }
  return true;
}

bool KelvaneDriver::Disconnect() {
  RemoveTimer(0);
  box_.disconnect();
  return true;
}

void KelvaneDriver::show(const LightBoxView& view) {
  IPState state = IPS_IDLE;
  switch (view.phase) {
    case LightBoxView::Phase::Idle: state = IPS_IDLE; break;
    case LightBoxView::Phase::Moving: state = IPS_BUSY; break;
    case LightBoxView::Phase::AtRest: state = IPS_OK; break;
    case LightBoxView::Phase::Alert: state = IPS_ALERT; break;
  }
  if (!view.message.empty()) {
    std::string message = view.message;
    message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
    LOGF_ERROR("%s.", message.c_str());
  }
  if (view.kept && view.value > 0)
    LOGF_INFO("The light is off: brightness %d is kept for the next On.", static_cast<int>(view.value));
  LightIntensityN[0].value = view.value;
  LightIntensityNP.s = state;
  IDSetNumber(&LightIntensityNP, nullptr);
  LightS[FLAT_LIGHT_ON].s = view.lit ? ISS_ON : ISS_OFF;
  LightS[FLAT_LIGHT_OFF].s = view.lit ? ISS_OFF : ISS_ON;
  LightSP.s = state;
  IDSetSwitch(&LightSP, nullptr);
  // The monitor runs only while the panel moves.
  if (view.phase == LightBoxView::Phase::Moving) SetTimer(getCurrentPollingPeriod());
}

void KelvaneDriver::TimerHit() {
  if (!isConnected() || !box_.watching()) return;
  show(box_.tick());
}

bool KelvaneDriver::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
  if (mine(dev) && std::strcmp(name, LightIntensityNP.name) == 0) {
    const double* value = nullptr;
    for (int i = 0; i < n; ++i)
      if (std::strcmp(names[i], LightIntensityN[0].name) == 0) value = &values[i];
    if (value == nullptr) return false;
    const std::string refusal = LightBox::refusal(*value);
    if (!refusal.empty()) {
      LOGF_ERROR("%s.", refusal.c_str());
      // A move under way goes on; otherwise the refusal shows, the value stays.
      if (!box_.watching()) LightIntensityNP.s = IPS_ALERT;
      IDSetNumber(&LightIntensityNP, nullptr);
      return true;
    }
    if (!isConnected()) {
      LOG_ERROR("Connect to the dimmer first.");
      return true;
    }
    show(box_.request(*value));
    return true;
  }
  if (mine(dev) && std::strcmp(name, kFilterIntensityName) == 0) {
    const std::string before = filterIntensitiesText();
    processLightBoxNumber(dev, name, values, names, n);
    const std::string after = filterIntensitiesText();
    if (!after.empty()) storedFilterIntensities_ = after;
    // Kept at once: a preset set by hand is not lost with the session. The
    // configuration's own reload changes nothing and writes nothing.
    if (!after.empty() && after != before) {
      saveConfig(true, kFilterIntensityName);
    }
    return true;
  }
  if (processLightBoxNumber(dev, name, values, names, n)) return true;
  return INDI::DefaultDevice::ISNewNumber(dev, name, values, names, n);
}

bool KelvaneDriver::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) {
  if (mine(dev) && std::strcmp(name, ActiveDeviceTP.name) == 0) {
    // Every client's getProperties reloads this from the configuration:
    // save only a real change.
    const std::string before = ActiveDeviceT[0].text ? ActiveDeviceT[0].text : "";
    processLightBoxText(dev, name, texts, names, n);
    if (before != (ActiveDeviceT[0].text ? ActiveDeviceT[0].text : "")) {
      // Another wheel: its slot is not yet known.
      filterSlot_ = 0;
      saveConfig(true, name);
    }
    return true;
  }
  return INDI::DefaultDevice::ISNewText(dev, name, texts, names, n);
}

bool KelvaneDriver::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
  if (mine(dev)) {
    bool simulate = isSimulation();
    for (int i = 0; i < n; ++i)
      if (states[i] == ISS_ON) simulate = std::strcmp(names[i], "ENABLE") == 0;
    if (std::strcmp(name, "SIMULATION") == 0 && isConnected() && simulate != isSimulation()) {
      // The dimmer in use stays the same while connected (a configuration
      // reload that repeats the setting changes nothing).
      INDI::PropertySwitch simulation = getSwitch("SIMULATION");
      simulation.setState(IPS_ALERT);
      simulation.apply("Disconnect before switching simulation on or off.");
      return true;
    }
    if (std::strcmp(name, LightSP.name) == 0) {
      if (IUUpdateSwitch(&LightSP, states, names, n) < 0) return false;
      if (!isConnected()) {
        LOG_ERROR("Connect to the dimmer first.");
        return true;
      }
      show(box_.switchLight(LightS[FLAT_LIGHT_ON].s == ISS_ON, filterPreset()));
      return true;
    }
    if (std::strcmp(name, faultSP_.name) == 0) {
      if (IUUpdateSwitch(&faultSP_, states, names, n) < 0) return false;
      box_.setFault(LightBox::Fault::Silent, faultS_[0].s == ISS_ON);
      box_.setFault(LightBox::Fault::Unplugged, faultS_[1].s == ISS_ON);
      box_.setFault(LightBox::Fault::HeldElsewhere, faultS_[2].s == ISS_ON);
      faultSP_.s = IPS_OK;
      IDSetSwitch(&faultSP_, nullptr);
      return true;
    }
  }
  return INDI::DefaultDevice::ISNewSwitch(dev, name, states, names, n);
}

bool KelvaneDriver::fromActiveWheel(XMLEle* root) {
  const char* property = findXMLAttValu(root, "name");
  if (std::strcmp(property, "FILTER_SLOT") != 0 && std::strcmp(property, "FILTER_NAME") != 0) return true;
  // A camera's built-in wheel and a separate one both answer: indiserver
  // keeps forwarding a wheel snooped once, even after ACTIVE_FILTER changed.
  return ActiveDeviceT[0].text != nullptr && std::strcmp(findXMLAttValu(root, "device"), ActiveDeviceT[0].text) == 0;
}

std::int32_t KelvaneDriver::filterPreset() const {
  if (FilterIntensityN == nullptr || filterSlot_ < 1 || filterSlot_ > FilterIntensityNP.nnp) return 0;
  return static_cast<std::int32_t>(FilterIntensityN[filterSlot_ - 1].value);
}

bool KelvaneDriver::ISSnoopDevice(XMLEle* root) {
  if (!fromActiveWheel(root)) return false;
  // Every client that connects makes the wheel define its slot again, and
  // the light-box interface would apply the preset each time, undoing a
  // brightness set since: only a slot the wheel has newly reached counts.
  if (std::strcmp(findXMLAttValu(root, "name"), "FILTER_SLOT") == 0 &&
      std::strcmp(tagXMLEle(root), "delProperty") != 0) {
    const char* slotState = findXMLAttValu(root, "state");
    if (std::strcmp(slotState, "Ok") == 0 || std::strcmp(slotState, "Idle") == 0) {
      for (XMLEle* ep = nextXMLEle(root, 1); ep != nullptr; ep = nextXMLEle(root, 0)) {
        if (std::strcmp(findXMLAttValu(ep, "name"), "FILTER_SLOT_VALUE") != 0) continue;
        const int slot = std::atoi(pcdataXMLEle(ep));
        if (slot == filterSlot_) return INDI::DefaultDevice::ISSnoopDevice(root);
        filterSlot_ = slot;
      }
    }
  }
  snoopLightBox(root);
  return INDI::DefaultDevice::ISSnoopDevice(root);
}

bool KelvaneDriver::SetLightBoxBrightness(uint16_t value) {
  if (!isConnected()) return false;
  const std::string refusal = LightBox::refusal(value);
  if (!refusal.empty()) {
    LOGF_ERROR("%s.", refusal.c_str());
    return false;
  }
  // While the light is off the preset only waits for the next On.
  if (box_.lit()) LOGF_INFO("Filter preset: brightness %u.", static_cast<unsigned>(value));
  const LightBoxView view = box_.request(value);
  show(view);
  return view.phase != LightBoxView::Phase::Alert;
}

bool KelvaneDriver::EnableLightBox(bool enable) {
  if (!isConnected()) return false;
  const LightBoxView view = box_.switchLight(enable, filterPreset());
  show(view);
  return view.phase != LightBoxView::Phase::Alert;
}

bool KelvaneDriver::saveConfigItems(FILE* fp) {
  INDI::DefaultDevice::saveConfigItems(fp);
  if (FilterIntensityN != nullptr) storedFilterIntensities_ = filterIntensitiesText();
  saveLightBoxConfigItems(fp);
  if (FilterIntensityN == nullptr && !storedFilterIntensities_.empty())
    std::fputs(storedFilterIntensities_.c_str(), fp);
  return true;
}

std::unique_ptr<KelvaneDriver> driver(new KelvaneDriver());

}  // namespace
