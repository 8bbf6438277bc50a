#include "Declaration.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace xhost::detail {
namespace {

struct Token {
  enum class Kind { Identifier, Number, Text, Symbol, End };
  Kind kind = Kind::End;
  std::string text;
};

class Lexer {
 public:
  explicit Lexer(std::string_view source) : source_(source) { advance(); }

  const Token& peek() const { return current_; }
  Token take() {
    Token token = current_;
    advance();
    return token;
  }
  bool takeSymbol(char symbol) {
    if (current_.kind != Token::Kind::Symbol || current_.text[0] != symbol) return false;
    advance();
    return true;
  }
  bool takeKeyword(std::string_view keyword) {
    if (current_.kind != Token::Kind::Identifier || !sameName(current_.text, keyword)) return false;
    advance();
    return true;
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw DeclarationError(what + " in \"" + std::string(source_) + "\"");
  }
  void expectSymbol(char symbol) {
    if (!takeSymbol(symbol)) fail(std::string("expected '") + symbol + "'");
  }
  std::string expectIdentifier(const char* what) {
    if (current_.kind != Token::Kind::Identifier) fail(std::string("expected ") + what);
    return take().text;
  }
  void expectEnd() {
    if (current_.kind != Token::Kind::End) fail("unexpected \"" + current_.text + "\"");
  }

 private:
  void advance() {
    while (position_ < source_.size() && std::isspace(static_cast<unsigned char>(source_[position_]))) ++position_;
    current_ = Token{};
    if (position_ >= source_.size()) return;
    char c = source_[position_];
    size_t start = position_;
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      while (position_ < source_.size() &&
             (std::isalnum(static_cast<unsigned char>(source_[position_])) || source_[position_] == '_'))
        ++position_;
      current_ = {Token::Kind::Identifier, std::string(source_.substr(start, position_ - start))};
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '&') {
      ++position_;
      while (position_ < source_.size() &&
             (std::isalnum(static_cast<unsigned char>(source_[position_])) || source_[position_] == '.' ||
              ((source_[position_] == '-' || source_[position_] == '+') &&
               (source_[position_ - 1] == 'e' || source_[position_ - 1] == 'E') && c != '&')))
        ++position_;
      current_ = {Token::Kind::Number, std::string(source_.substr(start, position_ - start))};
    } else if (c == '"') {
      std::string text;
      ++position_;
      for (;;) {
        if (position_ >= source_.size()) fail("unterminated string");
        if (source_[position_] == '"') {
          if (position_ + 1 < source_.size() && source_[position_ + 1] == '"') {
            text += '"';
            position_ += 2;
            continue;
          }
          ++position_;
          break;
        }
        text += source_[position_++];
      }
      current_ = {Token::Kind::Text, text};
    } else if (std::string_view("(),=.-+").find(c) != std::string_view::npos) {
      ++position_;
      current_ = {Token::Kind::Symbol, std::string(1, c)};
    } else {
      fail(std::string("unexpected character '") + c + "'");
    }
  }

  std::string_view source_;
  size_t position_ = 0;
  Token current_;
};

int64_t parseIntegerText(const std::string& text, bool negative, const Lexer& lexer) {
  int base = 10;
  std::string digits = text;
  if (text.size() > 2 && text[0] == '&') {
    char radix = static_cast<char>(std::tolower(static_cast<unsigned char>(text[1])));
    base = radix == 'h' ? 16 : radix == 'o' ? 8 : radix == 'b' ? 2 : 0;
    if (base == 0) lexer.fail("bad number \"" + text + "\"");
    digits = text.substr(2);
  }
  errno = 0;
  char* end = nullptr;
  unsigned long long magnitude = std::strtoull(digits.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || digits.empty()) lexer.fail("bad number \"" + text + "\"");
  // Hexadecimal literals spell bit patterns; decimal ones must fit.
  if (base == 10 && magnitude > (negative ? 9223372036854775808ull : 9223372036854775807ull))
    lexer.fail("number out of range \"" + text + "\"");
  uint64_t bits = negative ? 0 - static_cast<uint64_t>(magnitude) : static_cast<uint64_t>(magnitude);
  return static_cast<int64_t>(bits);
}

std::string parseType(Lexer& lexer) {
  std::string type = lexer.expectIdentifier("a type");
  while (lexer.takeSymbol('.')) type += "." + lexer.expectIdentifier("a type name after '.'");
  if (lexer.takeSymbol('(')) lexer.fail("array types are not supported");
  return type;
}

Literal parseLiteral(Lexer& lexer) {
  Literal literal;
  bool negative = lexer.takeSymbol('-');
  if (!negative) lexer.takeSymbol('+');
  const Token& token = lexer.peek();
  if (token.kind == Token::Kind::Number) {
    std::string text = lexer.take().text;
    bool isReal = text[0] != '&' && text.find_first_of(".eE") != std::string::npos;
    if (isReal) {
      char* end = nullptr;
      literal.kind = Literal::Kind::Double;
      literal.real = std::strtod(text.c_str(), &end);
      if (*end != '\0') lexer.fail("bad number \"" + text + "\"");
      if (negative) literal.real = -literal.real;
    } else {
      literal.kind = Literal::Kind::Integer;
      literal.integer = parseIntegerText(text, negative, lexer);
    }
    return literal;
  }
  if (negative) lexer.fail("expected a number after '-'");
  if (token.kind == Token::Kind::Text) {
    literal.kind = Literal::Kind::Text;
    literal.text = lexer.take().text;
    return literal;
  }
  if (token.kind == Token::Kind::Identifier && (sameName(token.text, "True") || sameName(token.text, "False"))) {
    literal.kind = Literal::Kind::Boolean;
    literal.boolean = sameName(lexer.take().text, "True");
    return literal;
  }
  if (lexer.takeKeyword("Nil")) {
    literal.kind = Literal::Kind::NilValue;
    return literal;
  }
  literal.kind = Literal::Kind::Name;
  literal.text = parseType(lexer);
  return literal;
}

Parameter parseParameter(Lexer& lexer) {
  Parameter parameter;
  for (;;) {
    if (lexer.takeKeyword("ByVal")) continue;
    if (lexer.takeKeyword("Assigns")) {
      parameter.assigns = true;
      continue;
    }
    if (lexer.takeKeyword("Optional")) {
      parameter.optional = true;
      continue;
    }
    for (const char* unsupported : {"ByRef", "ParamArray", "Extends"})
      if (lexer.takeKeyword(unsupported)) lexer.fail(std::string(unsupported) + " parameters are not supported");
    break;
  }
  parameter.name = lexer.expectIdentifier("a parameter name");
  if (lexer.takeSymbol('(')) lexer.fail("array parameters are not supported");
  if (!lexer.takeKeyword("As")) lexer.fail("expected \"as\" after parameter " + parameter.name);
  parameter.type = parseType(lexer);
  if (lexer.takeSymbol('=')) parameter.defaultValue = parseLiteral(lexer);
  return parameter;
}

}  // namespace

Declaration parseDeclaration(std::string_view text) {
  Lexer lexer(text);
  Declaration declaration;
  declaration.name = lexer.expectIdentifier("a member name");
  if (lexer.takeSymbol('(')) {
    if (!lexer.takeSymbol(')')) {
      do declaration.params.push_back(parseParameter(lexer));
      while (lexer.takeSymbol(','));
      lexer.expectSymbol(')');
    }
  }
  if (lexer.takeKeyword("As")) declaration.resultType = parseType(lexer);
  lexer.expectEnd();
  for (size_t i = 0; i < declaration.params.size(); ++i) {
    const Parameter& p = declaration.params[i];
    if (p.assigns && i + 1 != declaration.params.size()) lexer.fail("only the last parameter may be Assigns");
    if (p.assigns && (p.defaultValue || p.optional)) lexer.fail("an Assigns parameter takes no default");
  }
  bool assigns = !declaration.params.empty() && declaration.params.back().assigns;
  if (assigns && !declaration.resultType.empty()) lexer.fail("an Assigns method has no result");
  return declaration;
}

std::pair<std::string, Literal> parseConstant(std::string_view text) {
  Lexer lexer(text);
  std::string name = lexer.expectIdentifier("a constant name");
  lexer.expectSymbol('=');
  Literal value = parseLiteral(lexer);
  lexer.expectEnd();
  if (value.kind == Literal::Kind::Name || value.kind == Literal::Kind::NilValue)
    lexer.fail("a constant needs a literal value");
  return {name, value};
}

std::pair<std::string, std::optional<int64_t>> parseEnumMember(std::string_view text) {
  Lexer lexer(text);
  std::string name = lexer.expectIdentifier("a member name");
  std::optional<int64_t> value;
  if (lexer.takeSymbol('=')) {
    Literal literal = parseLiteral(lexer);
    if (literal.kind != Literal::Kind::Integer) lexer.fail("an enumeration member needs an integer value");
    value = literal.integer;
  }
  lexer.expectEnd();
  return {name, value};
}

std::string parseTypeName(std::string_view text) {
  Lexer lexer(text);
  std::string type = parseType(lexer);
  lexer.expectEnd();
  return type;
}

bool isIdentifier(std::string_view text) {
  if (text.empty() || !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) return false;
  for (char c : text)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

std::string lowercase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string canonicalTypeName(std::string_view type) {
  std::string name = lowercase(type);
  return name == "int64" ? "integer" : name;
}

std::string signatureKey(const Declaration& declaration) {
  std::string key = lowercase(declaration.name) + "(";
  for (size_t i = 0; i < declaration.params.size(); ++i)
    key += (i ? "," : "") + std::string(declaration.params[i].assigns ? "assigns " : "") +
           canonicalTypeName(declaration.params[i].type);
  return key + ")";
}

}  // namespace xhost::detail
