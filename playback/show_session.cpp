#include "playback/show_session.h"

#include <utility>

namespace playback {

ShowSession::ShowSession(Devices devices, FrontEnd front,
                         const sequence_format::FadeTimingTable& fadeTimings)
    : devices_(std::move(devices)),
      // A log that cannot be written is said once, beside the status line;
      // the show goes on without it.
      log_(devices_.logFile, devices_.now,
           [this](const std::string& why) {
             context_.AddNotice(why + " - the show goes on without it");
           }),
      context_(front.showRunning, fadeTimings, front.settings, front.playlist, front.view, log_,
               devices_.ui, devices_.clock),
      link_(devices_.port, context_) {}

void ShowSession::Start(const Origin& who) {
  context_.Publish(show_event::ShowStarted(who.name));
  ShowScheduler scheduler(context_, link_, devices_.audio, *calendar_);
  scheduler.SetDispatchPriority(priority_);
  scheduler.Run();
}

void ShowSession::Stop(const Origin& who) {
  context_.Stop(who);
}

void ShowSession::CloseNow(const Origin& who) {
  context_.ClearRunning(who);
  platform::AudioPlayer& audio = devices_.audio;
  if (audio.PlayState() != platform::kPlayStateStopped) audio.Stop();
  audio.Close();
  if (link_.IsPortOpen()) link_.ClosePort();
}

void ShowSession::StopAfterSong(const Origin& who) {
  context_.RequestStopAfterSong(who);
}

void ShowSession::Skip(const Origin& who) {
  (void)who;
  context_.RequestSkip();
}

ShowPlayer& ShowSession::EntryPlayer() {
  if (!entryPlayer_) {
    entryPlayer_ = std::make_unique<ShowPlayer>(context_, link_, devices_.audio, priority_);
  }
  return *entryPlayer_;
}

void ShowSession::ReadySound() {
  EntryPlayer().ReadySound();
}

PlayOutcome ShowSession::PlayEntry(int row) {
  return EntryPlayer().PlayEntry(row);
}

int ShowSession::RejectedRowCount() const {
  return entryPlayer_ ? entryPlayer_->RejectedRowCount() : 0;
}

ShowEventBus::Token ShowSession::Subscribe(ShowEventBus::Handler handler) {
  return context_.Events().Subscribe(std::move(handler));
}

void ShowSession::Unsubscribe(ShowEventBus::Token token) {
  context_.Events().Unsubscribe(token);
}

void ShowSession::Publish(const ShowEvent& event) {
  context_.Publish(event);
}

ShowState ShowSession::State() const {
  return context_.State();
}

void ShowSession::SetDispatchPriority(platform::DispatchPriority* priority) {
  priority_ = priority;
  entryPlayer_.reset();
}

void ShowSession::SetCalendar(ShowCalendar& calendar) {
  calendar_ = &calendar;
}

}  // namespace playback
