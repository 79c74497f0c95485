// indi_kelvane --help and --version. libindidriver owns main() and knows only
// -v; these two are answered before it runs (glibc hands a constructor the
// program's arguments). The text is also the manual page (help2man).
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kHelp =
    "Usage: indi_kelvane [-v]\n"
    "INDI light-box driver for the USB dimmer of a Lumetra flat-field light panel:\n"
    "device \"Kelvane\", listed by KStars as \"Kelvane Flat Panel\" under Auxiliary.\n"
    "indiserver starts it:\n"
    "\n"
    "  indiserver -v indi_kelvane [indi_simulator_wheel ...]\n"
    "\n"
    "FLAT_LIGHT_INTENSITY (0 to 1023) stays Busy until the panel rests at the value\n"
    "and turns Alert when the dimmer stops answering or is unplugged.\n"
    "FLAT_LIGHT_CONTROL On brings back the last brightness, Off sends 0.\n"
    "FLAT_LIGHT_FILTER_INTENSITY holds a brightness per filter of the wheel named in\n"
    "ACTIVE_DEVICES, kept in ~/.indi/Kelvane_config.xml. SIMULATION uses the built-in\n"
    "simulated dimmer, whose faults the Simulation tab switches.\n"
    "\n"
    "Options:\n"
    "  -v              more messages on standard error (repeat for more)\n"
    "  --help          show this text and end\n"
    "  --version       show the version and end\n"
    "\n"
    "Environment:\n"
    "  KELVANE_SIM_TRACE=FILE  append every report of the simulated dimmer to FILE\n"
    "\n"
    "The dimmer's /dev/hidraw node must be readable and writable by the account\n"
    "indiserver runs under (the udev rule of the kelvane package, or group plugdev).\n";

__attribute__((constructor)) void answerHelpAndVersion(int argc, char** argv, char**) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kHelp, stdout);
      std::exit(0);
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("indi_kelvane " KELVANE_VERSION);
      std::exit(0);
    }
  }
}

}  // namespace
