#include "platform/wine/RegProtocol.h"

#include "platform/HexText.h"

namespace korbu::winereg {
namespace {

using platform::AppendHexByte;
using platform::HexDigitValue;
using platform::IsHexDigit;

void AppendField(std::string& out, std::string_view bytes) {
  out += ' ';
  if (bytes.empty()) {
    out += '-';
    return;
  }
  for (char c : bytes) AppendHexByte(out, static_cast<unsigned char>(c));
}

void AppendUnits(std::string& out, std::u16string_view units) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  AppendField(out, bytes);
}

void AppendNumber(std::string& out, std::uint32_t number) { out += ' ' + platform::HexNumber(number); }

// The lines of a text, without their line ends ("\n" or "\r\n").
class Lines {
 public:
  explicit Lines(std::string_view text) : rest_(text) {}
  bool Next(std::string_view& line) {
    if (rest_.empty()) return false;
    const std::size_t end = rest_.find('\n');
    line = rest_.substr(0, end);
    rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
  }

 private:
  std::string_view rest_;
};

// The blank-separated fields of a line.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  while (!line.empty()) {
    const std::size_t end = line.find(' ');
    fields.push_back(line.substr(0, end));
    if (end == std::string_view::npos) break;
    line.remove_prefix(end + 1);
  }
  return fields;
}

bool ReadBytes(std::string_view field, std::string& out) {
  out.clear();
  if (field == "-") return true;
  if (field.empty() || field.size() % 2 != 0) return false;
  out.reserve(field.size() / 2);
  for (std::size_t i = 0; i < field.size(); i += 2) {
    if (!IsHexDigit(field[i]) || !IsHexDigit(field[i + 1])) return false;
    out += static_cast<char>(HexDigitValue(field[i]) * 16 + HexDigitValue(field[i + 1]));
  }
  return true;
}

bool ReadUnits(std::string_view field, std::u16string& out) {
  std::string bytes;
  if (!ReadBytes(field, bytes) || bytes.size() % 2 != 0) return false;
  out.clear();
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return true;
}

bool ReadNumber(std::string_view field, std::uint32_t& out) {
  if (field.empty() || field.size() > 8) return false;
  out = 0;
  for (char c : field) {
    if (!IsHexDigit(c)) return false;
    out = out * 16 + HexDigitValue(c);
  }
  return true;
}

char KindLetter(Operation::Kind kind) {
  switch (kind) {
    case Operation::Kind::Read: return 'R';
    case Operation::Kind::Set: return 'S';
    case Operation::Kind::Delete: return 'D';
    case Operation::Kind::CreateKey: return 'C';
    case Operation::Kind::DeleteEmptyKey: break;
  }
  return 'X';
}

Error Malformed(std::string_view what, std::size_t line) {
  return Failure(std::string(what) + " (line " + std::to_string(line) + ")");
}

}  // namespace

std::string FormatRequest(const std::vector<Operation>& operations) {
  std::string out(kProtocolLine);
  out += '\n';
  for (const Operation& op : operations) {
    out += KindLetter(op.kind);
    AppendNumber(out, op.root);
    AppendUnits(out, op.key);
    if (op.kind == Operation::Kind::Set || op.kind == Operation::Kind::Delete) AppendUnits(out, op.name);
    if (op.kind == Operation::Kind::Set) {
      AppendNumber(out, op.type);
      AppendField(out, op.data);
    }
    out += '\n';
  }
  out += ".\n";
  return out;
}

Expected<std::vector<Operation>> ParseRequest(std::string_view request) {
  Lines lines(request);
  std::string_view line;
  if (!lines.Next(line) || line != kProtocolLine) return Failure("not a request of this program");
  std::vector<Operation> operations;
  for (std::size_t number = 2; lines.Next(line); ++number) {
    if (line == ".") return operations;
    const auto fields = Fields(line);
    if (fields.size() < 3 || fields[0].size() != 1) return Malformed("malformed operation", number);
    Operation op;
    std::size_t expected = 3;
    switch (fields[0][0]) {
      case 'R': op.kind = Operation::Kind::Read; break;
      case 'S': op.kind = Operation::Kind::Set; expected = 6; break;
      case 'D': op.kind = Operation::Kind::Delete; expected = 4; break;
      case 'C': op.kind = Operation::Kind::CreateKey; break;
      case 'X': op.kind = Operation::Kind::DeleteEmptyKey; break;
      default: return Malformed("unknown operation", number);
    }
    if (fields.size() != expected || !ReadNumber(fields[1], op.root) || !ReadUnits(fields[2], op.key))
      return Malformed("malformed operation", number);
    if (expected >= 4 && !ReadUnits(fields[3], op.name)) return Malformed("malformed name", number);
    if (expected == 6 && (!ReadNumber(fields[4], op.type) || !ReadBytes(fields[5], op.data)))
      return Malformed("malformed data", number);
    operations.push_back(std::move(op));
  }
  return Failure("the request is cut short");
}

std::string FormatReply(const std::vector<Result>& results) {
  std::string out(kProtocolLine);
  out += '\n';
  for (const Result& result : results) {
    switch (result.outcome) {
      case Result::Outcome::Done:
        out += "OK\n";
        break;
      case Result::Outcome::NotFound:
        out += "NF\n";
        continue;
      case Result::Outcome::NotEmpty:
        out += "NE\n";
        continue;
      case Result::Outcome::Failed:
        out += "ER";
        AppendNumber(out, result.code);
        out += '\n';
        continue;
    }
    if (result.values.empty()) continue;
    out += "K";
    AppendNumber(out, static_cast<std::uint32_t>(result.values.size()));
    out += '\n';
    for (const WineValue& value : result.values) {
      out += 'V';
      AppendUnits(out, value.name);
      AppendNumber(out, value.type);
      AppendField(out, value.data);
      out += '\n';
    }
  }
  out += ".\n";
  return out;
}

Expected<std::vector<Result>> ParseReply(std::string_view reply, const std::vector<Operation>& operations) {
  Lines lines(reply);
  std::string_view line;
  std::size_t number = 1;
  do {
    if (!lines.Next(line)) return Failure("the helper gave no answer");
    ++number;
  } while (line != kProtocolLine);

  std::vector<Result> results;
  results.reserve(operations.size());
  // Read ahead: a result line, then for a read that succeeded its values.
  bool haveLine = lines.Next(line);
  for (const Operation& op : operations) {
    if (!haveLine) return Failure("the helper's answer is cut short");
    const auto fields = Fields(line);
    Result result;
    if (line == "OK") {
      result.outcome = Result::Outcome::Done;
    } else if (line == "NF") {
      result.outcome = Result::Outcome::NotFound;
    } else if (line == "NE") {
      result.outcome = Result::Outcome::NotEmpty;
    } else if (fields.size() == 2 && fields[0] == "ER" && ReadNumber(fields[1], result.code)) {
      result.outcome = Result::Outcome::Failed;
    } else {
      return Malformed("the helper's answer is malformed", number);
    }
    haveLine = lines.Next(line);
    ++number;
    if (op.kind == Operation::Kind::Read && result.outcome == Result::Outcome::Done && haveLine &&
        line.starts_with("K ")) {
      std::uint32_t count = 0;
      const auto header = Fields(line);
      if (header.size() != 2 || !ReadNumber(header[1], count)) return Malformed("malformed value count", number);
      for (std::uint32_t i = 0; i < count; ++i) {
        if (!lines.Next(line)) return Failure("the helper's answer is cut short");
        ++number;
        const auto value = Fields(line);
        WineValue read;
        if (value.size() != 4 || value[0] != "V" || !ReadUnits(value[1], read.name) ||
            !ReadNumber(value[2], read.type) || !ReadBytes(value[3], read.data))
          return Malformed("malformed value", number);
        result.values.push_back(std::move(read));
      }
      haveLine = lines.Next(line);
      ++number;
    }
    results.push_back(std::move(result));
  }
  if (!haveLine || line != ".") return Failure("the helper's answer does not end where it should");
  return results;
}

}  // namespace korbu::winereg
