#pragma once
// The two devices behind the Alpaca protocol: the main window (a client's
// brightness is applied as a step button applies its result) and the panel
// controller of the server without a window.
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>

#include "alpaca/alpaca_protocol.h"
#include "panel/panel_controller.h"

namespace kelvane {

class FrmMDI;
class ErrorHandler;

// Off or Ready once the panel rests: Off after CalibratorOff, or at 0 unless
// a client asked for 0 with CalibratorOn.
CalibratorState restingState(std::int32_t target, const std::optional<std::int32_t>& onRequest);

class WindowCalibrator final : public AlpacaCalibrator {
 public:
  WindowCalibrator(FrmMDI& window, ErrorHandler& errors);
  bool connected() const override { return connected_; }
  AlpacaFailure connect() override;
  void disconnect() override { connected_ = false; }
  CalibratorState state() const override;
  std::int32_t brightness() const override;
  AlpacaFailure calibratorOn(std::int32_t value) override;
  AlpacaFailure calibratorOff() override;
  AlpacaFailure failure() const override;

 private:
  AlpacaFailure apply(std::int32_t value);
  FrmMDI& window_;
  ErrorHandler& errors_;
  bool connected_;
  std::optional<std::int32_t> onRequest_;
  std::string runFailure_;
};

class HeadlessCalibrator final : public QObject, public AlpacaCalibrator {
 public:
  // saveBrightness keeps a client's request in the settings.
  HeadlessCalibrator(PanelEngine& engine, PanelController& controller, ErrorHandler& errors,
                     std::function<void(std::int32_t)> saveBrightness);
  bool connected() const override { return connected_; }
  AlpacaFailure connect() override;
  void disconnect() override;
  CalibratorState state() const override;
  std::int32_t brightness() const override { return controller_.reading().value; }
  AlpacaFailure calibratorOn(std::int32_t value) override;
  AlpacaFailure calibratorOff() override;
  AlpacaFailure failure() const override;

  // Sends a brightness without a client (start-up, turn-off at the end).
  bool request(std::int32_t value);

 private:
  AlpacaFailure apply(std::int32_t value);
  PanelEngine& engine_;
  PanelController& controller_;
  ErrorHandler& errors_;
  std::function<void(std::int32_t)> saveBrightness_;
  QTimer monitor_;
  bool connected_ = false;
  bool stepChangeSent_ = false;
  std::optional<std::int32_t> onRequest_;
};

}  // namespace kelvane
