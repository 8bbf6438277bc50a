#include "Calls.h"

#include <set>

#include "Builtins.h"
#include "Core.h"
#include "Invoker.h"

namespace xhost::detail {
namespace {

struct Evaluation {
  Candidate candidate;
  std::vector<int> ranks;  // one per argument given
  size_t defaults = 0;     // parameters left to their defaults
  std::vector<Value> args;
};

bool usesSetter(const Candidate& c) { return c.assign && c.member->setter; }

const PreparedCall& formOf(const Candidate& c) {
  return usesSetter(c) ? assignFormOf(*c.member) : callFormOf(*c.member);
}

Value literalValue(const Literal& literal, const XType& type) {
  switch (literal.kind) {
    case Literal::Kind::Integer:
      switch (type.kind) {
        case TypeKind::Int32:
          return Int32{static_cast<int32_t>(literal.integer)};
        case TypeKind::Int64:
          return Int64{literal.integer};
        case TypeKind::UInt64:
          return UInt64{static_cast<uint64_t>(literal.integer)};
        case TypeKind::Double:
          return static_cast<double>(literal.integer);
        default:
          return literal.integer;
      }
    case Literal::Kind::Double:
      return literal.real;
    case Literal::Kind::Boolean:
      return literal.boolean;
    case Literal::Kind::Text:
      return String::adopt(core().strings.make(literal.text, kREALTextEncodingUTF8));
    case Literal::Kind::NilValue:
    case Literal::Kind::Name:
      break;
  }
  return Nil{};
}

Value zeroValue(const XType& type) {
  switch (type.kind) {
    case TypeKind::Boolean:
      return false;
    case TypeKind::String:
      return String();
    case TypeKind::Object:
      return Nil{};
    case TypeKind::Ptr:
      return Ptr{nullptr};
    default:
      return literalValue(Literal{}, type);
  }
}

Value defaultValue(const Member& member, const Parameter& parameter, const XType& type) {
  if (!parameter.defaultValue) return zeroValue(type);
  Literal literal = *parameter.defaultValue;
  if (literal.kind == Literal::Kind::Name) {
    std::optional<Literal> found = core().classes.lookupConstant(literal.text, member.owner, parameter.type);
    if (!found) throw HostError(member.owner->name + "." + member.text + ": unknown default " + literal.text);
    literal = *found;
  }
  return literalValue(literal, type);
}

std::optional<Evaluation> evaluate(const Candidate& candidate, const std::vector<Value>& args) {
  const PreparedCall* form = nullptr;
  try {
    form = &formOf(candidate);
  } catch (const HostError&) {
    return std::nullopt;  // a member with an unknown type cannot be called
  }
  const std::vector<XType>& params = form->params;
  if (args.size() > params.size() || (candidate.assign && args.size() != params.size())) return std::nullopt;
  Evaluation evaluation{candidate, {}, 0, {}};
  for (size_t i = 0; i < args.size(); ++i) {
    std::optional<int> rank = argumentRank(args[i], params[i]);
    if (!rank) return std::nullopt;
    evaluation.ranks.push_back(*rank);
    evaluation.args.push_back(args[i]);
  }
  for (size_t i = args.size(); i < params.size(); ++i) {
    const Parameter& parameter = candidate.member->declaration.params[i];
    if (!parameter.defaultValue && !parameter.optional) return std::nullopt;
    evaluation.args.push_back(defaultValue(*candidate.member, parameter, params[i]));
    ++evaluation.defaults;
  }
  return evaluation;
}

// Better on no argument worse, and strictly better somewhere (or fewer defaults).
bool better(const Evaluation& a, const Evaluation& b) {
  bool strictly = false;
  for (size_t i = 0; i < a.ranks.size(); ++i) {
    if (a.ranks[i] > b.ranks[i]) return false;
    strictly = strictly || a.ranks[i] < b.ranks[i];
  }
  return strictly || a.defaults < b.defaults;
}

std::string argumentTypes(const std::vector<Value>& args) {
  std::string text;
  for (size_t i = 0; i < args.size(); ++i) text += (i ? ", " : "") + typeNameOf(args[i]);
  return "(" + text + ")";
}

std::string declarations(const std::vector<Candidate>& candidates) {
  std::string text;
  for (size_t i = 0; i < candidates.size(); ++i) text += (i ? "; " : "") + candidates[i].member->text;
  return text;
}

}  // namespace

ChosenCall chooseOverload(const std::vector<Candidate>& candidates, const std::vector<Value>& args,
                          const std::string& what) {
  std::vector<Evaluation> viable;
  for (const Candidate& candidate : candidates)
    if (std::optional<Evaluation> evaluation = evaluate(candidate, args)) viable.push_back(std::move(*evaluation));
  if (viable.empty())
    throw HostError(what + ": no overload accepts " + argumentTypes(args) + "; declared: " + declarations(candidates));
  for (const Evaluation& best : viable) {
    bool beatsAll = true;
    for (const Evaluation& other : viable)
      if (&other != &best && !better(best, other)) beatsAll = false;
    if (beatsAll) return {best.candidate, best.args};
  }
  std::vector<Candidate> tied;
  for (const Evaluation& e : viable) tied.push_back(e.candidate);
  throw HostError(what + ": ambiguous call with " + argumentTypes(args) + " between " + declarations(tied));
}

Value invokeChosen(const ChosenCall& chosen, REALobjectStruct* self, const std::string& what) {
  Member& member = *chosen.candidate.member;
  const PreparedCall& call = formOf(chosen.candidate);
  REALproc function = usesSetter(chosen.candidate) ? member.setter : member.function;
  if (!function) throw HostError(what + ": the record names no function");
  std::vector<Slot> words;
  if (call.instance) {
    Slot word{};
    word.pointer = self;
    words.push_back(word);
  }
  if (call.paramWord) {
    Slot word{};
    word.integer = member.paramWord;
    words.push_back(word);
  }
  for (size_t i = 0; i < call.params.size(); ++i) words.push_back(argumentSlot(chosen.args[i], call.params[i]));
  Slot result{};
  CallScope scope;
  callFunction(call, function, words, result);
  Value value = resultValue(call.result, result, what);
  scope.deliver();
  return value;
}

std::vector<Candidate> methodCandidates(const ClassInfo& cls, const std::string& name, bool shared, bool assign) {
  std::vector<Candidate> found;
  std::set<std::string> seen;
  for (const ClassInfo* c = &cls; c; c = c->super) {
    for (const auto& member : shared ? c->sharedMethods : c->methods) {
      if (!sameName(member->declaration.name, name)) continue;
      bool assignable = member->setter || member->assignsDeclared();
      if (assign ? !assignable : member->assignsDeclared()) continue;
      if (seen.insert(signatureKey(member->declaration)).second) found.push_back({member.get(), assign});
    }
  }
  return found;
}

std::vector<Candidate> constructorCandidates(const ClassInfo& cls) {
  for (const ClassInfo* c = &cls; c; c = c->super) {
    std::vector<Candidate> found;
    for (const auto& member : c->methods)
      if (sameName(member->declaration.name, "Constructor")) found.push_back({member.get(), false});
    if (!found.empty()) return found;
  }
  return {};
}

CallScope::CallScope() : depth_(core().frames.size()) {
  core().frames.emplace_back();
  enterHostCall();
}

CallScope::~CallScope() {
  leaveHostCall();
  if (!open_) return;
  std::vector<CallFrame>& frames = core().frames;
  if (frames.size() <= depth_) return;
  CallFrame frame = frames.back();
  frames.resize(depth_);
  core().objects.unlock(frame.exception, "undelivered exception");
}

void CallScope::deliver() {
  std::vector<CallFrame>& frames = core().frames;
  CallFrame frame = frames.back();
  frames.resize(depth_);
  open_ = false;
  if (frame.exception) {
    std::string message;
    int64_t errorNumber = 0;
    exceptionDetails(frame.exception, &message, &errorNumber);
    throw XojoException(Object::adopt(frame.exception), message, errorNumber);
  }
  if (frame.hostFailure) std::rethrow_exception(frame.hostFailure);
}

}  // namespace xhost::detail
