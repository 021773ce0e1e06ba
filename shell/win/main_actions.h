#pragma once

#include <string>

#include "shell/main_view.h"

namespace shell::win {

// What the window forwards: the operator's actions, the periodic tick and
// the port list's tooltip. The presenter stands behind it (PresenterActions);
// the window's tests put a recorder there.
class MainActions {
 public:
  virtual ~MainActions() = default;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual void Add() = 0;
  virtual void Remove() = 0;
  virtual void MoveUp() = 0;
  virtual void MoveDown() = 0;
  virtual void ChoiceChanged(Choice list) = 0;
  virtual void QueryUnload() = 0;
  virtual void Tick() = 0;
  virtual std::string PortToolTip() const = 0;
};

// The actions as calls on a presenter (shell::MainPresenter).
template <typename Presenter>
class PresenterActions final : public MainActions {
 public:
  explicit PresenterActions(Presenter& presenter) : p_(presenter) {}
  void Start() override { p_.Start(); }
  void Stop() override { p_.Stop(); }
  void Add() override { p_.Add(); }
  void Remove() override { p_.Remove(); }
  void MoveUp() override { p_.MoveUp(); }
  void MoveDown() override { p_.MoveDown(); }
  void ChoiceChanged(Choice list) override { p_.ChoiceChanged(list); }
  void QueryUnload() override { p_.QueryUnload(); }
  void Tick() override { p_.Tick(); }
  std::string PortToolTip() const override { return p_.PortToolTip(); }

 private:
  Presenter& p_;
};

}  // namespace shell::win
