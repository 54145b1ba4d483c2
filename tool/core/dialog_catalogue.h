// The dialogs the main dialog opens, each made as its button makes it: for pictures of every
// dialog, and for the checks that each has its templates.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/link.h"
#include "dialogs/dialog.h"

namespace tillwright {

struct DialogEntry {
  std::string templateName;
  std::function<std::unique_ptr<ui::Dialog>()> make;
};

std::vector<DialogEntry> DialogCatalogue(AppState &state, ILink &link);

}  // namespace tillwright
