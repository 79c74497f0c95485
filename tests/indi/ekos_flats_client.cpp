// Plays what Ekos 3.6 does with a light box against indiserver running
// indi_kelvane (simulated dimmer), indi_simulator_ccd and indi_simulator_wheel,
// and checks the simulated dimmer's trace: lit at the filter's stored
// intensity during each flat, dark during the light frame and after a
// reconnect, however the filters and wheels change meanwhile.
//   ekos_flats_client PORT TRACE_FILE
#include <baseclient.h>
#include <basedevice.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

namespace {

constexpr const char* kBox = "Kelvane";
constexpr const char* kWheel = "Filter Simulator";
constexpr const char* kCamera = "CCD Simulator";  // has a wheel of its own

class Client final : public INDI::BaseClient {
 public:
  // Waits until `key` ("Device.PROPERTY.ELEMENT", or ".../_STATE" for the
  // state as "Ok", "Busy", ...) reads `want`.
  bool waitFor(const std::string& key, const std::string& want, double seconds = 10) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                             [&] { return values_.count(key) && values_[key] == want; });
  }
  std::string value(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_[key];
  }
  // One switch of a one-of-many vector on, as Ekos sets it (libindi's
  // sendNewSwitch by name leaves the others on).
  void setSwitch(const char* device, const char* property, const char* element) {
    auto vector = getDevice(device).getSwitch(property);
    if (!vector.isValid()) return;
    vector->reset();
    if (auto* one = vector->findWidgetByName(element)) one->setState(ISS_ON);
    sendNewSwitch(vector);
  }
  // Forgets a key, so that the next wait sees a fresh report of it.
  void forget(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.erase(key);
  }

 protected:
  void newProperty(INDI::Property property) override { record(property); }
  void updateProperty(INDI::Property property) override { record(property); }

 private:
  void record(INDI::Property p) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string key = std::string(p.getDeviceName()) + "." + p.getName() + ".";
    values_[key + "_STATE"] = p.getStateAsString();
    char text[32];
    if (auto* v = p.getNumber()) {
      for (const auto& e : *v) {
        std::snprintf(text, sizeof text, "%g", e.getValue());
        values_[key + e.getName()] = text;
      }
    } else if (auto* s = p.getSwitch()) {
      for (const auto& e : *s) values_[key + e.getName()] = e.getStateAsString();
    } else if (auto* t = p.getText()) {
      for (const auto& e : *t) values_[key + e.getName()] = e.getText() ? e.getText() : "";
    }
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::string> values_;
};

// The simulated dimmer's trace from line `from` on: the brightness values
// sent ("> 00 20 lo hi") and the last panel reading ("< 00 21 lo hi").
struct Trace {
  std::string sent;  // "300 500 " ...
  int lastReading = -1;
  std::size_t lines = 0;
};

Trace readTrace(const std::string& path, std::size_t from = 0) {
  Trace trace;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (trace.lines++ < from) continue;
    unsigned id = 0, code = 0, lo = 0, hi = 0;
    char direction = 0;
    if (std::sscanf(line.c_str(), "%c %x %x %x %x", &direction, &id, &code, &lo, &hi) != 5) continue;
    if (direction == '>' && code == 0x20) trace.sent += std::to_string(lo + 256 * hi) + " ";
    if (direction == '<' && code == 0x21) trace.lastReading = static_cast<int>(lo + 256 * hi);
  }
  return trace;
}

int failures = 0;
void check(bool ok, const std::string& what) {
  if (ok) return;
  std::printf("FAIL: %s\n", what.c_str());
  ++failures;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PORT TRACE_FILE\n", argv[0]);
    return 2;
  }
  const std::string tracePath = argv[2];
  Client client;
  client.setServer("127.0.0.1", static_cast<unsigned>(std::atoi(argv[1])));
  if (!client.connectServer()) {
    std::puts("FAIL: no indiserver");
    return 1;
  }
  const auto need = [&](const std::string& key, const std::string& want, double seconds = 10) {
    if (client.waitFor(key, want, seconds)) return true;
    check(false, key + " never read " + want + " (last: " + client.value(key) + ")");
    return false;
  };
  const std::string box = std::string(kBox) + ".";
  const std::string wheel = std::string(kWheel) + ".";
  const std::string camera = std::string(kCamera) + ".";

  // Ekos's start: every device connected, the light box's configuration
  // loaded, ACTIVE_FILTER set to the optical train's wheel.
  const auto connectBox = [&] {
    client.setSwitch(kBox, "CONNECTION", "CONNECT");
    need(box + "CONNECTION.CONNECT", "On");
    client.setSwitch(kBox, "CONFIG_PROCESS", "CONFIG_LOAD");
    client.sendNewText(kBox, "ACTIVE_DEVICES", "ACTIVE_FILTER", kWheel);
  };
  if (!need(box + "SIMULATION._STATE", "Idle") || !need(camera + "CONNECTION._STATE", "Idle") ||
      !need(wheel + "CONNECTION._STATE", "Idle"))
    return 1;
  client.setSwitch(kBox, "SIMULATION", "ENABLE");
  need(box + "SIMULATION.ENABLE", "On");
  client.setSwitch(kCamera, "CONNECTION", "CONNECT");
  client.setSwitch(kWheel, "CONNECTION", "CONNECT");
  need(camera + "CONNECTION.CONNECT", "On");
  need(wheel + "CONNECTION.CONNECT", "On");
  // An automatic optical train may name the camera's wheel first; indiserver
  // forwards that wheel from then on.
  client.sendNewText(kBox, "ACTIVE_DEVICES", "ACTIVE_FILTER", kCamera);
  connectBox();

  // The user's per-filter intensities (slots 1 to 4).
  const char* filters[] = {"Red", "Green", "Blue", "H_Alpha"};
  const char* stored[] = {"300", "500", "700", "900"};
  if (!need(box + "FLAT_LIGHT_FILTER_INTENSITY.Red", "0")) return 1;
  for (int k = 0; k < 4; ++k) client.sendNewNumber(kBox, "FLAT_LIGHT_FILTER_INTENSITY", filters[k], std::atof(stored[k]));
  need(box + "FLAT_LIGHT_FILTER_INTENSITY.H_Alpha", "900");

  // The filter in place, then as soon as the wheel rests there, an exposure.
  const auto capture = [&](int slot, double seconds) {
    client.forget(wheel + "FILTER_SLOT._STATE");
    client.sendNewNumber(kWheel, "FILTER_SLOT", "FILTER_SLOT_VALUE", slot);
    need(wheel + "FILTER_SLOT._STATE", "Ok");
    need(wheel + "FILTER_SLOT.FILTER_SLOT_VALUE", std::to_string(slot));
    client.forget(camera + "CCD_EXPOSURE._STATE");
    client.sendNewNumber(kCamera, "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", seconds);
    need(camera + "CCD_EXPOSURE._STATE", "Busy");
    need(camera + "CCD_EXPOSURE._STATE", "Ok", seconds + 10);
  };

  // Flats: the light on before the first; exposures long against the ramp.
  client.sendNewNumber(kWheel, "FILTER_SLOT", "FILTER_SLOT_VALUE", 1);
  need(wheel + "FILTER_SLOT.FILTER_SLOT_VALUE", "1");
  client.setSwitch(kBox, "FLAT_LIGHT_CONTROL", "FLAT_LIGHT_ON");
  for (int slot = 1; slot <= 3; ++slot) {
    if (slot == 3) {
      // The camera's own wheel moves meanwhile: it is not the chosen one.
      client.sendNewNumber(kCamera, "FILTER_SLOT", "FILTER_SLOT_VALUE", 4);
      need(camera + "FILTER_SLOT.FILTER_SLOT_VALUE", "4");
    }
    capture(slot, 1.5);
    const Trace trace = readTrace(tracePath);
    const std::string want = stored[slot - 1];
    check(trace.lastReading == std::atoi(want.c_str()) && trace.sent.size() >= want.size() + 1 &&
              trace.sent.compare(trace.sent.size() - want.size() - 1, want.size(), want) == 0,
          std::string("flat in ") + filters[slot - 1] + ": panel read " + std::to_string(trace.lastReading) +
              ", values sent " + trace.sent);
  }

  // Off, then a light frame in a fourth filter with a stored intensity, a
  // brightness from a client and the configuration reloaded on the way.
  client.setSwitch(kBox, "FLAT_LIGHT_CONTROL", "FLAT_LIGHT_OFF");
  need(box + "FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE", "0");
  need(box + "FLAT_LIGHT_INTENSITY._STATE", "Ok");
  const std::size_t dark = readTrace(tracePath).lines;
  client.sendNewNumber(kBox, "FLAT_LIGHT_INTENSITY", "FLAT_LIGHT_INTENSITY_VALUE", 450);
  need(box + "FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE", "450");
  client.setSwitch(kBox, "CONFIG_PROCESS", "CONFIG_LOAD");
  client.sendNewNumber(kCamera, "FILTER_SLOT", "FILTER_SLOT_VALUE", 2);
  capture(4, 1);
  // Ekos's disconnect and reconnect.
  client.setSwitch(kBox, "CONNECTION", "DISCONNECT");
  need(box + "CONNECTION.DISCONNECT", "On");
  client.forget(box + "FLAT_LIGHT_FILTER_INTENSITY.H_Alpha");
  connectBox();
  need(box + "FLAT_LIGHT_FILTER_INTENSITY.H_Alpha", "900");  // kept in the configuration
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const Trace afterOff = readTrace(tracePath, dark);
  check(afterOff.sent.empty() && afterOff.lastReading == 0,
        "lit during the light frame or after the reconnect: values sent " + afterOff.sent);
  check(client.value(box + "FLAT_LIGHT_CONTROL.FLAT_LIGHT_OFF") == "On", "the light reads on after the reconnect");

  // The next On brings the stored intensity of the filter in place.
  client.forget(box + "FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE");  // shows the kept 900
  client.setSwitch(kBox, "FLAT_LIGHT_CONTROL", "FLAT_LIGHT_ON");
  need(box + "FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE", "900");
  need(box + "FLAT_LIGHT_INTENSITY._STATE", "Ok");
  check(readTrace(tracePath, dark).sent == "900 ", "On after the light frame sent " + readTrace(tracePath, dark).sent);

  client.disconnectServer();
  if (failures == 0) std::puts("Ekos flat sequence: ok");
  return failures == 0 ? 0 : 1;
}
