#include "cli/PathPattern.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace korbu::cli {
namespace {

// The most a repeat count may be, as in clamscan's and most POSIX matchers.
constexpr unsigned kMaxRepeat = 255;
constexpr unsigned kUnbounded = ~0u;

// The parsed pattern, compiled to states afterwards: a repeat's part is emitted
// once per count.
struct Node {
  enum class Kind { Bytes, Empty, Concat, Alternation, Repeat, LineStart, LineEnd } kind = Kind::Empty;
  std::size_t set = 0;  // Bytes
  unsigned min = 0, max = 0;  // Repeat
  std::vector<std::unique_ptr<Node>> parts;
};

using NodePtr = std::unique_ptr<Node>;

NodePtr MakeNode(Node::Kind kind) {
  auto node = std::make_unique<Node>();
  node->kind = kind;
  return node;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(int c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(int c) { return c >= 'a' && c <= 'z'; }

// The POSIX classes in the C locale, which is how clamscan reads them.
bool InClass(std::string_view name, int c, bool& known) {
  known = true;
  const bool alpha = IsUpper(c) || IsLower(c);
  const bool digit = c >= '0' && c <= '9';
  const bool graph = c >= 0x21 && c <= 0x7E;
  if (name == "alpha") return alpha;
  if (name == "digit") return digit;
  if (name == "alnum") return alpha || digit;
  if (name == "upper") return IsUpper(c);
  if (name == "lower") return IsLower(c);
  if (name == "xdigit") return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  if (name == "space") return c == ' ' || (c >= '\t' && c <= '\r');
  if (name == "blank") return c == ' ' || c == '\t';
  if (name == "cntrl") return c < 0x20 || c == 0x7F;
  if (name == "graph") return graph;
  if (name == "print") return graph || c == ' ';
  if (name == "punct") return graph && !alpha && !digit;
  known = false;
  return false;
}

}  // namespace

// Recursive descent over the pattern, then Thompson's construction.
class PatternCompiler {
 public:
  PatternCompiler(std::string_view text, bool ignoreCase) : text_(text), ignoreCase_(ignoreCase) {}

  Expected<PathPattern> Compile() {
    NodePtr root = Alternation(false);
    if (!error_.empty()) return Failure(error_);
    if (pos_ < text_.size()) return Failure("unmatched )");  // the only way a top-level parse stops early
    Emit(*root);
    Push({PathPattern::Op::Match});
    if (!error_.empty()) return Failure(error_);
    return std::move(out_);
  }

 private:
  using Op = PathPattern::Op;

  bool More() const { return pos_ < text_.size(); }
  char Peek() const { return text_[pos_]; }
  bool See(char c) const { return More() && Peek() == c; }
  bool Fail(std::string reason) {
    if (error_.empty()) error_ = std::move(reason);
    pos_ = text_.size();
    return false;
  }

  NodePtr Alternation(bool inGroup) {
    auto node = MakeNode(Node::Kind::Alternation);
    for (;;) {
      NodePtr branch = Branch(inGroup);
      if (!error_.empty()) return node;
      node->parts.push_back(std::move(branch));
      if (!See('|')) break;
      ++pos_;
    }
    if (node->parts.size() == 1) return std::move(node->parts.front());
    return node;
  }

  NodePtr Branch(bool inGroup) {
    auto node = MakeNode(Node::Kind::Concat);
    while (More() && !See('|') && !(inGroup && See(')'))) {
      if (!inGroup && See(')')) {
        Fail("unmatched )");
        return node;
      }
      NodePtr piece = Piece();
      if (!error_.empty()) return node;
      node->parts.push_back(std::move(piece));
    }
    if (node->parts.empty()) Fail(inGroup && !More() ? "unmatched (" : "empty alternative");
    return node;
  }

  bool RepeatFollows() const {
    if (!More()) return false;
    const char c = Peek();
    return c == '*' || c == '+' || c == '?' || (c == '{' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]));
  }

  NodePtr Piece() {
    const bool caret = See('^');
    NodePtr atom = Atom();
    if (!error_.empty()) return atom;
    while (RepeatFollows()) {
      if (caret) {
        Fail("repeat after ^");
        return atom;
      }
      unsigned min = 0, max = kUnbounded;
      const char c = text_[pos_++];
      if (c == '+') {
        min = 1;
      } else if (c == '?') {
        max = 1;
      } else if (c == '{' && !Bound(min, max)) {
        return atom;
      }
      auto repeat = MakeNode(Node::Kind::Repeat);
      repeat->min = min;
      repeat->max = max;
      repeat->parts.push_back(std::move(atom));
      atom = std::move(repeat);
    }
    return atom;
  }

  bool Number(unsigned& value) {
    if (!More() || !IsDigit(Peek())) return Fail("bad repeat count");
    value = 0;
    while (More() && IsDigit(Peek())) {
      value = value * 10 + static_cast<unsigned>(Peek() - '0');
      if (value > kMaxRepeat) return Fail("repeat count over " + std::to_string(kMaxRepeat));
      ++pos_;
    }
    return true;
  }

  // After "{": n}, n,} or n,m}.
  bool Bound(unsigned& min, unsigned& max) {
    if (!Number(min)) return false;
    max = min;
    if (See(',')) {
      ++pos_;
      max = kUnbounded;
      if (More() && IsDigit(Peek()) && !Number(max)) return false;
    }
    if (!See('}')) return Fail(More() ? "bad repeat count" : "unmatched {");
    ++pos_;
    if (max < min) return Fail("repeat range out of order");
    return true;
  }

  NodePtr Atom() {
    const char c = text_[pos_++];
    switch (c) {
      case '(': {
        if (See(')')) {
          ++pos_;
          return MakeNode(Node::Kind::Empty);
        }
        NodePtr inner = Alternation(true);
        if (!error_.empty()) return inner;
        if (!See(')')) {
          Fail("unmatched (");
          return inner;
        }
        ++pos_;
        return inner;
      }
      case '^': return MakeNode(Node::Kind::LineStart);
      case '$': return MakeNode(Node::Kind::LineEnd);
      case '.': {
        PathPattern::ByteSet all;
        for (int b = 0; b < 256; ++b) all.Add(static_cast<unsigned char>(b));
        return SetNode(all);
      }
      case '[': return Bracket();
      case '*':
      case '+':
      case '?':
        Fail("repeat with nothing before it");
        return MakeNode(Node::Kind::Empty);
      case '{':
        if (More() && IsDigit(Peek())) {
          Fail("repeat with nothing before it");
          return MakeNode(Node::Kind::Empty);
        }
        return Literal(c);
      case '\\':
        if (!More()) {
          Fail("trailing backslash");
          return MakeNode(Node::Kind::Empty);
        }
        return Literal(text_[pos_++]);
      default: return Literal(c);
    }
  }

  void AddFolded(PathPattern::ByteSet& set, unsigned char c) const {
    set.Add(c);
    if (!ignoreCase_) return;
    if (IsUpper(c)) set.Add(static_cast<unsigned char>(c - 'A' + 'a'));
    if (IsLower(c)) set.Add(static_cast<unsigned char>(c - 'a' + 'A'));
  }

  NodePtr Literal(char c) {
    PathPattern::ByteSet set;
    AddFolded(set, static_cast<unsigned char>(c));
    return SetNode(set);
  }

  NodePtr SetNode(const PathPattern::ByteSet& set) {
    auto node = MakeNode(Node::Kind::Bytes);
    node->set = out_.sets_.size();
    out_.sets_.push_back(set);
    return node;
  }

  // The text between an opening "[x" and the closing "x]", x being '.', '=' or ':'.
  bool Delimited(char x, std::string_view& inside) {
    const std::size_t end = text_.find(std::string{x, ']'}, pos_);
    if (end == std::string_view::npos) return Fail("unmatched [");
    inside = text_.substr(pos_, end - pos_);
    pos_ = end + 2;
    return true;
  }

  // One character of a bracket expression, or a collating element [.c.].
  bool Symbol(unsigned char& c) {
    if (!More()) return Fail("unmatched [");
    if (Peek() == '[' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '.') {
      pos_ += 2;
      std::string_view name;
      if (!Delimited('.', name)) return false;
      if (name.size() != 1) return Fail("unknown collating element");
      c = static_cast<unsigned char>(name[0]);
      return true;
    }
    c = static_cast<unsigned char>(text_[pos_++]);
    return true;
  }

  NodePtr Bracket() {
    PathPattern::ByteSet set;
    const bool negate = See('^');
    if (negate) ++pos_;
    bool first = true;
    while (More() && (first || Peek() != ']')) {
      first = false;
      if (Peek() == '[' && pos_ + 1 < text_.size() && (text_[pos_ + 1] == ':' || text_[pos_ + 1] == '=')) {
        const char kind = text_[pos_ + 1];
        pos_ += 2;
        std::string_view name;
        if (!Delimited(kind, name)) return MakeNode(Node::Kind::Empty);
        if (kind == '=') {
          if (name.size() != 1) {
            Fail("unknown equivalence class");
            return MakeNode(Node::Kind::Empty);
          }
          AddFolded(set, static_cast<unsigned char>(name[0]));
          continue;
        }
        for (int b = 0; b < 256; ++b) {
          bool known = false;
          if (InClass(name, b, known)) AddFolded(set, static_cast<unsigned char>(b));
          if (!known) {
            Fail("unknown character class");
            return MakeNode(Node::Kind::Empty);
          }
        }
        continue;
      }
      unsigned char low = 0;
      if (!Symbol(low)) return MakeNode(Node::Kind::Empty);
      unsigned char high = low;
      if (See('-') && pos_ + 1 < text_.size() && text_[pos_ + 1] != ']') {
        ++pos_;
        if (!Symbol(high)) return MakeNode(Node::Kind::Empty);
        if (high < low) {
          Fail("range out of order");
          return MakeNode(Node::Kind::Empty);
        }
      }
      for (unsigned b = low; b <= high; ++b) AddFolded(set, static_cast<unsigned char>(b));
    }
    if (!See(']')) {
      Fail("unmatched [");
      return MakeNode(Node::Kind::Empty);
    }
    ++pos_;
    if (negate) {
      for (auto& word : set.bits) word = ~word;
    }
    return SetNode(set);
  }

  // Emission: states are appended; a refused size stops every further push.
  std::uint32_t Here() const { return static_cast<std::uint32_t>(out_.program_.size()); }
  void Push(PathPattern::Instruction instruction) {
    if (!error_.empty()) return;
    if (out_.program_.size() >= PathPattern::kMaxStates) {
      error_ = "too complex: more than " + std::to_string(PathPattern::kMaxStates) + " states";
      return;
    }
    out_.program_.push_back(instruction);
  }
  void Patch(std::uint32_t at, std::uint32_t PathPattern::Instruction::*field, std::uint32_t target) {
    if (at < out_.program_.size()) out_.program_[at].*field = target;
  }

  void Emit(const Node& node) {
    if (!error_.empty()) return;
    switch (node.kind) {
      case Node::Kind::Empty: return;
      case Node::Kind::Bytes: Push({Op::Bytes, static_cast<std::uint32_t>(node.set)}); return;
      case Node::Kind::LineStart: Push({Op::LineStart}); return;
      case Node::Kind::LineEnd: Push({Op::LineEnd}); return;
      case Node::Kind::Concat:
        for (const auto& part : node.parts) Emit(*part);
        return;
      case Node::Kind::Alternation: {
        std::vector<std::uint32_t> jumps;
        for (std::size_t i = 0; i < node.parts.size(); ++i) {
          const bool last = i + 1 == node.parts.size();
          const std::uint32_t split = Here();
          if (!last) Push({Op::Split, split + 1});
          Emit(*node.parts[i]);
          if (!last) {
            jumps.push_back(Here());
            Push({Op::Jump});
            Patch(split, &PathPattern::Instruction::y, Here());
          }
        }
        for (std::uint32_t jump : jumps) Patch(jump, &PathPattern::Instruction::x, Here());
        return;
      }
      case Node::Kind::Repeat: {
        const Node& part = *node.parts.front();
        for (unsigned i = 0; i < node.min && error_.empty(); ++i) Emit(part);
        if (node.max == kUnbounded) {
          const std::uint32_t loop = Here();
          Push({Op::Split, loop + 1});
          Emit(part);
          Push({Op::Jump, loop});
          Patch(loop, &PathPattern::Instruction::y, Here());
          return;
        }
        // Each optional copy may be skipped to the end of them all.
        std::vector<std::uint32_t> skips;
        for (unsigned i = node.min; i < node.max && error_.empty(); ++i) {
          skips.push_back(Here());
          Push({Op::Split, Here() + 1});
          Emit(part);
        }
        for (std::uint32_t skip : skips) Patch(skip, &PathPattern::Instruction::y, Here());
        return;
      }
    }
  }

  std::string_view text_;
  bool ignoreCase_;
  std::size_t pos_ = 0;
  std::string error_;
  PathPattern out_;
};

Expected<PathPattern> PathPattern::Compile(std::string_view pattern, bool ignoreCase) {
  if (pattern.empty()) return Failure("empty expression");
  return PatternCompiler(pattern, ignoreCase).Compile();
}

// The sets of states met so far, each with its move on every byte once taken.
struct PathPattern::Dfa {
  std::mutex lock;
  std::map<StateSet, std::int32_t> ids;
  std::vector<StateSet> sets;
  std::vector<std::array<std::int32_t, 256>> moves;  // -1 until taken
  std::vector<bool> matches;
  std::int32_t start = -1;  // the set at the text's first position
  std::vector<std::size_t> mark;  // scratch of Closure
  std::size_t generation = 0;

  // Kept small: a pattern whose sets keep growing starts afresh, so memory stays
  // bounded and each byte still costs at most one closure.
  static constexpr std::size_t kMaxSets = 2000;

  std::int32_t Intern(StateSet set, bool match) {
    if (const auto found = ids.find(set); found != ids.end()) return found->second;
    if (sets.size() >= kMaxSets) {
      ids.clear();
      sets.clear();
      moves.clear();
      matches.clear();
      start = -1;
    }
    const auto id = static_cast<std::int32_t>(sets.size());
    ids.emplace(set, id);
    sets.push_back(std::move(set));
    moves.emplace_back();
    moves.back().fill(-1);
    matches.push_back(match);
    return id;
  }
};

PathPattern::PathPattern() : dfa_(std::make_unique<Dfa>()) {}
PathPattern::PathPattern(PathPattern&&) noexcept = default;
PathPattern& PathPattern::operator=(PathPattern&&) noexcept = default;
PathPattern::~PathPattern() = default;

PathPattern::StateSet PathPattern::Closure(const StateSet& seeds, bool atStart, bool atEnd, bool& match) const {
  Dfa& dfa = *dfa_;
  if (dfa.mark.size() != program_.size()) dfa.mark.assign(program_.size(), 0);
  const std::size_t generation = ++dfa.generation;
  StateSet out;
  StateSet stack(seeds.rbegin(), seeds.rend());
  match = false;
  while (!stack.empty()) {
    const std::uint32_t s = stack.back();
    stack.pop_back();
    if (s >= program_.size() || dfa.mark[s] == generation) continue;
    dfa.mark[s] = generation;
    const Instruction& in = program_[s];
    switch (in.op) {
      case Op::Bytes: out.push_back(s); break;
      case Op::Split:
        stack.push_back(in.y);
        stack.push_back(in.x);
        break;
      case Op::Jump: stack.push_back(in.x); break;
      case Op::LineStart:
        if (atStart) stack.push_back(s + 1);
        break;
      case Op::LineEnd:
        if (atEnd) stack.push_back(s + 1);
        else out.push_back(s);  // waits: the text may end here
        break;
      case Op::Match:
        match = true;
        out.push_back(s);  // part of the set's identity
        break;
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool PathPattern::Found(std::string_view text) const {
  Dfa& dfa = *dfa_;
  std::lock_guard<std::mutex> hold(dfa.lock);
  bool match = false;
  if (dfa.start < 0) {
    StateSet first = Closure({0}, true, false, match);
    dfa.start = dfa.Intern(std::move(first), match);
  }
  std::int32_t current = dfa.start;
  for (const char c : text) {
    if (dfa.matches[static_cast<std::size_t>(current)]) return true;
    const auto byte = static_cast<unsigned char>(c);
    std::int32_t next = dfa.moves[static_cast<std::size_t>(current)][byte];
    if (next < 0) {
      // The states that read this byte move on; a match may also begin here.
      StateSet seeds{0};
      for (std::uint32_t s : dfa.sets[static_cast<std::size_t>(current)]) {
        if (program_[s].op == Op::Bytes && sets_[program_[s].x].Has(byte)) seeds.push_back(s + 1);
      }
      StateSet reached = Closure(seeds, false, false, match);
      const std::size_t before = dfa.sets.size();
      next = dfa.Intern(std::move(reached), match);
      // Unless the cache started afresh, the move is kept.
      if (dfa.sets.size() >= before) dfa.moves[static_cast<std::size_t>(current)][byte] = next;
    }
    current = next;
  }
  if (dfa.matches[static_cast<std::size_t>(current)]) return true;
  // At the end, the states that wait for it go on.
  StateSet waiting;
  for (std::uint32_t s : dfa.sets[static_cast<std::size_t>(current)]) {
    if (program_[s].op == Op::LineEnd) waiting.push_back(s);
  }
  if (waiting.empty()) return false;
  Closure(waiting, text.empty(), true, match);
  return match;
}

}  // namespace korbu::cli
