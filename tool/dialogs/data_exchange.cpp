#include "dialogs/data_exchange.h"

#include <charconv>
#include <climits>
#include <cmath>

namespace tillwright::ui {
namespace {

// Characters of a UTF-8 text: every byte that does not continue a sequence starts one.
size_t CharacterCount(const std::string &text) {
  size_t count = 0;
  for (const unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

std::string Trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string Fill(std::string message, const std::string &first, const std::string &second = {}) {
  if (const size_t at = message.find("%1"); at != std::string::npos) message.replace(at, 2, first);
  if (const size_t at = message.find("%2"); at != std::string::npos) message.replace(at, 2, second);
  return message;
}

}  // namespace

DataExchange::DataExchange(IDialogView &view, IPrompter &prompter, bool fromControls)
    : view_(view), prompter_(prompter), fromControls_(fromControls) {}

void DataExchange::Refuse(ControlId id, std::string_view message) {
  failed_ = true;
  prompter_.Inform(message, {}, Icon::Warning);
  view_.SetFocus(id);
}

void DataExchange::Text(ControlId id, std::string &field, size_t maxChars) {
  if (failed_) return;
  if (!fromControls_) {
    view_.SetText(id, field);
    return;
  }
  std::string text = view_.Text(id);
  if (maxChars != 0 && CharacterCount(text) > maxChars) {
    Refuse(id, Fill(kTooLong, std::to_string(maxChars)));
    return;
  }
  field = std::move(text);
}

void DataExchange::Integer(ControlId id, int32_t &field, int32_t min, int32_t max) {
  if (failed_) return;
  if (!fromControls_) {
    view_.SetText(id, std::to_string(field));
    return;
  }
  // Not through the C locale: the toolkit may have set one that reads numbers otherwise.
  std::string text = Trimmed(view_.Text(id));
  if (!text.empty() && text[0] == '+') text.erase(0, 1);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min || value > max) {
    Refuse(id, Fill(kIntegerRange, std::to_string(min), std::to_string(max)));
    return;
  }
  field = static_cast<int32_t>(value);
}

void DataExchange::Integer(ControlId id, int32_t &field) {
  if (failed_) return;
  if (!fromControls_) {
    view_.SetText(id, std::to_string(field));
    return;
  }
  std::string text = Trimmed(view_.Text(id));
  if (!text.empty() && text[0] == '+') text.erase(0, 1);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size() || (error != std::errc() && error != std::errc::result_out_of_range)) {
    Refuse(id, kNotAnInteger);
    return;
  }
  constexpr int64_t kLow = INT32_MIN;
  constexpr int64_t kHigh = INT32_MAX;
  if (error == std::errc::result_out_of_range || value < kLow || value > kHigh) {
    Refuse(id, Fill(kIntegerRange, std::to_string(kLow), std::to_string(kHigh)));
    return;
  }
  field = static_cast<int32_t>(value);
}

void DataExchange::MinMax(ControlId id, int32_t value, int32_t min, int32_t max) {
  if (failed_ || !fromControls_) return;
  if (value < min || value > max) Refuse(id, Fill(kIntegerRange, std::to_string(min), std::to_string(max)));
}

void DataExchange::Number(ControlId id, double &field, int decimals) {
  if (failed_) return;
  if (!fromControls_) {
    char text[400];  // the longest fixed form of a double with a few decimals
    const auto [end, error] =
        decimals == kShortest
            ? std::to_chars(text, text + sizeof text, field, std::chars_format::general, 15)
            : std::to_chars(text, text + sizeof text, field, std::chars_format::fixed, decimals);
    view_.SetText(id, error == std::errc() ? std::string(text, end) : std::string());
    return;
  }
  std::string text = Trimmed(view_.Text(id));
  if (!text.empty() && text[0] == '+') text.erase(0, 1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    Refuse(id, kNotANumber);
    return;
  }
  field = value;
}

void DataExchange::Check(ControlId id, bool &field) {
  if (failed_) return;
  if (fromControls_) {
    field = view_.Checked(id);
  } else {
    view_.SetChecked(id, field);
  }
}

void DataExchange::Radio(ControlId first, ControlId last, int &field) {
  if (failed_) return;
  if (fromControls_) {
    field = -1;
    for (ControlId id = first; id <= last; ++id) {
      if (view_.Checked(id)) {
        field = id - first;
        break;
      }
    }
    return;
  }
  for (ControlId id = first; id <= last; ++id) view_.SetChecked(id, id - first == field);
}

void DataExchange::Selection(ControlId id, int &field) {
  if (failed_) return;
  if (fromControls_) {
    field = view_.Selection(id);
  } else {
    view_.SetSelection(id, field);
  }
}

}  // namespace tillwright::ui
