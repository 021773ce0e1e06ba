#include "platform/posix/realtime_kit_bus.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace platform {
namespace {

constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kObject = "/org/freedesktop/RealtimeKit1";
constexpr const char* kInterface = "org.freedesktop.RealtimeKit1";

struct BusError {
  // SD_BUS_ERROR_NULL is a C compound literal; all-zero is the same value.
  sd_bus_error error{};
  ~BusError() { sd_bus_error_free(&error); }
  std::string Text(int r) const {
    if (error.message != nullptr) return error.message;
    return std::strerror(-r);
  }
};

class Bus {
 public:
  Bus() { opened_ = sd_bus_open_system(&bus_); }
  ~Bus() { sd_bus_unref(bus_); }
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;
  sd_bus* get() const { return bus_; }
  int opened() const { return opened_; }

 private:
  sd_bus* bus_ = nullptr;
  int opened_ = 0;
};

class SdBusRealtimeKit final : public RealtimeKit {
 public:
  Result<Limits> QueryLimits() override {
    const Bus bus;
    if (bus.opened() < 0) {
      return Result<Limits>::Error(std::string("no system bus: ") + std::strerror(-bus.opened()));
    }
    Limits limits;
    std::int32_t priority = 0;
    BusError error;
    int r = sd_bus_get_property_trivial(bus.get(), kService, kObject, kInterface,
                                        "MaxRealtimePriority", &error.error, 'i', &priority);
    if (r < 0) return Result<Limits>::Error("RealtimeKit: " + error.Text(r));
    BusError error2;
    r = sd_bus_get_property_trivial(bus.get(), kService, kObject, kInterface, "RTTimeUSecMax",
                                    &error2.error, 'x', &limits.rttimeUsecMax);
    if (r < 0) return Result<Limits>::Error("RealtimeKit: " + error2.Text(r));
    limits.maxPriority = priority;
    return limits;
  }

  Status MakeThreadRealtime(std::uint64_t thread, std::uint32_t priority) override {
    const Bus bus;
    if (bus.opened() < 0) {
      return Status::Error(std::string("no system bus: ") + std::strerror(-bus.opened()));
    }
    BusError error;
    const int r = sd_bus_call_method(bus.get(), kService, kObject, kInterface, "MakeThreadRealtime",
                                     &error.error, nullptr, "tu", thread, priority);
    if (r < 0) return Status::Error("RealtimeKit refused: " + error.Text(r));
    return Status::Ok();
  }
};

}  // namespace

std::unique_ptr<RealtimeKit> SystemBusRealtimeKit() {
  return std::make_unique<SdBusRealtimeKit>();
}

Status AskRealtimeKit(RealtimeKit& kit, std::uint64_t thread, int wanted,
                      const std::function<Status(std::int64_t usec)>& limitRealtimeCpu) {
  const Result<RealtimeKit::Limits> limits = kit.QueryLimits();
  if (!limits) return Status::Error(limits.message());
  const int priority = std::min(wanted, limits.value().maxPriority);
  if (priority < 1) {
    return Status::Error("RealtimeKit grants no real-time priority here (its highest is " +
                         std::to_string(limits.value().maxPriority) + ")");
  }
  if (limits.value().rttimeUsecMax <= 0) {
    return Status::Error("RealtimeKit gives no real-time CPU time limit");
  }
  if (Status limited = limitRealtimeCpu(limits.value().rttimeUsecMax); !limited) return limited;
  return kit.MakeThreadRealtime(thread, static_cast<std::uint32_t>(priority));
}

}  // namespace platform
