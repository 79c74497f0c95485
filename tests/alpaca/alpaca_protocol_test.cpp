// The Alpaca protocol without sockets, grouped as ConformU groups its checks.
#include <gtest/gtest.h>

#include <vector>

#include "alpaca/alpaca_protocol.h"

namespace kelvane {
namespace {

struct FakePanel : AlpacaCalibrator {
  bool isConnected = true;
  CalibratorState current = CalibratorState::Ready;
  AlpacaFailure answer;  // what the next call answers
  std::vector<int> sent;
  int connects = 0;
  bool connected() const override { return isConnected; }
  AlpacaFailure connect() override {
    ++connects;
    isConnected = !answer;
    return answer;
  }
  void disconnect() override { isConnected = false; }
  CalibratorState state() const override { return current; }
  std::int32_t brightness() const override { return 321; }
  AlpacaFailure calibratorOn(std::int32_t v) override { return sent.push_back(v), answer; }
  AlpacaFailure calibratorOff() override { return sent.push_back(0), answer; }
  AlpacaFailure failure() const override { return {alpaca::DimmerSilent, "the dimmer stopped answering"}; }
};

class AlpacaProtocolTest : public ::testing::Test {
 protected:
  FakePanel panel;
  AlpacaService service{panel, "uid-1"};
  AlpacaReply reply;
  AlpacaReply get(const std::string& member, const std::string& query = "") {
    return reply = service.handle("GET", "/api/v1/covercalibrator/0/" + member, query, "");
  }
  AlpacaReply put(const std::string& member, const std::string& body = "") {
    return reply = service.handle("PUT", "/api/v1/covercalibrator/0/" + member, "", body);
  }
  bool has(const std::string& text) const { return reply.body.find(text) != std::string::npos; }
  int errorNumber() const {
    const auto at = reply.body.find("\"ErrorNumber\":");
    return at == std::string::npos ? -1 : std::stoi(reply.body.substr(at + 14));
  }
};

TEST_F(AlpacaProtocolTest, PathsOutsideTheApiAre4xxAndChangeNothing) {
  const struct { const char* method; const char* path; int status; } cases[] = {
      {"GET", "/management/apiversions", 200},
      {"GET", "/management/v1/configureddevices", 200},
      {"GET", "/setup", 200},
      {"GET", "/setup/v1/covercalibrator/0/setup", 200},
      {"PUT", "/setup/v1/covercalibrator/0/setup", 405},
      {"GET", "/apx/v1/covercalibrator/0/brightness", 400},
      {"GET", "/api/1/covercalibrator/0/brightness", 400},
      {"GET", "/api/v/covercalibrator/0/brightness", 400},
      {"GET", "/api/V1/covercalibrator/0/brightness", 400},
      {"GET", "/api/v2/covercalibrator/0/brightness", 400},
      {"GET", "/api/v1/CoverCalibrator/0/brightness", 400},
      {"GET", "/api/v1/baddevicetype/0/brightness", 400},
      {"GET", "/api/v1/covercalibrator/-1/brightness", 400},
      {"GET", "/api/v1/covercalibrator/99999/brightness", 400},
      {"GET", "/api/v1/covercalibrator/A/brightness", 400},
      {"GET", "/api/v1/covercalibrator/0/Brightness", 400},
      {"GET", "/api/v1/covercalibrator/0/nosuchmember", 400},
      {"GET", "/api/v1/covercalibrator/0/calibratoron", 405},  // no change through GET
      {"PUT", "/api/v1/covercalibrator/0/brightness", 405},
      {"POST", "/api/v1/covercalibrator/0/calibratoron", 405},
  };
  for (const auto& c : cases) {
    reply = service.handle(c.method, c.path, "Brightness=5", "Brightness=5");
    EXPECT_EQ(reply.status, c.status) << c.method << " " << c.path;
    if (c.status != 200) { EXPECT_EQ(reply.contentType.rfind("text/plain", 0), 0u) << c.path; }
  }
  EXPECT_TRUE(panel.sent.empty());
  EXPECT_EQ(service.lastServerTransactionId(), 2u);  // only the JSON answers count
}

TEST_F(AlpacaProtocolTest, TransactionIdsAndParameterCasing) {
  const struct { bool isPut; const char* params; const char* echoed; } cases[] = {
      {false, "ClientTransactionID=17", "17"},  {false, "clienttransactionid=17", "17"},
      {false, "ClientTransactionID=abc", "0"},  {false, "ClientTransactionID=-3", "0"},
      {false, "ClientTransactionID=4294967295", "4294967295"},
      {false, "ClientTransactionID=4294967296", "0"}, {false, "", "0"},
      {true, "ClientTransactionID=17", "17"},  {true, "clienttransactionid=17", "0"},
  };
  std::uint32_t server = 0;
  for (const auto& c : cases) {
    if (c.isPut) put("calibratoroff", c.params);
    else get("brightness", c.params);
    EXPECT_EQ(reply.status, 200) << c.params;
    EXPECT_TRUE(has(std::string("\"ClientTransactionID\":") + c.echoed + ",")) << c.params << reply.body;
    EXPECT_TRUE(has("\"ServerTransactionID\":" + std::to_string(++server) + ",")) << reply.body;
  }
  get("brightness");
  EXPECT_EQ(reply.body, "{\"Value\":321,\"ClientTransactionID\":0,\"ServerTransactionID\":10,"
                        "\"ErrorNumber\":0,\"ErrorMessage\":\"\"}");
  EXPECT_EQ(reply.contentType.rfind("application/json", 0), 0u);
}

TEST_F(AlpacaProtocolTest, BrightnessAcceptsOnlyDecimalIntegersInRange) {
  const struct { const char* body; int status; int error; int sent; } cases[] = {
      {"Brightness=0", 200, 0, 0},          {"Brightness=1023", 200, 0, 1023},
      {"Brightness=%35%30", 200, 0, 50},    {"Brightness=256&Extra=1", 200, 0, 256},
      {"Brightness=-1", 200, 0x401, -1},    {"Brightness=1024", 200, 0x401, -1},
      {"Brightness=1e3", 200, 0x401, -1},   {"Brightness=0x10", 200, 0x401, -1},
      {"Brightness=12.0", 200, 0x401, -1},  {"Brightness=+5", 200, 0x401, -1},
      {"Brightness=--5", 200, 0x401, -1},   {"Brightness=+", 200, 0x401, -1},
      {"Brightness=", 200, 0x401, -1},      {"Brightness=99999999999999999999", 200, 0x401, -1},
      {"Brightness=5%0A", 200, 0x401, -1},  {"brightness=5", 400, -1, -1},
      {"", 400, -1, -1},                    {"Brightness=%zz", 400, -1, -1},
  };
  for (const auto& c : cases) {
    panel.sent.clear();
    put("calibratoron", c.body);
    EXPECT_EQ(reply.status, c.status) << c.body;
    EXPECT_EQ(errorNumber(), c.error) << c.body;
    EXPECT_EQ(panel.sent, c.sent < 0 ? std::vector<int>{} : std::vector<int>{c.sent}) << c.body;
  }
}

TEST_F(AlpacaProtocolTest, StatesAndChangingAgree) {
  for (const auto state : {CalibratorState::Off, CalibratorState::NotReady, CalibratorState::Ready,
                           CalibratorState::Error}) {
    panel.current = state;
    get("calibratorstate");
    EXPECT_TRUE(has("\"Value\":" + std::to_string(static_cast<int>(state)) + ",")) << reply.body;
    get("calibratorchanging");
    EXPECT_TRUE(has(state == CalibratorState::NotReady ? "\"Value\":true" : "\"Value\":false"));
    get("devicestate");
    EXPECT_TRUE(has("{\"Name\":\"CalibratorState\",\"Value\":" + std::to_string(static_cast<int>(state)) + "}"));
    EXPECT_TRUE(has("{\"Name\":\"CalibratorChanging\",\"Value\":" +
                    std::string(state == CalibratorState::NotReady ? "true" : "false") + "}"));
  }
  // A lost dimmer: the reading is not trusted, and the client learns why.
  get("brightness");
  EXPECT_EQ(errorNumber(), alpaca::DimmerSilent);
  EXPECT_TRUE(has("stopped answering"));
  get("maxbrightness");
  EXPECT_TRUE(has("\"Value\":1023,"));
}

TEST_F(AlpacaProtocolTest, CoverActionsAndCommandsAreNotImplemented) {
  const struct { const char* member; int error; } cases[] = {
      {"opencover", 0x400}, {"closecover", 0x400}, {"haltcover", 0x400}, {"commandblind", 0x400},
      {"commandbool", 0x400}, {"commandstring", 0x400}, {"action", 0x40C},
  };
  for (const auto& c : cases) {
    put(c.member, "Action=x&Parameters=&Command=y&Raw=true");
    EXPECT_EQ(errorNumber(), c.error) << c.member;
  }
  get("coverstate");
  EXPECT_TRUE(has("\"Value\":0,"));
  get("supportedactions");
  EXPECT_TRUE(has("\"Value\":[],"));
}

TEST_F(AlpacaProtocolTest, DisconnectedOnlyDescriptiveMembersAnswer) {
  put("connected", "Connected=false");
  const char* answering[] = {"connected", "connecting", "description", "driverinfo",
                             "driverversion", "interfaceversion", "name", "supportedactions"};
  for (const char* m : answering) EXPECT_EQ(get(m).status == 200 && errorNumber() == 0, true) << m;
  const char* refusing[] = {"brightness", "maxbrightness", "calibratorstate", "calibratorchanging",
                            "coverstate", "covermoving", "devicestate"};
  for (const char* m : refusing) EXPECT_EQ((get(m), errorNumber()), alpaca::NotConnected) << m;
  EXPECT_EQ((put("calibratoron", "Brightness=5"), errorNumber()), alpaca::NotConnected);
  EXPECT_EQ((put("calibratoroff"), errorNumber()), alpaca::NotConnected);
  EXPECT_TRUE(panel.sent.empty());
}

TEST_F(AlpacaProtocolTest, ConnectedTakesOnlyBooleansAndReportsWhyItFailed) {
  panel.isConnected = false;
  for (const char* bad : {"Connected=", "Connected=1", "Connected=yes", "connected=true", ""})
    EXPECT_EQ(put("connected", bad).status, 400) << bad;
  EXPECT_EQ(panel.connects, 0);
  panel.answer = {alpaca::DimmerNotFound, "dimmer not found: check that it is plugged in"};
  put("connected", "Connected=True");
  EXPECT_EQ(errorNumber(), alpaca::DimmerNotFound);
  EXPECT_TRUE(has("\"ErrorMessage\":\"dimmer not found"));
  panel.answer = {};
  put("connect");
  EXPECT_EQ(errorNumber(), 0);
  EXPECT_TRUE((get("connected"), has("\"Value\":true")));
}

TEST_F(AlpacaProtocolTest, ConnectedIsCountedPerClientId) {
  // Connected at start-up with no client; three clients, one of them twice.
  for (const char* id : {"1", "2", "3", "3"}) put("connected", std::string("Connected=true&ClientID=") + id);
  EXPECT_EQ(service.connectedClients(), 3u);
  put("connected", "Connected=false&ClientID=9");  // never connected: takes nothing from the others
  put("connected", "Connected=false&ClientID=3");
  put("disconnect", "ClientID=1");
  EXPECT_TRUE(panel.isConnected);
  EXPECT_EQ((get("brightness", "clientid=2"), errorNumber()), 0);
  put("connected", "Connected=false&ClientID=2");
  EXPECT_FALSE(panel.isConnected);
  EXPECT_EQ(panel.connects, 0);
}

TEST(AlpacaText, DiscoveryAndBoundedText) {
  EXPECT_EQ(discoveryReply("alpacadiscovery1", 4567).value_or(""), "{\"AlpacaPort\":4567}");
  EXPECT_FALSE(discoveryReply("alpacadiscovery", 1));
  EXPECT_FALSE(discoveryReply("ALPACADISCOVERY1", 1));
  EXPECT_EQ(boundedText("a\r\nb\x7f\xc3", 80), "a??b??");
  EXPECT_EQ(boundedText(std::string(200, 'x'), 10), std::string(10, 'x') + "...");
  const std::string id = makeUniqueId([] { return 0xFFFFFFFFu; });
  EXPECT_EQ(id, "ffffffff-ffff-4fff-bfff-ffffffffffff");
}

}  // namespace
}  // namespace kelvane
