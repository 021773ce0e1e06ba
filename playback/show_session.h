#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/audio_player.h"
#include "platform/clock.h"
#include "platform/dispatch_priority.h"
#include "platform/log_file.h"
#include "platform/serial_port.h"
#include "platform/status.h"
#include "platform/user_interface.h"
#include "playback/serial_link.h"
#include "playback/show_calendar.h"
#include "playback/show_context.h"
#include "playback/show_event.h"
#include "playback/show_front_end.h"
#include "playback/show_log.h"
#include "playback/show_player.h"
#include "playback/show_scheduler.h"
#include "sequence_format/fade_timing.h"

namespace playback {

// The show as every front end drives it (the window, glimmer show, glimmer
// play, the demo): it owns the serial link, the scheduler, the player and
// the show log, and is the only way in. Everything runs on the front end's
// one thread; requests from outside (Stop, a signal, the phone page) arrive
// at the show's yield points, where the front end's UserInterface lets them
// run, and only touch flags the show reads at its next check.
class ShowSession {
 public:
  // The outside world of one session.
  struct Devices {
    platform::SerialPort& port;
    platform::AudioPlayer& audio;
    // Yields to the front end's events; the empty-playlist and port messages.
    platform::UserInterface& ui;
    platform::Clock& clock;
    // show.log, and the date and time its lines start with.
    platform::LogFile& logFile;
    std::function<std::string()> now;
  };
  // The front end's side. `showRunning` is its ShowRunning field: Stop and
  // closing clear it through the session; the show reads it at its checks.
  struct FrontEnd {
    bool& showRunning;
    ShowSettingsSource& settings;
    PlaylistSource& playlist;
    ShowView& view;
  };

  // `fadeTimings` must outlive the session.
  ShowSession(Devices devices, FrontEnd front, const sequence_format::FadeTimingTable& fadeTimings);
  ShowSession(const ShowSession&) = delete;
  ShowSession& operator=(const ShowSession&) = delete;

  // Runs the show (cmdShowStart_Click); returns when it has ended.
  void Start(const Origin& who);
  // The show ends at its next check; the saved autostart flag becomes "0".
  void Stop(const Origin& who);
  // Closing the window: the song stops and the port closes at once; the
  // autostart flag stays as saved, so the next start goes on with the show.
  // The front end then ends the program.
  void CloseNow(const Origin& who);
  // The show stops as by `who` when the song under way has ended.
  void StopAfterSong(const Origin& who);
  // The song under way ends now and the show goes on with the next entry.
  void Skip(const Origin& who);

  // One entry now, without the daily window (glimmer play, the demo): open
  // the port, play, close. The front end sets its running flag first.
  platform::Status OpenPort() { return link_.OpenPort(); }
  // Wakes the sound output before a single entry is played on its own, so
  // its first frame is heard when the entry starts (keep-alives meanwhile).
  void ReadySound();
  PlayOutcome PlayEntry(int row);
  void ClosePort() { link_.ClosePort(); }
  bool IsPortOpen() const { return link_.IsPortOpen(); }
  // Rows of the last entry played with PlayEntry that were not sent.
  int RejectedRowCount() const;

  // An event of the front end's own (a refused write of the settings, say),
  // as Publish. Never fails.
  void Log(const ShowEvent& event) { Publish(event); }
  // A line in the front end's own words, read as the event it names.
  void Log(std::string_view line) { Publish(show_event::Said(line)); }
  // Every event of the show, as it happens, to `handler`, until
  // Unsubscribe. Handlers run on the show's thread, at the moment of the
  // event, and must not wait.
  ShowEventBus::Token Subscribe(ShowEventBus::Handler handler);
  void Unsubscribe(ShowEventBus::Token token);
  // To the show log, the state and the subscribers.
  void Publish(const ShowEvent& event);
  // Where the show stands now.
  ShowState State() const;

  // The serial link itself, for a front end that writes to the line outside
  // a show (the tests).
  SerialLink& Link() { return link_; }
  // Time of day (seconds) of the last keep-alive (LastKeepAliveTime).
  int LastKeepAliveTime() const { return link_.LastKeepAliveTime(); }

  // The priority the player's dispatch runs at (none: ordinary).
  void SetDispatchPriority(platform::DispatchPriority* priority);
  // When the show may play; the daily window of the settings unless set.
  // `calendar` must outlive the session.
  void SetCalendar(ShowCalendar& calendar);

 private:
  Devices devices_;
  ShowLog log_;
  ShowContext context_;
  SerialLink link_;
  DailyWindow dailyWindow_;
  ShowCalendar* calendar_ = &dailyWindow_;
  platform::DispatchPriority* priority_ = nullptr;
  ShowPlayer& EntryPlayer();
  std::unique_ptr<ShowPlayer> entryPlayer_;
};

}  // namespace playback
