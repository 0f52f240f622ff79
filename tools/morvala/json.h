// A small JSON value for the --json output: one object per command result,
// written on one line. Strings are held as UTF-16 so that every unit a
// member answered (NUL, lone surrogates) survives as a \uXXXX escape.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace morvala::cli {

class Json {
public:
    using Array = std::vector<Json>;
    using Object = std::vector<std::pair<std::u16string, Json>>;  // keys in insertion order

    Json() = default;  // null
    Json(bool value) : value_(value) {}
    Json(int value) : value_(static_cast<int64_t>(value)) {}
    Json(int64_t value) : value_(value) {}
    Json(uint32_t value) : value_(static_cast<int64_t>(value)) {}
    Json(std::u16string value) : value_(std::move(value)) {}
    Json(const char* value);
    Json(const std::string& value);
    Json(Array value) : value_(std::move(value)) {}
    Json(Object value) : value_(std::move(value)) {}

    // Adds a member to an object (a null value becomes an empty object first).
    Json& Set(const std::string& key, Json value);
    Json& Set(std::u16string key, Json value);

    // One line of JSON text.
    std::string Dump() const;

private:
    void DumpTo(std::string& out) const;
    std::variant<std::monostate, bool, int64_t, std::u16string, Array, Object> value_;
};

}  // namespace morvala::cli
