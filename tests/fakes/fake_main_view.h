#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shell/main_view.h"
#include "tests/fakes/fake_list_box.h"

namespace fakes {

// A main window that keeps what it is told to show. Selections the test
// makes as the operator go through Pick, which tells the presenter as a
// window would; posted tasks wait for RunPosted.
class FakeMainView : public shell::MainView {
 public:
  struct List {
    std::vector<std::string> entries;
    int selected = -1;
  };

  void SetCaption(const std::string& text) override { caption = text; }
  void ShowWindow() override { shown = true; }
  void SetEnabled(shell::Control control, bool on) override { enabled[Index(control)] = on; }
  void SetButtonFace(shell::Control button, std::uint32_t colour) override {
    face[Index(button)] = colour;
  }
  void SetToolTip(shell::Control control, const std::string& text) override {
    toolTip[Index(control)] = text;
  }
  void SetChoices(shell::Choice list, const std::vector<std::string>& entries) override {
    lists[Index(list)] = {entries, -1};
  }
  void SelectChoice(shell::Choice list, int index) override { lists[Index(list)].selected = index; }
  int SelectedChoice(shell::Choice list) const override { return lists[Index(list)].selected; }
  std::string SelectedChoiceText(shell::Choice list) const override {
    const List& l = lists[Index(list)];
    return l.selected < 0 ? std::string() : l.entries.at(static_cast<std::size_t>(l.selected));
  }
  playlist::ListBox& PlaylistBox() override { return playlistBox; }
  bool PerformBitmask() const override { return bitmask; }
  void SetStatusLine(const shell::ColouredText& line) override {
    status = line;
    if (onStatus) onStatus(line.text);
  }
  void SetNoticeLine(const shell::NoticeLine& line) override { notice = line; }
  void SetKeepAliveBox(const shell::CounterBox& box) override { keepAlive = box; }
  void SetLateCountBox(const shell::CounterBox& box) override { lateCount = box; }
  void SetNowPlaying(const std::string& text) override { nowPlaying = text; }
  void SetPlayingNote(const shell::ColouredText& note) override { playingNote = note; }
  void SetPlayingTime(const std::string& text) override { playingTime = text; }
  void SetScheduleTitle(const std::string& text) override { scheduleTitle = text; }
  void SetPhonePage(const std::string& text) override { phonePage = text; }
  void SetPhonePageCode(const shell::PhonePageCode& code) override { phonePageCode = code; }
  void ShowImportingPanel(bool visible) override { importing = visible; }
  void Post(std::function<void()> task) override { posted.push_back(std::move(task)); }
  void WatchWakeFd(int fd) override { wakeFd = fd; }
  void Trace(const std::string& line) override { traced.push_back(line); }

  void RunPosted() {
    std::vector<std::function<void()>> tasks;
    tasks.swap(posted);
    for (auto& task : tasks) task();
  }
  bool Enabled(shell::Control control) const { return enabled[Index(control)]; }
  std::uint32_t Face(shell::Control button) const { return face[Index(button)]; }
  const std::string& ToolTip(shell::Control control) const { return toolTip[Index(control)]; }

  std::string caption;
  bool shown = false;
  std::array<bool, 12> enabled{};
  std::array<std::uint32_t, 12> face{};
  std::array<std::string, 12> toolTip{};
  std::array<List, 5> lists{};
  FakeListBox playlistBox;
  bool bitmask = true;
  shell::ColouredText status;
  std::function<void(const std::string&)> onStatus;
  shell::NoticeLine notice;
  shell::CounterBox keepAlive;
  shell::CounterBox lateCount;
  std::string nowPlaying;
  shell::ColouredText playingNote;
  std::string playingTime;
  std::string scheduleTitle;
  std::string phonePage;
  shell::PhonePageCode phonePageCode;
  bool importing = false;
  std::vector<std::function<void()>> posted;
  int wakeFd = -1;
  std::vector<std::string> traced;

 private:
  template <typename E>
  static std::size_t Index(E value) {
    return static_cast<std::size_t>(value);
  }
};

}  // namespace fakes
