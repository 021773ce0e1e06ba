#include "playback/show_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/utf8_path.h"
#include "playback/dispatcher.h"
#include "playback/line_model.h"
#include "playback/line_report.h"
#include "playback/show_log.h"
#include "playback/wire_protocol.h"
#include "sequence_format/sequence_cache.h"

namespace playback {
namespace {

using Record = sequence_format::EventTable::Record;

constexpr int kIdlePassesPerYield = 50000;
// The longest the loop waits before it reads the audio position again: short
// enough that a position that jumps (or a back end whose position runs a
// little fast) is seen well within one flush step.
constexpr std::chrono::microseconds kMaxWait{5000};
// While a song is not yet heard its position stands still, but the
// controllers still expect a keep-alive every 38,000 positions' worth of time;
// and never wait longer than half a second for one while an entry starts.
constexpr std::chrono::nanoseconds kKeepAliveInterval{kKeepAliveStep * 1'000'000'000 /
                                                      kSamplesPerSecond};
constexpr std::chrono::milliseconds kLongestKeepAliveWait{500};
// While a large sequence file loads and its line is planned: well under the
// 0.43 s between keep-alives while playing, with room for a slow step of the
// read and for the link's own look at the clock.
constexpr std::chrono::milliseconds kLoadKeepAliveEvery{200};
// The longest the show waits for its sound output before the first entry:
// an idle audio server plays out up to two seconds it rendered ahead.
constexpr std::chrono::seconds kLongestSoundWait{3};
// The output latency past which the show log says the sound comes late.
constexpr double kHighOutputLatency = 0.250;

// The title of a playlist entry: its list text without the blanks and the
// archive in parentheses that the import puts after the title.
std::string EntryTitle(const std::string& listText) {
  std::string title = listText.substr(0, listText.find("  ("));
  while (!title.empty() && title.back() == ' ') title.pop_back();
  return title;
}

// Why a file of an entry cannot be used, in plain words: "the song file
// /music/x.wav does not exist", else what its reader said, without the path
// it would repeat.
std::string FileProblem(const std::string& kind, const std::string& path,
                        const std::string& message) {
  std::error_code error;
  if (path.empty() || !std::filesystem::exists(platform::FilePath(path), error)) {
    return "the " + kind + " " + path + " does not exist";
  }
  std::string reason = message;
  if (reason.rfind(path + ": ", 0) == 0) reason.erase(0, path.size() + 2);
  return "the " + kind + " " + path + " cannot be used: " + reason;
}

std::int64_t DuePosition(const Record& row) {
  // A row without a moment is as early as a row can be.
  return row.Get(sequence_format::Column::SampleNumber).value_or(0);
}

// Whole sample positions in `seconds` of audio, rounded down. A back end that
// reports nonsense (not a number, negative) counts as the start of the audio.
std::int64_t ToSamples(double seconds) {
  if (!(seconds > 0.0)) return 0;
  constexpr double kLimit = 1e15;
  const double samples = seconds * static_cast<double>(kSamplesPerSecond);
  return static_cast<std::int64_t>(std::floor(samples < kLimit ? samples : kLimit));
}

}  // namespace

ShowPlayer::ShowPlayer(ShowContext& show, SerialLink& link, platform::AudioPlayer& audio,
                       platform::DispatchPriority* priority)
    : show_(show), link_(link), audio_(audio), priority_(priority) {}

bool ShowPlayer::EntryEnds() const {
  return !show_.ShowRunning() || show_.SkipRequested();
}

std::int64_t ShowPlayer::SamplePosition(bool& heard) {
  // Frame timing is read on every pass so a change made during the show
  // takes effect at once.
  const std::int64_t audioPosition = ToSamples(audio_.PositionSeconds());
  heard = audioPosition > 0;
  return audioPosition + static_cast<std::int64_t>(show_.Settings().frameTiming) * kFrameTimingStep;
}

std::chrono::steady_clock::time_point ShowPlayer::SteadyNow() {
  return show_.Clock().SteadyNow();
}

void ShowPlayer::WaitForPosition(std::int64_t position, std::int64_t target, bool playing) {
  if (position >= target) return;
  if (!playing) {
    // The position stands still (opening, paused): look again shortly.
    show_.UI().WaitForEvents(kMaxWait);
    return;
  }
  // Rounded up, so the loop wakes at or just after the position, not just
  // before it and then once more.
  const std::int64_t samples = target - position;
  const std::chrono::microseconds wait{(samples * 1000000 + kSamplesPerSecond - 1) /
                                       kSamplesPerSecond};
  show_.UI().WaitForEvents(std::min(wait, kMaxWait));
}

void ShowPlayer::ReadySound() {
  audio_.OpenOutputAhead();
  const auto start = SteadyNow();
  auto lastKeepAlive = start;
  while (!audio_.OutputReady() && show_.ShowRunning()) {
    const auto now = SteadyNow();
    if (now - start >= kLongestSoundWait) return;
    if (now - lastKeepAlive >= kKeepAliveInterval) {
      link_.SendKeepAlive();
      lastKeepAlive = now;
    }
    show_.UI().WaitForEvents(kMaxWait);
  }
}

PlayOutcome ShowPlayer::Skip(int row, const std::string& what, const std::string& reason,
                             const std::string& plainReason) {
  const std::string title = EntryTitle(show_.Playlist().EntryAt(row).ListText);
  lastSkipReason_ = "Skipped playlist entry " + std::to_string(row + 1) + ", " + title + ": " +
                    (plainReason.empty() ? what + ": " + reason : plainReason);
  show_.AddNotice(lastSkipReason_);
  show_.Publish(show_event::EntrySkipped(row, what + ": " + reason));
  // The entry's place in the window says it is not playing, and why.
  show_.SetPlayingNote("Skipped - " + what + ": " + reason);
  return PlayOutcome::Skipped;
}

PlayOutcome ShowPlayer::PlayEntry(int row) {
  show_.Publish(show_event::EntryStarted(row, show_.Playlist().EntryAt(row).ListText));
  PlayOutcome outcome = PlayOutcome::Skipped;
  try {
    outcome = Play(row);
  } catch (const std::exception& error) {
    // Whatever went wrong belongs to this entry; the show goes on with the next.
    audio_.Stop();
    audio_.Close();
    return Skip(row, "playlist entry", error.what());
  }
  if (outcome != PlayOutcome::Skipped) ReportLineHealth(row);
  if (outcome == PlayOutcome::Finished) show_.Publish(show_event::EntryFinished(row));
  if (outcome == PlayOutcome::Stopped) show_.Publish(show_event::EntryStopped(row));
  if (outcome == PlayOutcome::Cut) show_.Publish(show_event::EntryCut(row));
  return outcome;
}

PlayOutcome ShowPlayer::Play(int row) {
  rejectedRows_ = 0;
  // A skip asked for between two entries was for the one that had ended.
  (void)show_.TakeSkip();
  const playlist::PlaylistEntry entry = show_.Playlist().EntryAt(row);
  show_.SelectRow(row);
  if (!link_.IsPortOpen()) {
    // The music still plays without the lights; the next entry tries again.
    if (platform::Status opened = link_.OpenPort(); !opened) {
      show_.AddNotice(opened.message() + " - playing without lights");
    }
  }
  link_.SendKeepAlive();
  // When the last keep-alive went out, for the time before the song is heard.
  auto lastKeepAlive = SteadyNow();

  // A large file takes a good part of a second to read and plan; the
  // controllers hear from the show meanwhile as often as while it plays.
  const auto keepAliveWhileLoading = [&] {
    const auto now = SteadyNow();
    if (now - lastKeepAlive < kLoadKeepAliveEvery) return;
    link_.SendKeepAlive();
    lastKeepAlive = now;
  };
  // The rows are played as they were read, without another copy.
  auto loaded = sequence_format::LoadSequenceRows(entry.CachePath, [&] {
    keepAliveWhileLoading();
    show_.UI().DoEvents();
    return show_.ShowRunning();
  });
  if (!loaded && !show_.ShowRunning()) return PlayOutcome::Stopped;
  if (!loaded) {
    return Skip(row, "sequence file " + entry.CachePath, loaded.message(),
                FileProblem("sequence file", entry.CachePath, loaded.message()));
  }
  const sequence_format::CacheRows rows = std::move(loaded).value();
  if (rows.empty()) return Skip(row, "sequence file " + entry.CachePath, "it holds no events");
  // Bursts the line cannot carry in their own flush step go out early
  // enough to arrive around their moment rather than after it.
  const ShowSettings settings = show_.Settings();
  const int baud = settings.baud;
  const std::vector<EarlyRow> early =
      PlanEarlySending(LineMessagesOf(rows, keepAliveWhileLoading), baud, keepAliveWhileLoading);
  lineWatch_.Start(baud, static_cast<std::int64_t>(settings.frameTiming) * kFrameTimingStep);
  Dispatcher dispatch(rows.size(), early);
  link_.SendKeepAlive();
  lastKeepAlive = SteadyNow();

  if (platform::Status opened = audio_.Open(entry.AudioPath); !opened) {
    audio_.Close();
    // The audio player's message already names the file.
    return Skip(row, "audio", opened.message(),
                FileProblem("song file", entry.AudioPath, opened.message()));
  }
  show_.UI().DoEvents();
  link_.SendKeepAlive();
  lastKeepAlive = SteadyNow();
  if (const double latency = audio_.OutputLatencySeconds();
      latency > kHighOutputLatency && !loggedHighLatency_) {
    loggedHighLatency_ = true;
    show_.Publish(show_event::HighOutputLatency(row, latency));
  }
  if (audio_.IsSilent()) {
    show_.SetPlayingNote("Plays silently: " + audio_.SilentReason());
    // Once per show and reason: a machine without sound says so every song.
    if (audio_.SilentReason() != loggedSilentReason_) {
      loggedSilentReason_ = audio_.SilentReason();
      show_.Publish(show_event::PlaysSilently(row, loggedSilentReason_));
    }
  }
  const std::int64_t audioEnd = ToSamples(audio_.DurationSeconds());

  // From here until the entry ends, ahead of ordinary programs where allowed.
  struct PriorityGuard {
    platform::DispatchPriority* priority;
    bool raised;
    ~PriorityGuard() {
      if (raised) priority->Restore();
    }
  } const priorityGuard{priority_, priority_ != nullptr && priority_->Raise()};
  if (priority_ != nullptr && !priorityGuard.raised && !toldNoRealtime_) {
    toldNoRealtime_ = true;
    show_.Publish(show_event::NoRealtime(priority_->WhyNotRaised()));
  }

  const auto stop = [this] {
    audio_.Stop();
    audio_.Close();
    if (show_.ShowRunning() && show_.TakeSkip()) return PlayOutcome::Cut;
    return PlayOutcome::Stopped;
  };
  std::int64_t position = 0;
  const auto flush = [this, &position] {
    if (output_.empty()) return;
    link_.Write(output_);
    output_.clear();
    lineWatch_.Written(position);
  };
  // Until the song is heard its position stands still: the keep-alives go on
  // from the steady clock. From its first heard frame they follow the
  // position, the first of them no later than half a second after the last.
  // A heard position can stand still again while the song plays (an audio
  // server that holds the output back, at its start or in the middle of the
  // song): once it has stood for a keep-alive's interval the steady clock
  // takes over until it moves, and then the position's next keep-alive again
  // comes no later than half a second after the last. A position that moves
  // too slowly still gets one every half second. Paused audio sends none.
  enum class KeepAlive { None, ByClock, ByPosition };
  bool soundStarted = false;
  std::int64_t lastPosition = -1;
  auto positionMovedAt = lastKeepAlive;
  const auto keepAliveDue = [&](std::int64_t position, bool heard, bool playing) {
    const auto now = SteadyNow();
    if (position != lastPosition) {
      const bool resumed = heard && (!soundStarted || now - positionMovedAt >= kKeepAliveInterval);
      if (resumed) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            lastKeepAlive + kLongestKeepAliveWait - now);
        dispatch.KeepAliveNoLaterThan(
            position + std::max<std::int64_t>(0, left.count() * kSamplesPerSecond / 1'000'000));
      }
      soundStarted = soundStarted || heard;
      lastPosition = position;
      positionMovedAt = now;
    }
    if (heard && dispatch.KeepAliveDue(position)) return KeepAlive::ByPosition;
    if (heard && !playing) return KeepAlive::None;
    const bool standsStill = !heard || now - positionMovedAt >= kKeepAliveInterval;
    return now - lastKeepAlive >= (standsStill ? kKeepAliveInterval : kLongestKeepAliveWait)
               ? KeepAlive::ByClock
               : KeepAlive::None;
  };
  const auto sendKeepAlive = [&](KeepAlive kind) {
    if (kind == KeepAlive::None) return;
    link_.SendKeepAlive();
    lineWatch_.KeepAlive(position);
    lastKeepAlive = SteadyNow();
    // The front ends' elapsed and remaining time move at the keep-alives' pace.
    show_.PlayingTime(static_cast<double>(position) / kSamplesPerSecond, audio_.DurationSeconds());
    if (kind == KeepAlive::ByPosition) {
      dispatch.KeepAliveSentByPosition();
    } else if (soundStarted) {
      // The position's next one comes a whole interval of sound later, not
      // the moment the position moves on.
      dispatch.KeepAliveNoSoonerThan(position + kKeepAliveStep);
    }
    show_.UI().DoEvents();
  };

  bool playing = false;
  bool heard = false;
  SinkOf sink{
      [&](std::size_t i) { return DuePosition(rows[i]); },
      [&](std::size_t i) {
        idlePasses_ = 0;
        const std::size_t before = output_.size();
        const Record& row = rows[i];
        if (EncodeEvent(row, audioEnd, show_.FadeTimings(), output_) == EncodeResult::Rejected)
          ++rejectedRows_;
        lineWatch_.Encoded(DuePosition(row), output_.size() - before);
      },
      [&](std::int64_t, Dispatcher&) { sendKeepAlive(keepAliveDue(position, heard, playing)); },
      [&](std::int64_t) { flush(); }};
  for (;;) {
    playing = audio_.PlayState() == platform::kPlayStatePlaying;
    if (!playing) show_.UI().DoEvents();
    position = SamplePosition(heard);
    if (++idlePasses_ >= kIdlePassesPerYield) {
      show_.UI().DoEvents();
      idlePasses_ = 0;
    }
    dispatch.Pass(position, sink);
    if (EntryEnds()) {
      flush();
      return stop();
    }
    if (dispatch.Exhausted()) break;
    const int state = audio_.PlayState();
    if (state == platform::kPlayStateStopped) break;
    // Nothing changes before the position reaches the next row, flush step
    // or keep-alive. Every flush step gets its own pass, so batches split
    // exactly where a loop that never paused would split them, and where the
    // line forecast's virtual clock splits them.
    WaitForPosition(position, dispatch.NextMoment(sink), state == platform::kPlayStatePlaying);
  }
  // Rows already due go out now rather than waiting for the next entry.
  flush();

  if (EntryEnds()) return stop();
  for (int state = audio_.PlayState(); state != platform::kPlayStateStopped;
       state = audio_.PlayState()) {
    bool heard = false;
    position = SamplePosition(heard);
    sendKeepAlive(keepAliveDue(position, heard, state == platform::kPlayStatePlaying));
    show_.UI().DoEvents();
    if (EntryEnds()) return stop();
    WaitForPosition(position, dispatch.NextKeepAlive(), state == platform::kPlayStatePlaying);
  }
  audio_.Close();

  if (rejectedRows_ > 0) {
    show_.AddNotice(std::to_string(rejectedRows_) + " event(s) of " + entry.CachePath +
                    " were not sent: a value was missing or outside 0..255");
  }
  return PlayOutcome::Finished;
}

void ShowPlayer::ReportLineHealth(int row) {
  const double late = lineWatch_.WorstLateness();
  if (late <= kVisibleSlipSeconds) return;
  const int ms = static_cast<int>(late * 1000 + 0.5);
  const std::string at = MinutesSeconds(lineWatch_.WorstAt());
  show_.Publish(show_event::LineLate(row, ms, at, lineWatch_.Baud()));
  show_.AddNotice("The lights of playlist entry " + std::to_string(row + 1) + " (" +
                  show_.Playlist().EntryAt(row).ListText + ") fell up to " + std::to_string(ms) +
                  " ms behind the music at " + at + ": more than the serial line at " +
                  std::to_string(lineWatch_.Baud()) + " baud carries in time");
}

}  // namespace playback
