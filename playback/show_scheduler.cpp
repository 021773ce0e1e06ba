#include "playback/show_scheduler.h"

#include <string>

#include "playback/show_log.h"
#include "playback/show_player.h"

namespace playback {
namespace {

// Ten seconds of 100 ms steps.
constexpr int kRetrySteps = 100;

}  // namespace

std::string StartPortFailedMessage(const std::string& reason) {
  return "The show could not start.\r\n\r\n" + reason +
         "\r\n\r\nCheck that the serial adapter is plugged in and that no other program uses "
         "it, or choose another COM Port (its tooltip names the device each number opens).";
}

void ShowScheduler::Run() {
  platform::UserInterface& ui = show_.UI();
  platform::Clock& clock = show_.Clock();
  show_.BeginShow();
  show_.SetRunning();
  show_.SetStatus(kRunningText);
  show_.SaveSettings();
  ui.DoEvents();
  if (link_.IsPortOpen()) link_.ClosePort();

  const auto endShow = [&] {
    if (link_.IsPortOpen()) link_.ClosePort();
    show_.EndShow();
    show_.SetStatus(kStoppedText);
    ui.DoEvents();
  };

  if (platform::Status opened = link_.OpenPort(); !opened) {
    ui.ShowMessage(StartPortFailedMessage(opened.message()));
    show_.Publish(show_event::ShowEnded(opened.message()));
    endShow();
    return;
  }

  calendar_.ShowStarts();
  ShowPlayer player(show_, link_, audio_, priority_);
  bool resumeShowsRunning = false;
  bool paused = false;  // for the log, which notes the changes only
  for (;;) {
    const ShowSettings settings = show_.Settings();
    const ShowTime now = ReadShowTime(clock);
    const ShowCalendar::Answer answer = calendar_.NightAt(settings, now);
    if (!answer.night) {
      if (link_.IsPortOpen()) link_.ClosePort();
      if (!paused) {
        const std::optional<ShowNight> next = calendar_.NextNightAfter(settings, now);
        ShowState::Window window;
        window.nextOpeningText = next ? next->opensText : std::string();
        window.problem = answer.problem;
        show_.SetWindow(window);
        show_.Publish(calendar_.PausedEvent(settings, now));
        show_.SetNextShow(next ? NextShowText(next->opensText) : std::string());
      }
      paused = true;
      show_.SetStatus(kPausedText);
      if (!answer.problem.empty()) show_.AddNotice(answer.problem);
      resumeShowsRunning = true;
      ui.DoEvents();
      clock.Sleep100ms();
      if (!show_.ShowRunning()) break;
      continue;
    }

    if (paused || !show_.State().window.open) {
      ShowState::Window window;
      window.open = true;
      window.start = answer.night->start;
      window.end = answer.night->end;
      window.volumePercent = answer.night->volumePercent;
      window.startText = answer.night->startText;
      window.endText = answer.night->endText;
      show_.SetWindow(window);
    }
    if (paused) {
      show_.Publish(show_event::Resumed());
      show_.SetNextShow({});
    }
    paused = false;
    const int rowCount = show_.Playlist().RowCount();
    if (rowCount <= 0) {
      ui.ShowMessage(kEmptyPlaylistMessage);
      show_.Publish(show_event::ShowEnded("the playlist is empty"));
      break;
    }
    if (resumeShowsRunning) {
      show_.SetStatus(kRunningText);
      resumeShowsRunning = false;
    }

    // The pass keeps the night it began in: the end and the volume are that
    // night's, whoever asks the calendar about other moments meanwhile.
    const ShowNight night = *answer.night;
    audio_.SetVolumePercent(night.volumePercent);
    player.ReadySound();
    const int lastRow = rowCount - 1;
    bool stopped = false;
    bool anyPlayed = false;
    for (int row = 0;; ++row) {
      const PlayOutcome outcome = player.PlayEntry(row);
      if (outcome == PlayOutcome::Stopped) {
        stopped = true;
        break;
      }
      if (outcome == PlayOutcome::Finished || outcome == PlayOutcome::Cut) anyPlayed = true;
      if (outcome == PlayOutcome::Skipped) {
        // A skip takes no time of its own: without a yield, a long list of
        // entries that cannot play answered Stop only after the whole pass.
        ui.DoEvents();
        if (!show_.ShowRunning()) {
          stopped = true;
          break;
        }
      }
      if (const std::optional<Origin> who = show_.TakeStopAfterSong()) {
        show_.Stop(*who);
        stopped = true;
        break;
      }
      if (night.EndedAt(ReadShowTime(clock))) {
        link_.ClosePort();
        break;
      }
      if (row == lastRow) break;
    }
    if (stopped) break;

    if (!anyPlayed) {
      // Every entry was skipped: wait rather than spin, then try again so the
      // show recovers by itself once the files are back.
      if (link_.IsPortOpen()) link_.ClosePort();
      show_.AddNotice(std::string(kNothingPlayableText) +
                      ". Last problem: " + player.LastSkipReason());
      show_.Publish(show_event::NothingPlayable(player.LastSkipReason()));
      resumeShowsRunning = true;
      for (int step = 0; step < kRetrySteps && show_.ShowRunning(); ++step) {
        ui.DoEvents();
        clock.Sleep100ms();
      }
      if (!show_.ShowRunning()) break;
    }
  }
  endShow();
}

}  // namespace playback
