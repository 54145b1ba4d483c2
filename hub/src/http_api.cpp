#include "http_api.h"

#include <httplib.h>

#include <array>
#include <charconv>
#include <ctime>
#include <utility>

#include "settings_line.h"
#include "settings_request.h"
#include "status_page.h"

namespace hub {
namespace {

constexpr size_t kMaxKey = 200;
constexpr size_t kMaxListed = 500;

void SendJson(httplib::Response &res, int status, const nlohmann::json &body) {
  res.status = status;
  res.set_content(body.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", "application/json");
}

void SendError(httplib::Response &res, int status, const std::string &code, const std::string &message) {
  SendJson(res, status, {{"error", {{"code", code}, {"message", message}}}});
}

// Compared in constant time: the answer must not tell how much of a guess was right.
bool SameSecret(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i % (b.empty() ? 1 : b.size())]);
  return diff == 0 && !b.empty();
}

std::string IsoTime(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

// The "limit" parameter of a listing: 1..max, `fallback` when absent; answers 400 itself.
std::optional<size_t> LimitParam(const httplib::Request &req, httplib::Response &res, size_t fallback, size_t max) {
  if (!req.has_param("limit")) return fallback;
  const std::string text = req.get_param_value("limit");
  size_t limit = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), limit);
  if (error != std::errc() || end != text.data() + text.size() || limit == 0 || limit > max) {
    SendError(res, 400, "bad-limit", "limit is a number from 1 to " + std::to_string(max));
    return std::nullopt;
  }
  return limit;
}

nlohmann::json DeviceJson(const Device &device, const DeviceText &text, bool full) {
  const DeviceIdentity &id = device.Identity();
  nlohmann::json j = {{"serial", id.serial},
                      {"port", id.port},
                      {"state", device.State()},
                      {"queue", device.QueueLength()},
                      {"status", device.LastStatus()}};
  if (!full) return j;
  j["firmware"] = text.FromDevice(id.firmware);
  j["fiscalMemory"] = id.fiscalMemory;
  j["statusText"] = StatusTexts(device.LastStatus());
  const LineCounts counts = device.Counts();
  j["line"] = {
      {"calls", counts.calls}, {"refused", counts.refused}, {"unknown", counts.unknown}, {"settled", counts.settled}};
  return j;
}

struct Route {
  const char *path;
  DocumentKind kind;
};
constexpr std::array<Route, 5> kDocumentRoutes = {{{"receipts", DocumentKind::Receipt},
                                                   {"non-fiscal", DocumentKind::NonFiscal},
                                                   {"reports", DocumentKind::Report},
                                                   {"cash", DocumentKind::Cash},
                                                   {"commands", DocumentKind::Command}}};

class Api : public std::enable_shared_from_this<Api> {
 public:
  Api(Devices &devices, Store &store, const DeviceText &text, ApiOptions options)
      : devices_(devices), store_(store), text_(text), options_(std::move(options)) {}

  bool Authorised(const httplib::Request &req, httplib::Response &res) const {
    // The page itself holds no data; what it shows, it asks for with the token.
    if (options_.token.empty() || (req.method == "GET" && req.path == "/")) return true;
    const std::string header = req.get_header_value("Authorization");
    constexpr std::string_view kBearer = "Bearer ";
    if (header.compare(0, kBearer.size(), kBearer) == 0 && SameSecret(header.substr(kBearer.size()), options_.token)) {
      return true;
    }
    res.set_header("WWW-Authenticate", "Bearer");
    SendError(res, 401, "unauthorised", "this hub takes requests with its token only (Authorization: Bearer ...)");
    return false;
  }

  // The device the path names (its first part), or null with 404 answered.
  Device *FindDevice(const httplib::Request &req, httplib::Response &res) const {
    Device *device = devices_.Find(req.matches[1]);
    if (device == nullptr) {
      SendError(res, 404, "unknown-device",
                "no device with serial number " + std::string(req.matches[1]) + " is served here");
    }
    return device;
  }

  void Document(const httplib::Request &req, httplib::Response &res, DocumentKind kind) const {
    Device *device = FindDevice(req, res);
    if (device == nullptr) return;
    const std::string type = req.get_header_value("Content-Type");
    if (type.compare(0, 16, "application/json") != 0) {
      SendError(res, 415, "not-json", "the body must be JSON (Content-Type: application/json)");
      return;
    }
    std::variant<hub::Document, RequestError> read = ReadDocument(kind, req.body, text_);
    if (const auto *error = std::get_if<RequestError>(&read)) {
      SendError(res, error->status, error->code, error->message);
      return;
    }
    hub::Document &document = std::get<hub::Document>(read);
    if (!TakeKey(req, res, document)) return;
    DocumentRecord existing;
    switch (device->Admit(document, &existing)) {
      case Device::Admitted::Conflict:
        SendError(res, 409, "key-reused", "the key " + document.key + " belongs to another request");
        return;
      case Device::Admitted::StoreFailed:
        SendError(res, 503, "record-failed",
                  "the hub cannot record the document, so nothing was sent: " + store_.LastError());
        return;
      case Device::Admitted::Existing: {
        res.set_header("Idempotent-Replayed", "true");
        std::optional<DocumentRecord> record = existing.state == DocState::InProgress
                                                   ? device->WaitSettled(document.key, options_.answerWait)
                                                   : std::optional<DocumentRecord>(existing);
        Answer(res, record);
        return;
      }
      case Device::Admitted::Queued:
        Answer(res, device->WaitSettled(document.key, options_.answerWait));
        return;
    }
  }

  // GET and PUT of a settings group: in the device's queue like a document, but not recorded
  // and without a key (writing the same values again changes nothing).
  void Settings(const httplib::Request &req, httplib::Response &res, bool write) const {
    Device *device = FindDevice(req, res);
    if (device == nullptr) return;
    const std::optional<SettingsGroup> group = SettingsGroupByName(req.matches[2].str());
    if (!group) {
      SendError(res, 404, "unknown-group",
                "no settings group \"" + std::string(req.matches[2]).substr(0, 40) +
                    "\" (header, tax-rates, tcpip, gprs, clock, operators, code-table)");
      return;
    }
    if (!write && !SettingsReadable(*group)) {
      res.set_header("Allow", "PUT");
      SendError(
          res, 405, "write-only",
          "the device gives its " + std::string(SettingsGroupName(*group)) + " to nobody: they can only be written");
      return;
    }
    std::optional<SettingsWrite> asked;
    if (write) {
      const std::string type = req.get_header_value("Content-Type");
      if (type.compare(0, 16, "application/json") != 0) {
        SendError(res, 415, "not-json", "the body must be JSON (Content-Type: application/json)");
        return;
      }
      const std::time_t now = std::time(nullptr);
      std::tm local{};
      localtime_r(&now, &local);
      std::variant<SettingsWrite, RequestError> read = ReadSettingsBody(*group, req.body, text_, local);
      if (const auto *error = std::get_if<RequestError>(&read)) {
        SendError(res, error->status, error->code, error->message);
        return;
      }
      asked = std::move(std::get<SettingsWrite>(read));
    }
    SettingsAnswer answer;
    const Device::Ran ran = device->RunOnLine(
        [&](const Device::LineCall &call) {
          answer = asked ? WriteSettingsGroup(*asked, call, text_) : ReadSettingsGroup(*group, call, text_);
        },
        options_.answerWait);
    if (ran == Device::Ran::NotStarted) {
      SendError(
          res, 503, "device-busy",
          "the device did not come free in time (documents ahead, or an outcome being settled); nothing was sent");
      return;
    }
    SendJson(res, answer.status, answer.body);
  }

  // The header and the member may both carry the key, but not two different ones.
  static bool TakeKey(const httplib::Request &req, httplib::Response &res, hub::Document &document) {
    const std::string header = req.get_header_value("Idempotency-Key");
    if (!header.empty() && !document.key.empty() && header != document.key) {
      SendError(res, 400, "key-mismatch", "the Idempotency-Key header and the key member differ");
      return false;
    }
    if (document.key.empty()) document.key = header;
    if (document.key.empty()) {
      SendError(res, 400, "key-missing", "a document needs an idempotency key (Idempotency-Key header or key member)");
      return false;
    }
    if (!KeyIsSound(document.key)) {
      SendError(res, 400, "bad-key", "a key is 1 to 200 characters of printable ASCII");
      return false;
    }
    return true;
  }

  static void Answer(httplib::Response &res, const std::optional<DocumentRecord> &record) {
    if (!record) {
      SendError(res, 500, "record-lost", "the document's record cannot be read");
      return;
    }
    SendJson(res, StatusForState(record->state), DocumentJson(*record));
  }

  void Register(httplib::Server &server) {
    // The handlers keep the interface alive as long as the server holds them.
    const std::shared_ptr<Api> self = shared_from_this();
    server.set_payload_max_length(kMaxRequestBytes);
    server.set_pre_routing_handler([self](const httplib::Request &req, httplib::Response &res) {
      return self->Authorised(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                        : httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
      if (!res.body.empty()) return;
      if (res.status == 413) {
        SendError(res, 413, "too-large", "the body is larger than " + std::to_string(kMaxRequestBytes) + " bytes");
      } else if (res.status == 404) {
        SendError(res, 404, "not-found", "no such resource");
      } else {
        SendError(res, res.status, "http-" + std::to_string(res.status), "the request cannot be served");
      }
    });
    server.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
      SendError(res, 500, "internal", "the hub could not answer this request");
    });
    server.Get("/devices", [self](const httplib::Request &, httplib::Response &res) {
      nlohmann::json list = nlohmann::json::array();
      for (const Device *device : self->devices_.All()) list.push_back(DeviceJson(*device, self->text_, false));
      SendJson(res, 200, {{"devices", list}});
    });
    server.Post("/devices/scan", [self](const httplib::Request &, httplib::Response &res) {
      nlohmann::json ports = nlohmann::json::array();
      const std::vector<std::string> names =
          self->options_.scanPorts ? self->options_.scanPorts() : std::vector<std::string>();
      for (const ScanResult &found : self->devices_.Scan(names)) {
        ports.push_back({{"port", found.port}, {"serial", found.serial}, {"note", found.note}});
      }
      SendJson(res, 200, {{"ports", ports}});
    });
    server.Get(R"(/devices/([^/]+))", [self](const httplib::Request &req, httplib::Response &res) {
      const Device *device = self->FindDevice(req, res);
      if (device == nullptr) return;
      SendJson(res, 200, DeviceJson(*device, self->text_, true));
    });
    server.Get(R"(/devices/([^/]+)/journal)", [self](const httplib::Request &req, httplib::Response &res) {
      const Device *device = self->FindDevice(req, res);
      if (device == nullptr) return;
      const std::optional<size_t> limit = LimitParam(req, res, 100, Device::kJournalMax);
      if (!limit) return;
      nlohmann::json calls = nlohmann::json::array();
      for (const JournalEntry &e : device->Journal(*limit)) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(e.at.time_since_epoch()).count();
        calls.push_back({{"at", IsoTime(ms)},
                         {"op", e.op},
                         {"code", e.code},
                         {"effect", EffectName(e.effect)},
                         {"status", e.status},
                         {"ms", e.took.count()}});
      }
      SendJson(res, 200, {{"serial", device->Identity().serial}, {"calls", calls}});
    });
    for (const Route &route : kDocumentRoutes) {
      const DocumentKind kind = route.kind;
      server.Post(
          std::string(R"(/devices/([^/]+)/)") + route.path,
          [self, kind](const httplib::Request &req, httplib::Response &res) { self->Document(req, res, kind); });
    }
    server.Get(R"(/devices/([^/]+)/settings/([^/]+))",
               [self](const httplib::Request &req, httplib::Response &res) { self->Settings(req, res, false); });
    server.Put(R"(/devices/([^/]+)/settings/([^/]+))",
               [self](const httplib::Request &req, httplib::Response &res) { self->Settings(req, res, true); });
    server.Get(R"(/documents/([^/]+))", [self](const httplib::Request &req, httplib::Response &res) {
      std::string error;
      const std::optional<DocumentRecord> record = self->store_.Get(req.matches[1], &error);
      if (!record && !error.empty()) {
        SendError(res, 503, "record-unreadable", "the document record cannot be read: " + error);
        return;
      }
      if (!record) {
        SendError(res, 404, "unknown-key", "no document was ever asked for under this key");
        return;
      }
      SendJson(res, 200, DocumentJson(*record));
    });
    server.Get("/documents", [self](const httplib::Request &req, httplib::Response &res) { self->Listed(req, res); });
    server.Get("/", [](const httplib::Request &, httplib::Response &res) {
      res.set_content(StatusPageHtml(), "text/html; charset=utf-8");
      res.set_header("Content-Security-Policy",
                     "default-src 'self'; script-src 'unsafe-inline'; style-src 'unsafe-inline'");
    });
  }

  void Listed(const httplib::Request &req, httplib::Response &res) const {
    const std::optional<size_t> limit = LimitParam(req, res, 50, kMaxListed);
    if (!limit) return;
    std::string error;
    const std::optional<std::vector<DocumentRecord>> recent =
        store_.Recent(req.get_param_value("device"), *limit, &error);
    if (!recent) {
      SendError(res, 503, "record-unreadable", "the document record cannot be read: " + error);
      return;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const DocumentRecord &record : *recent) list.push_back(DocumentJson(record));
    SendJson(res, 200, {{"documents", list}});
  }

 private:
  Devices &devices_;
  Store &store_;
  const DeviceText &text_;
  const ApiOptions options_;
};

}  // namespace

int StatusForState(DocState state) {
  switch (state) {
    case DocState::Registered:
      return 200;
    case DocState::InProgress:
      return 202;
    case DocState::NotRegistered:
    case DocState::NeedsAttention:
      return 502;
  }
  return 500;
}

nlohmann::json DocumentJson(const DocumentRecord &record) {
  nlohmann::json j = {{"key", record.key},
                      {"device", record.device},
                      {"kind", record.kind},
                      {"state", StateName(record.state)},
                      {"result", record.result.is_null() ? nlohmann::json::object() : record.result},
                      {"created", IsoTime(record.createdMs)},
                      {"updated", IsoTime(record.updatedMs)}};
  if (!record.evidence.is_null() && !record.evidence.empty()) j["evidence"] = record.evidence;
  return j;
}

bool KeyIsSound(std::string_view key) {
  if (key.empty() || key.size() > kMaxKey) return false;
  for (const char c : key) {
    if (c < 0x21 || c > 0x7E) return false;
  }
  return true;
}

void RegisterApi(httplib::Server &server, Devices &devices, Store &store, const DeviceText &text,
                 const ApiOptions &options) {
  std::make_shared<Api>(devices, store, text, options)->Register(server);
}

}  // namespace hub
