#include "json_reader.h"

#include <optional>
#include <set>
#include <vector>

namespace hub::reader {

using nlohmann::json;

[[noreturn]] void Fail(int status, const char *code, const std::string &where, const std::string &what) {
  throw Fault{RequestError{status, code, where.empty() ? what : where + ": " + what}};
}

std::string Member(const std::string &where, std::string_view name) {
  return where.empty() ? std::string(name) : where + "." + std::string(name);
}

std::string Index(const std::string &where, size_t i) { return where + "[" + std::to_string(i) + "]"; }

std::string Quoted(std::string_view name) {
  constexpr size_t kShown = 40;
  if (name.size() > kShown) {
    size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return "\"" + std::string(name.substr(0, cut)) + "...\"";
  }
  return "\"" + std::string(name) + "\"";
}

namespace {

// Where the body first opens more than `depthMax` arrays and objects, if it does.
std::optional<size_t> TooDeepAt(std::string_view body, int depthMax) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > depthMax) return i;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return std::nullopt;
}

}  // namespace

json ParseObject(std::string_view body, int depthMax) {
  if (body.size() > kMaxRequestBytes) {
    Fail(413, "too-large", "",
         "the body is " + std::to_string(body.size()) + " bytes, more than " + std::to_string(kMaxRequestBytes));
  }
  if (const auto at = TooDeepAt(body, depthMax)) {
    Fail(400, "bad-json", "", "nested deeper than " + std::to_string(depthMax) + " at byte " + std::to_string(*at));
  }
  std::vector<std::set<std::string>> open;
  const json::parser_callback_t noDuplicates = [&open](int, json::parse_event_t event, json &parsed) {
    if (event == json::parse_event_t::object_start) {
      open.emplace_back();
    } else if (event == json::parse_event_t::object_end) {
      if (!open.empty()) open.pop_back();
    } else if (event == json::parse_event_t::key && !open.empty()) {
      const auto &name = parsed.get_ref<const std::string &>();
      if (!open.back().insert(name).second) Fail(400, "duplicate-member", Quoted(name), "given twice in one object");
    }
    return true;
  };
  json value;
  try {
    value = json::parse(body.begin(), body.end(), noDuplicates);
  } catch (const json::parse_error &e) {
    Fail(400, "bad-json", "", "the body is no JSON document (at byte " + std::to_string(e.byte) + ")");
  } catch (const json::out_of_range &e) {
    // A number beyond a double (1e400); nlohmann names it in quotes, and it is ASCII.
    const std::string what = e.what();
    const size_t first = what.find('\'');
    const size_t last = what.rfind('\'');
    std::string number = first < last ? what.substr(first + 1, last - first - 1) : "a number";
    if (number.size() > 40) number = number.substr(0, 40) + "...";
    Fail(422, "bad-number", "", number + " is beyond any number the device takes");
  }
  if (!value.is_object()) Fail(400, "bad-json", "", "the body must be a JSON object");
  return value;
}

void Members(const json &object, const std::string &where, std::initializer_list<std::string_view> known) {
  for (const auto &[name, value] : object.items()) {
    bool found = false;
    for (const std::string_view k : known) found = found || name == k;
    if (!found) Fail(400, "unknown-member", where, "unknown member " + Quoted(name));
  }
}

const json *Find(const json &object, const char *name) {
  const auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

const json &Need(const json &object, const std::string &where, const char *name) {
  const json *value = Find(object, name);
  if (value == nullptr) Fail(400, "missing-member", Member(where, name), "missing");
  return *value;
}

const std::string &String(const json &value, const std::string &where) {
  if (!value.is_string()) Fail(400, "bad-type", where, "must be a string");
  return value.get_ref<const std::string &>();
}

}  // namespace hub::reader
