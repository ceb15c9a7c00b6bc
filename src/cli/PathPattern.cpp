#include "cli/PathPattern.h"

#include <memory>
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

bool PathPattern::Found(std::string_view text) const {
  const std::size_t states = program_.size();
  // mark[s] is 1 + the text position whose set already holds state s.
  std::vector<std::size_t> mark(states, 0);
  std::vector<std::uint32_t> current, next, stack;
  current.reserve(states);
  next.reserve(states);
  stack.reserve(states);

  // Follows the moves that read nothing from state `from` at position pos; the
  // states that read a byte join `into`. True when the match state is reached.
  const auto add = [&](std::uint32_t from, std::size_t pos, std::vector<std::uint32_t>& into) {
    stack.clear();
    stack.push_back(from);
    while (!stack.empty()) {
      const std::uint32_t s = stack.back();
      stack.pop_back();
      if (s >= states || mark[s] == pos + 1) continue;
      mark[s] = pos + 1;
      const Instruction& in = program_[s];
      switch (in.op) {
        case Op::Bytes: into.push_back(s); break;
        case Op::Split:
          stack.push_back(in.y);
          stack.push_back(in.x);
          break;
        case Op::Jump: stack.push_back(in.x); break;
        case Op::LineStart:
          if (pos == 0) stack.push_back(s + 1);
          break;
        case Op::LineEnd:
          if (pos == text.size()) stack.push_back(s + 1);
          break;
        case Op::Match: return true;
      }
    }
    return false;
  };

  for (std::size_t pos = 0;; ++pos) {
    // A match may begin at any position.
    if (add(0, pos, current)) return true;
    if (pos == text.size()) return false;
    const auto byte = static_cast<unsigned char>(text[pos]);
    next.clear();
    for (std::uint32_t s : current) {
      if (sets_[program_[s].x].Has(byte) && add(s + 1, pos + 1, next)) return true;
    }
    current.swap(next);
  }
}

}  // namespace korbu::cli
