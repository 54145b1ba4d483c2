#include "dialogs/dialog.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "dialogs/data_exchange.h"

namespace tillwright::ui {

Dialog::Dialog(std::string templateName) : templateName_(std::move(templateName)) {}

Dialog::~Dialog() = default;

void Dialog::Attach(IDialogView &view, IPrompter &prompter) {
  view_ = &view;
  prompter_ = &prompter;
}

void Dialog::Detach() {
  view_ = nullptr;
  prompter_ = nullptr;
}

void Dialog::OnInitDialog() { UpdateData(false); }

void Dialog::OnOK() {
  if (UpdateData(true)) EndDialog(kResultOk);
}

void Dialog::OnCancel() { EndDialog(kResultCancel); }

void Dialog::OnDestroy() {}

bool Dialog::Dispatch(ControlId id, Event event) {
  for (const Route &route : routes_) {
    if (route.id == id && route.event == event) {
      route.handler();
      return true;
    }
  }
  if (event != Event::Clicked) return false;
  if (id == kIdOk) {
    OnOK();
    return true;
  }
  if (id == kIdCancel) {
    OnCancel();
    return true;
  }
  return false;
}

bool Dialog::UpdateData(bool fromControls) {
  DataExchange dx(View(), Prompter(), fromControls);
  DoDataExchange(dx);
  return !dx.Failed();
}

void Dialog::DoDataExchange(DataExchange & /*dx*/) {}

void Dialog::On(ControlId id, Event event, std::function<void()> handler) {
  routes_.push_back({id, event, std::move(handler)});
}

void Dialog::Menu(MenuAction action, std::function<void()> handler) {
  const bool fits = action.id > 0 && action.id < 0xF000 && action.id % 16 == 0;
  if (!fits)
    throw std::logic_error("menu action " + std::to_string(action.id) + " of " + templateName_ +
                           " is no multiple of 16 below 0xF000");
  routes_.push_back({action.id, Event::Clicked, std::move(handler)});
  menu_.push_back(std::move(action));
}

void Dialog::Uses(std::initializer_list<ControlId> ids) { used_.insert(used_.end(), ids); }

std::vector<ControlId> Dialog::Controls() const {
  std::vector<ControlId> ids = used_;
  for (const Route &route : routes_) {
    const bool menu = std::any_of(menu_.begin(), menu_.end(), [&](const MenuAction &a) { return a.id == route.id; });
    if (!menu) ids.push_back(route.id);
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

IDialogView &Dialog::View() const {
  if (view_ == nullptr) throw std::logic_error("dialog " + templateName_ + " has no view");
  return *view_;
}

IPrompter &Dialog::Prompter() const {
  if (prompter_ == nullptr) throw std::logic_error("dialog " + templateName_ + " has no prompter");
  return *prompter_;
}

void Dialog::EndDialog(int result) { View().End(result); }

}  // namespace tillwright::ui
