// Plays Ekos 3.6's flats and light frame against indiserver with indi_kelvane
// (simulated), the CCD and the wheel simulator, and checks the simulated
// dimmer's trace.   ekos_flats_client PORT TRACE_FILE
#include <baseclient.h>
#include <basedevice.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

const char *kBox = "Kelvane", *kWheel = "Filter Simulator", *kCamera = "CCD Simulator";
int failures = 0;

bool check(bool ok, const std::string& what) {
  if (!ok) std::printf("FAIL: %s\n", what.c_str()), ++failures;
  return ok;
}

// Keeps each element as "Device.PROPERTY.ELEMENT" -> text, the state as "._STATE".
class Client final : public INDI::BaseClient {
 public:
  bool need(const std::string& key, const std::string& want, double seconds = 10) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool ok = changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                                      [&] { return values_.count(key) && values_[key] == want; });
    return check(ok, key + " never read " + want + " (last: " + values_[key] + ")");
  }
  void forget(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.erase(key);
  }
  // One switch of a one-of-many vector on, the others off, as Ekos sets it,
  // once the driver has defined the vector.
  void set(const char* device, const char* property, const char* element) {
    auto vector = getDevice(device).getSwitch(property);
    for (int wait = 0; wait < 200 && !vector.isValid(); ++wait, vector = getDevice(device).getSwitch(property))
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!check(vector.isValid(), std::string(device) + " has no " + property)) return;
    vector->reset();
    if (auto* one = vector->findWidgetByName(element)) one->setState(ISS_ON);
    sendNewSwitch(vector);
  }

 protected:
  void newProperty(INDI::Property property) override { record(property); }
  void updateProperty(INDI::Property property) override { record(property); }

 private:
  void record(INDI::Property p) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string key = std::string(p.getDeviceName()) + "." + p.getName() + ".";
    values_[key + "_STATE"] = p.getStateAsString();
    if (auto* v = p.getNumber())
      for (const auto& e : *v) values_[key + e.getName()] = std::to_string(std::lround(e.getValue()));
    if (auto* s = p.getSwitch())
      for (const auto& e : *s) values_[key + e.getName()] = e.getStateAsString();
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::string> values_;
};

// From line `from` of the trace on: the brightness values sent ("> 00 20 lo
// hi"), each followed by a blank, and the panel's last reading ("< 00 21 lo hi").
struct Trace { std::string sent = " "; int reading = -1; std::size_t lines = 0; };
Trace readTrace(const char* path, std::size_t from = 0) {
  Trace trace;
  std::ifstream in(path);
  unsigned code = 0, lo = 0, hi = 0;
  char direction = 0;
  for (std::string line; std::getline(in, line);) {
    if (trace.lines++ < from || std::sscanf(line.c_str(), "%c 00 %x %x %x", &direction, &code, &lo, &hi) != 4)
      continue;
    if (direction == '>' && code == 0x20) trace.sent += std::to_string(lo + 256 * hi) + " ";
    if (direction == '<' && code == 0x21) trace.reading = static_cast<int>(lo + 256 * hi);
  }
  return trace;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) return 2;
  Client client;
  client.setServer("127.0.0.1", static_cast<unsigned>(std::atoi(argv[1])));
  if (!check(client.connectServer(), "no indiserver")) return 1;
  const std::string box = std::string(kBox) + ".", wheel = std::string(kWheel) + ".", camera = std::string(kCamera) + ".";
  // Ekos's connect: CONFIG_LOAD, then ACTIVE_FILTER set to the train's wheel.
  const auto connectBox = [&] {
    client.set(kBox, "CONNECTION", "CONNECT");
    client.need(box + "CONNECTION.CONNECT", "On");
    client.set(kBox, "CONFIG_PROCESS", "CONFIG_LOAD");
    client.sendNewText(kBox, "ACTIVE_DEVICES", "ACTIVE_FILTER", kWheel);
  };
  // The filter in place, then an exposure as soon as the wheel rests there;
  // the camera's own wheel moves to another slot with a stored intensity.
  const auto capture = [&](int slot, double seconds) {
    client.forget(wheel + "FILTER_SLOT._STATE");
    client.sendNewNumber(kWheel, "FILTER_SLOT", "FILTER_SLOT_VALUE", slot);
    client.need(wheel + "FILTER_SLOT._STATE", "Ok");
    client.sendNewNumber(kCamera, "FILTER_SLOT", "FILTER_SLOT_VALUE", slot % 4 + 1);
    client.sendNewNumber(kCamera, "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", seconds);
    client.need(camera + "CCD_EXPOSURE._STATE", "Busy");
    client.need(camera + "CCD_EXPOSURE._STATE", "Ok", seconds + 10);
  };
  client.set(kBox, "SIMULATION", "ENABLE");
  client.set(kCamera, "CONNECTION", "CONNECT");
  client.set(kWheel, "CONNECTION", "CONNECT");
  for (const auto& device : {camera, wheel}) client.need(device + "CONNECTION.CONNECT", "On");
  // An automatic train may name the camera's wheel first: indiserver forwards it from then on.
  client.sendNewText(kBox, "ACTIVE_DEVICES", "ACTIVE_FILTER", kCamera);
  connectBox();

  const char* filters[] = {"Red", "Green", "Blue", "H_Alpha"};
  const int stored[] = {300, 500, 700, 900};
  client.need(box + "FLAT_LIGHT_FILTER_INTENSITY.Red", "0");
  for (int k = 0; k < 4; ++k) client.sendNewNumber(kBox, "FLAT_LIGHT_FILTER_INTENSITY", filters[k], stored[k]);
  client.need(box + "FLAT_LIGHT_FILTER_INTENSITY.H_Alpha", "900");

  // Flats in three filters, exposures long against the panel's move.
  client.set(kBox, "FLAT_LIGHT_CONTROL", "FLAT_LIGHT_ON");
  for (int slot = 1; slot <= 3; ++slot) {
    capture(slot, 1.5);
    const Trace trace = readTrace(argv[2]);
    check(trace.reading == stored[slot - 1] && trace.sent.ends_with(" " + std::to_string(stored[slot - 1]) + " "),
          std::string("flat in ") + filters[slot - 1] + ": read " + std::to_string(trace.reading) + ", sent" + trace.sent);
  }

  // Off; a light frame in a filter with a stored intensity, after a
  // brightness from a client and a configuration reload; Ekos's reconnect.
  client.set(kBox, "FLAT_LIGHT_CONTROL", "FLAT_LIGHT_OFF");
  client.need(box + "FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE", "0");
  const std::size_t dark = readTrace(argv[2]).lines;
  client.sendNewNumber(kBox, "FLAT_LIGHT_INTENSITY", "FLAT_LIGHT_INTENSITY_VALUE", 450);
  client.need(box + "FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE", "450");
  client.set(kBox, "CONFIG_PROCESS", "CONFIG_LOAD");
  capture(4, 1);
  client.set(kBox, "CONNECTION", "DISCONNECT");
  client.need(box + "CONNECTION.DISCONNECT", "On");
  client.forget(box + "FLAT_LIGHT_FILTER_INTENSITY.H_Alpha");
  connectBox();
  client.need(box + "FLAT_LIGHT_FILTER_INTENSITY.H_Alpha", "900");  // from the configuration
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const Trace afterOff = readTrace(argv[2], dark);
  check(afterOff.sent == " " && afterOff.reading == 0, "lit after Off: sent" + afterOff.sent);

  // The next On brings the stored intensity of the filter in place.
  client.forget(box + "FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE");
  client.set(kBox, "FLAT_LIGHT_CONTROL", "FLAT_LIGHT_ON");
  client.need(box + "FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE", "900");
  client.need(box + "FLAT_LIGHT_INTENSITY._STATE", "Ok");
  check(readTrace(argv[2], dark).sent == " 900 ", "On after the light frame: sent" + readTrace(argv[2], dark).sent);
  client.disconnectServer();
  return failures == 0 ? 0 : 1;
}
