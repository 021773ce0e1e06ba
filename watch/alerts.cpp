#include "watch/alerts.h"

#include <utility>

namespace watch {
namespace {

// A command stuck in a loop of failures must not bury the show's own lines.
constexpr std::size_t kQueueLimit = 32;
constexpr int kOutputLineLimit = 20;

std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return line;
}

}  // namespace

std::string CutToFit(std::string text, std::size_t limit, std::string_view tail) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit > tail.size() ? limit - tail.size() : 0;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  text += tail;
  return text;
}

AlertRunner::AlertRunner(std::string command, platform::ChildStarter& starter,
                         platform::TimeSource& time,
                         std::function<void(const playback::ShowEvent&)> log)
    : command_(std::move(command)), starter_(starter), time_(time), log_(std::move(log)) {}

void AlertRunner::Raise(std::string_view event, std::string_view text) {
  Alert alert{std::string(event), OneLine(text)};
  log_(playback::show_event::AlertRaised(alert.event, alert.text));
  if (command_.empty()) return;
  const std::size_t length = alert.text.size();
  alert.text = CutToFit(std::move(alert.text), kAlertTextLimit,
                        " ... (" + std::to_string(length) + " bytes in all)");
  if (queue_.size() >= kQueueLimit) {
    ++dropped_;
    return;
  }
  queue_.push_back(std::move(alert));
  Poll();
}

void AlertRunner::Poll() {
  if (running_) {
    KeepOutput(false);
    if (const std::optional<platform::ChildExit> exit = running_->Poll()) {
      KeepOutput(true);
      const std::string what = "Alert command for " + current_.event;
      if (killed_) {
        Log(what + " stopped after " + std::to_string(kAlertTimeLimit.count()) +
            " seconds without ending");
      } else if (exit->signalled) {
        Log(what + " ended by signal " + std::to_string(exit->code));
      } else if (exit->code != 0) {
        Log(what + " failed with exit status " + std::to_string(exit->code));
      }
      running_.reset();
    } else if (!killed_ && time_.Steady() - startedAt_ >= kAlertTimeLimit) {
      killed_ = true;
      running_->Kill();
      return;  // reaped at a later poll, which never has to wait for it
    } else {
      return;
    }
  }
  if (dropped_ > 0) {
    Log("Alert command busy: " + std::to_string(dropped_) + " alerts not passed on");
    dropped_ = 0;
  }
  StartNext();
}

std::string AlertRunner::Drain(std::chrono::steady_clock::duration limit,
                               const std::function<void()>& pause) {
  const auto until = time_.Steady() + limit;
  Poll();
  while (Busy() && time_.Steady() < until) {
    pause();
    Poll();
  }
  std::string told;
  if (!queue_.empty()) {
    Log("Alert command still busy as the show ended: " + std::to_string(queue_.size()) +
        " alerts not passed on");
    told = std::to_string(queue_.size()) + " alerts not passed on";
    queue_.clear();
  }
  if (running_ && !killed_) {
    killed_ = true;
    running_->Kill();
    Log("Alert command for " + current_.event + " stopped as the show ended");
    told = "The alert command for " + current_.event + " did not end within " +
           std::to_string(std::chrono::ceil<std::chrono::seconds>(limit).count()) +
           " seconds of the show's end and was stopped" + (told.empty() ? "" : "; " + told);
  } else if (!told.empty()) {
    told = "The alert command was still busy as the show ended: " + told;
  }
  if (!told.empty()) told += " (show.log has them)";
  return told;
}

void AlertRunner::StartNext() {
  while (!running_ && !queue_.empty()) {
    current_ = std::move(queue_.front());
    queue_.pop_front();
    auto started = starter_.Start({command_, current_.event, current_.text});
    if (!started) {
      Log("Alert command for " + current_.event + " not run: " + started.message());
      continue;
    }
    running_ = std::move(started).value();
    startedAt_ = time_.Steady();
    killed_ = false;
    partialLine_.clear();
    outputLines_ = 0;
  }
}

void AlertRunner::KeepOutput(bool flush) {
  partialLine_ += running_->TakeOutput();
  std::size_t at = 0;
  for (;;) {
    const std::size_t end = partialLine_.find('\n', at);
    if (end == std::string::npos) break;
    if (outputLines_++ < kOutputLineLimit) {
      Log("Alert command said: " + OneLine(std::string_view(partialLine_).substr(at, end - at)));
    }
    at = end + 1;
  }
  partialLine_.erase(0, at);
  if (flush && !partialLine_.empty()) {
    if (outputLines_++ < kOutputLineLimit) Log("Alert command said: " + OneLine(partialLine_));
    partialLine_.clear();
  }
  if (flush && outputLines_ > kOutputLineLimit) {
    Log("Alert command said " + std::to_string(outputLines_ - kOutputLineLimit) +
        " more lines, not kept");
  }
}

}  // namespace watch
