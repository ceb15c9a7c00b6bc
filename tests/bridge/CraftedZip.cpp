#include "CraftedZip.h"

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <utility>

#include "detect/Crc32.h"

namespace korbu::test {
namespace {

constexpr std::size_t kLocalHeader = 30;
constexpr std::size_t kCentralHeader = 46;

void Put16(std::string& out, std::size_t value) {
  for (int i = 0; i < 2; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
void Put32(std::string& out, std::size_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t Crc32Of(const std::string& data) {
  return Crc32Update(data.data(), static_cast<std::int64_t>(data.size()), kCrc32Start) ^ 0xFFFFFFFFu;
}

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}

}  // namespace

ZipMember Stored(std::string name, std::string data) {
  const std::uint32_t crc = Crc32Of(data);
  const std::size_t size = data.size();
  return ZipMember{std::move(name), std::move(data), size, crc, false};
}

ZipMember Deflated(std::string name, const std::string& data) {
  return ZipMember{std::move(name), RawDeflate(data), data.size(), Crc32Of(data), true};
}

std::string ZipOf(const std::vector<ZipMember>& members) {
  std::string body;
  std::string central;
  for (const ZipMember& m : members) {
    const std::size_t offset = body.size();
    auto common = [&](std::string& out) {
      Put16(out, 20);                  // version needed
      Put16(out, 0);                   // flags
      Put16(out, m.deflated ? 8 : 0);  // method
      Put32(out, 0);                   // time and date
      Put32(out, m.crc);
      Put32(out, m.stored.size());
      Put32(out, m.size);
      Put16(out, m.name.size());
      Put16(out, 0);                   // extra field
    };
    Put32(body, 0x04034b50);
    common(body);
    body += m.name + m.stored;
    Put32(central, 0x02014b50);
    Put16(central, 20);                // version made by
    common(central);
    Put16(central, 0);                 // comment
    Put16(central, 0);                 // disk
    Put16(central, 0);                 // internal attributes
    Put32(central, 0);                 // external attributes
    Put32(central, offset);
    central += m.name;
  }
  std::string zip = body + central;
  Put32(zip, 0x06054b50);
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, members.size());
  Put16(zip, members.size());
  Put32(zip, central.size());
  Put32(zip, body.size());
  Put16(zip, 0);
  return zip;
}

std::string ZipOfSize(std::vector<ZipMember> members, std::size_t size) {
  const std::string padName = "pad";
  const std::size_t without = ZipOf(members).size() + kLocalHeader + kCentralHeader + 2 * padName.size();
  if (without > size) throw std::length_error("the members alone are longer than the size asked for");
  members.push_back(Stored(padName, std::string(size - without, '\0')));
  return ZipOf(members);
}

std::vector<ZipMember> PastMaxFiles(const std::string& carried) {
  std::vector<ZipMember> members;
  for (int i = 0; i < 1001; ++i) members.push_back(Stored("m" + std::to_string(i), "x"));
  members.push_back(Stored("carried", carried));
  return members;
}

std::vector<ZipMember> PastMaxRecursion(const std::string& carried) {
  std::string inner = carried;
  for (int depth = 0; depth < 7; ++depth) inner = ZipOf({Stored("level" + std::to_string(depth), inner)});
  return {Stored("nested.zip", inner)};
}

std::vector<ZipMember> PastMaxFileSize(const std::string& carried) {
  return {Deflated("big", std::string(11u << 20, '\0') + carried)};
}

}  // namespace korbu::test
