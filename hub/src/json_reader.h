// The strict reading that every request body of the hub goes through: one JSON object, no member
// given twice, no nesting beyond a bound, and each fault thrown as the RequestError it answers.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "documents.h"

namespace hub::reader {

// Thrown by the readers below; the caller's reader catches it and answers its error.
struct Fault {
  RequestError error;
};

[[noreturn]] void Fail(int status, const char *code, const std::string &where, const std::string &what);

// "where.name", or "name" at the top.
std::string Member(const std::string &where, std::string_view name);
std::string Index(const std::string &where, size_t i);
// A caller's name in a message: quoted, and cut short at a character boundary so that the
// message stays UTF-8.
std::string Quoted(std::string_view name);

// The body as a JSON object: at most kMaxRequestBytes, nested at most `depthMax` deep (nlohmann
// recurses with the depth, so deeper is refused before it is parsed), and no member given twice
// (nlohmann would keep the last of them silently).
nlohmann::json ParseObject(std::string_view body, int depthMax);

// Refuses any member not in `known`.
void Members(const nlohmann::json &object, const std::string &where, std::initializer_list<std::string_view> known);
const nlohmann::json *Find(const nlohmann::json &object, const char *name);
const nlohmann::json &Need(const nlohmann::json &object, const std::string &where, const char *name);
const std::string &String(const nlohmann::json &value, const std::string &where);

}  // namespace hub::reader
