// Parsing of the Xojo texts that records carry: method and event declarations,
// constants "NAME = value" and enumeration members. Parsed once per member.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace xhost::detail {

struct DeclarationError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A literal as written in a constant or a default parameter value.
struct Literal {
  enum class Kind { Integer, Double, Boolean, Text, NilValue, Name };
  Kind kind = Kind::Integer;
  int64_t integer = 0;
  double real = 0;
  bool boolean = false;
  std::string text;  // Text: the string's bytes; Name: the (qualified) name
};

struct Parameter {
  std::string name;
  std::string type;  // as written, e.g. "Python3Engine.PreferredVersionValues"
  std::optional<Literal> defaultValue;
  bool optional = false;  // "Optional": the zero of its type when omitted
  bool assigns = false;   // "Assigns": the value of an assignment
};

struct Declaration {
  std::string name;
  std::vector<Parameter> params;
  std::string resultType;  // empty: no result
};

// "Name(a as T, b as U = 1) as R"; throws DeclarationError.
Declaration parseDeclaration(std::string_view text);
// "NAME = value"; throws DeclarationError.
std::pair<std::string, Literal> parseConstant(std::string_view text);
// "NAME = 3" or "NAME" (the next value); throws DeclarationError.
std::pair<std::string, std::optional<int64_t>> parseEnumMember(std::string_view text);
// A type name as a property or an enumeration uses it; throws DeclarationError.
std::string parseTypeName(std::string_view text);

bool isIdentifier(std::string_view text);
std::string lowercase(std::string_view text);
bool sameName(std::string_view a, std::string_view b);  // Xojo names ignore case

// Identity of a signature for overriding and lookup by declaration:
// name and parameter types, ignoring case and parameter names.
std::string signatureKey(const Declaration& declaration);
std::string canonicalTypeName(std::string_view type);  // Int64 is Integer on 64-bit

}  // namespace xhost::detail
