#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "playback/wire_protocol.h"

namespace playback {

// A row the player sends before it is due, at `position` instead.
struct EarlyRow {
  std::size_t index = 0;
  std::int64_t position = 0;
};

// When the rows of one entry go to the line, pass by pass: the player drives
// it from the audio position (the real clock), the import's line forecast
// from a position that moves straight to the next moment anything is due
// (the virtual clock, DispatchVirtually). Both run this one rule, so a change
// to the flush or keep-alive timing cannot make the forecast disagree with
// what the player sends.
//
// One pass at position P, in this order: the next row, if P has reached the
// position it is sent at (its moment, or its place in the early list), joins
// the batch (one row a pass, so rows due together take consecutive passes);
// then a keep-alive, if P has reached the next multiple of 38,000 (or the
// sink's own clock says one is due); then, if P has reached the next flush
// step, the batch goes out in one write and the step moves on by 512 (also
// when nothing was written), so a P that ran ahead flushes on every pass
// until the step has caught up.
//
// A sink takes the work of the passes:
//   std::int64_t DueAt(std::size_t row)   the row's moment (SampleNumber)
//   void Encode(std::size_t row)          the row's message joins the batch
//   void KeepAlive(std::int64_t P, Dispatcher&)  sends a keep-alive if one
//       is due (KeepAliveDue, then KeepAliveSentByPosition)
//   void Flush(std::int64_t P)            writes the batch, if any, in one write
class Dispatcher {
 public:
  // An entry of `rows` rows; `early` lists rows sent before their moment, in
  // row order.
  Dispatcher(std::size_t rows, std::span<const EarlyRow> early) : rows_(rows), early_(early) {}

  template <typename Sink>
  void Pass(std::int64_t position, Sink& sink) {
    if (!Exhausted() && position >= SendPosition(sink)) {
      sink.Encode(next_);
      ++next_;
      dueKnown_ = false;
    }
    sink.KeepAlive(position, *this);
    if (position >= nextFlush_) {
      sink.Flush(position);
      nextFlush_ += kFlushStep;
    }
  }

  bool Exhausted() const { return next_ >= rows_; }
  // The first position at which a pass has something to do; at or before the
  // position of the last pass when the next one has work at once.
  template <typename Sink>
  std::int64_t NextMoment(Sink& sink) {
    const std::int64_t row =
        Exhausted() ? std::numeric_limits<std::int64_t>::max() : SendPosition(sink);
    return std::min({row, nextFlush_, nextKeepAlive_});
  }

  // The keep-alive every 38,000 positions.
  bool KeepAliveDue(std::int64_t position) const { return position >= nextKeepAlive_; }
  std::int64_t NextKeepAlive() const { return nextKeepAlive_; }
  void KeepAliveSentByPosition() { nextKeepAlive_ += kKeepAliveStep; }
  // For a player whose position stood still: the position's keep-alives move
  // to follow the one its clock sent.
  void KeepAliveNoLaterThan(std::int64_t position) {
    nextKeepAlive_ = std::min(nextKeepAlive_, position);
  }
  void KeepAliveNoSoonerThan(std::int64_t position) {
    nextKeepAlive_ = std::max(nextKeepAlive_, position);
  }

 private:
  template <typename Sink>
  std::int64_t SendPosition(Sink& sink) {
    if (!dueKnown_) {
      while (nextEarly_ < early_.size() && early_[nextEarly_].index < next_) ++nextEarly_;
      due_ = nextEarly_ < early_.size() && early_[nextEarly_].index == next_
                 ? early_[nextEarly_].position
                 : sink.DueAt(next_);
      dueKnown_ = true;
    }
    return due_;
  }

  std::size_t rows_;
  std::span<const EarlyRow> early_;
  std::size_t next_ = 0;
  std::size_t nextEarly_ = 0;
  std::int64_t due_ = 0;
  bool dueKnown_ = false;
  std::int64_t nextKeepAlive_ = kKeepAliveStep;
  std::int64_t nextFlush_ = kFlushStep;
};

// The virtual clock: the passes of a player whose position starts at `start`
// (the frame timing lead, before the song is heard) and then moves straight
// to each next moment, until the last row has joined a batch; what is
// batched then goes out at once, as the player writes it when its rows run
// out. Returns the position of the last pass.
template <typename Sink>
std::int64_t DispatchVirtually(Dispatcher& dispatcher, std::int64_t start, Sink& sink) {
  std::int64_t position = start;
  if (dispatcher.Exhausted()) return position;
  for (;;) {
    dispatcher.Pass(position, sink);
    if (dispatcher.Exhausted()) break;
    position = std::max(position, dispatcher.NextMoment(sink));
  }
  sink.Flush(position);
  return position;
}

// A sink made of four callables, for a driver that keeps its state in locals.
template <typename DueAtFn, typename EncodeFn, typename KeepAliveFn, typename FlushFn>
struct SinkOf {
  DueAtFn dueAt;
  EncodeFn encode;
  KeepAliveFn keepAlive;
  FlushFn flush;

  std::int64_t DueAt(std::size_t row) { return dueAt(row); }
  void Encode(std::size_t row) { encode(row); }
  void KeepAlive(std::int64_t position, Dispatcher& dispatcher) { keepAlive(position, dispatcher); }
  void Flush(std::int64_t position) { flush(position); }
};
// Spelled out: clang before 17 deduces no aggregate's arguments by itself.
template <typename DueAtFn, typename EncodeFn, typename KeepAliveFn, typename FlushFn>
SinkOf(DueAtFn, EncodeFn, KeepAliveFn, FlushFn) -> SinkOf<DueAtFn, EncodeFn, KeepAliveFn, FlushFn>;

}  // namespace playback
