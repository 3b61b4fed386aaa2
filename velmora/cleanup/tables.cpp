// The enciphered name tables: reading, the marker test and the two lookups.
#include "velmora/cleanup/tables.h"

#include <array>
#include <cmath>
#include <cstdint>

#include "platform/files.h"

namespace velmora {
namespace {

using namespace common::literals;

constexpr std::string_view kPassPhrase = "k7m2q9w3x8z1c6v4b5n0";
constexpr double kMarker = -597088775.0;
const char* const kLineEnd = "\r\n";

// The window gets a chance to handle its messages after this many rows; the pump itself
// is rate-limited, so this only saves the calls.
constexpr std::size_t kRowsPerPump = 64;

std::string Rc4(const std::string& input, std::string_view key) {
  std::array<std::uint8_t, 256> state;
  for (int i = 0; i < 256; ++i) state[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (std::size_t i = 0; i < 256; ++i) {
    j = static_cast<std::uint8_t>(j + state[i] + static_cast<std::uint8_t>(key[i % key.size()]));
    std::swap(state[i], state[j]);
  }
  std::string output(input.size(), '\0');
  const auto* in = reinterpret_cast<const std::uint8_t*>(input.data());
  auto* out = reinterpret_cast<std::uint8_t*>(output.data());
  std::uint8_t x = 0;
  std::uint8_t y = 0;
  for (std::size_t k = 0; k < input.size(); ++k) {
    x = static_cast<std::uint8_t>(x + 1);
    const std::uint8_t sx = state[x];
    y = static_cast<std::uint8_t>(y + sx);
    const std::uint8_t sy = state[y];
    state[x] = sy;
    state[y] = sx;
    out[k] = in[k] ^ state[static_cast<std::uint8_t>(sx + sy)];
  }
  return output;
}

// The entries of a table file (lines 2 to last), or nothing when its marker is refused.
std::optional<std::vector<common::Text>> AcceptedLines(const common::Text& path) {
  std::vector<common::Text> lines = ReadTableLines(path);
  if (lines.empty() || !MarkerAccepted(lines.front())) return std::nullopt;
  lines.erase(lines.begin());
  return lines;
}

void PumpEvery(std::size_t row, const NameTables::Pump& pump) {
  if (pump && row % kRowsPerPump == 0) pump();
}

}  // namespace

std::string EncipherTable(const std::string& plain) { return Rc4(plain, kPassPhrase); }

std::vector<common::Text> ReadTableLines(const common::Text& path) {
  const std::optional<std::string> bytes = platform::ReadFileBytes(path);
  if (!bytes || bytes->empty()) return {};
  return common::Split(common::AsText(EncipherTable(*bytes)), kLineEnd);
}

bool MarkerAccepted(const common::Text& firstLine) {
  return std::fabs(common::ToNumber(firstLine) - kMarker) <= 1e-7;
}

std::string TablePlainText(const std::vector<common::Text>& entries) {
  std::string plain = "-597088775";
  plain += kLineEnd;
  for (const common::Text& entry : entries) {
    plain += entry;
    plain += kLineEnd;
  }
  return plain;
}

common::Text NameCheckTablePath() { return "皮肤图片\\数据核对.sjk"_gbk; }

common::Text OfficialNameListPath() { return "皮肤图片\\数据列表.sjk"_gbk; }

void NameTables::LoadNameCheckTable(const common::Text& path, const Pump& pump) {
  static const common::Text kFieldSeparator = "@@@";
  const auto lines = AcceptedLines(path);
  if (!lines) return;
  labels_.reserve(labels_.size() + lines->size());
  std::size_t row = 0;
  for (const common::Text& line : *lines) {
    std::vector<common::Text> fields = common::Split(line, kFieldSeparator);
    if (fields.size() >= 2) {
      labels_.insert_or_assign(common::ToLower(fields[0]), std::move(fields[1]));
      ++checkRows_;
    }
    PumpEvery(++row, pump);
  }
}

void NameTables::LoadOfficialNameList(const common::Text& path, const Pump& pump) {
  official_.clear();
  officialCount_ = 0;
  const auto lines = AcceptedLines(path);
  if (!lines) return;
  official_.reserve(lines->size());
  std::size_t row = 0;
  for (const common::Text& line : *lines) {
    official_.insert(common::ToLower(line));
    ++officialCount_;
    PumpEvery(++row, pump);
  }
}

bool NameTables::IsOfficialName(const common::Text& name) const {
  return official_.count(common::ToLower(name)) != 0;
}

std::optional<common::Text> NameTables::CheckLabel(const common::Text& baseName) const {
  const auto hit = labels_.find(baseName);
  if (hit == labels_.end()) return std::nullopt;
  return hit->second;
}

}  // namespace velmora
