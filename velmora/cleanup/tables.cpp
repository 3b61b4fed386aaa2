// The enciphered name tables: reading, the marker test and the two lookups.
#include "velmora/cleanup/tables.h"

#include <algorithm>
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

// RC4 over the bytes, in place.
void Rc4(std::string& bytes, std::string_view key) {
  // The state is kept in words: byte-sized table entries make the compiler merge partial
  // registers on every step, which slows this loop down markedly.
  std::array<std::uint32_t, 256> state;
  for (std::uint32_t i = 0; i < 256; ++i) state[i] = i;
  std::uint32_t j = 0;
  for (std::size_t i = 0; i < 256; ++i) {
    j = (j + state[i] + static_cast<std::uint8_t>(key[i % key.size()])) & 0xFF;
    std::swap(state[i], state[j]);
  }
  auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  for (std::size_t k = 0, n = bytes.size(); k < n; ++k) {
    x = (x + 1) & 0xFF;
    const std::uint32_t sx = state[x];
    y = (y + sx) & 0xFF;
    const std::uint32_t sy = state[y];
    state[x] = sy;
    state[y] = sx;
    data[k] = static_cast<std::uint8_t>(data[k] ^ state[(sx + sy) & 0xFF]);
  }
}

// The plain text of a table file, up to its first zero byte; empty when it cannot be read.
common::Text ReadPlainText(const common::Text& path) {
  std::optional<std::string> bytes = platform::ReadFileBytes(path);
  if (!bytes) return {};
  Rc4(*bytes, kPassPhrase);
  // The text ends at its first zero byte (cut in place: the table may be megabytes long).
  if (const std::size_t zero = bytes->find('\0'); zero != std::string::npos) bytes->resize(zero);
  return std::move(*bytes);
}

// Calls visit(line) for each line of a plain table text, as Split on "\r\n" gives them, but
// as views into the text instead of copies.
template <typename Visit>
void ForEachLine(std::string_view text, const Visit& visit) {
  std::size_t start = 0;
  while (start < text.size()) {
    const int end = common::Find(text, kLineEnd, static_cast<int>(start) + 1);
    if (end < 0) {
      visit(text.substr(start));
      return;
    }
    visit(text.substr(start, static_cast<std::size_t>(end - 1) - start));
    start = static_cast<std::size_t>(end - 1) + 2;
  }
}

// The text after the marker line, or nothing when the marker is refused or missing.
std::optional<std::string_view> Entries(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const int end = common::Find(text, kLineEnd);
  const std::string_view marker =
      end < 0 ? text : text.substr(0, static_cast<std::size_t>(end - 1));
  if (!MarkerAccepted(common::Text(marker))) return std::nullopt;
  return end < 0 ? std::string_view() : text.substr(static_cast<std::size_t>(end - 1) + 2);
}

void PumpEvery(std::size_t row, const NameTables::Pump& pump) {
  if (pump && row % kRowsPerPump == 0) pump();
}

std::size_t HashOf(std::string_view text) { return std::hash<std::string_view>{}(text); }

}  // namespace

std::string EncipherTable(const std::string& plain) {
  std::string bytes = plain;
  Rc4(bytes, kPassPhrase);
  return bytes;
}

std::vector<common::Text> ReadTableLines(const common::Text& path) {
  return common::Split(ReadPlainText(path), kLineEnd);
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

template <typename TextAt>
std::size_t NameTables::Index::Find(std::string_view key, const TextAt& textAt) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = HashOf(key) & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t value = slots_[slot];
    if (value == 0 || textAt(value - 1) == key) return slot;
  }
}

template <typename TextAt>
void NameTables::Index::Reserve(std::size_t count, std::size_t stored, const TextAt& textAt) {
  std::size_t size = 16;
  while (size < count * 2) size *= 2;  // at most half full
  if (size <= slots_.size()) return;
  slots_.assign(size, 0);
  for (std::size_t i = 0; i < stored; ++i) {
    slots_[Find(textAt(i), textAt)] = static_cast<std::uint32_t>(i + 1);
  }
}

void NameTables::LoadNameCheckTable(const common::Text& path, const Pump& pump) {
  static const common::Text kFieldSeparator = "@@@";
  auto text = std::make_shared<const common::Text>(ReadPlainText(path));
  const std::optional<std::string_view> entries = Entries(*text);
  if (!entries) return;
  // Keys are read from the folded copy, at the offsets of the text: folding keeps every byte
  // in its place, and a key never ends inside a character, so its folded bytes are the key
  // folded on its own.
  auto folded = std::make_shared<const common::Text>(common::ToLower(*text));
  const std::size_t shift = static_cast<std::size_t>(entries->data() - text->data());
  const std::string_view foldedEntries = std::string_view(*folded).substr(shift);
  const auto keyAt = [this](std::size_t i) { return checkKeys_[i]; };
  checkIndex_.Reserve(
      checkKeys_.size() +
          static_cast<std::size_t>(std::count(entries->begin(), entries->end(), '\n')) + 1,
      checkKeys_.size(), keyAt);
  std::size_t row = 0;
  ForEachLine(*entries, [&](std::string_view line) {
    PumpEvery(++row, pump);
    // Field 1 ends at the first "@@@", field 2 at the next one or at the end of the line. A
    // line with no second field (no "@@@", or one only at its very end) is skipped.
    const int first = common::Find(line, kFieldSeparator);
    if (first < 0) return;
    const std::size_t keyLength = static_cast<std::size_t>(first - 1);
    const std::size_t labelStart = keyLength + kFieldSeparator.size();
    if (labelStart >= line.size()) return;
    const int second = common::Find(line, kFieldSeparator, static_cast<int>(labelStart) + 1);
    const std::size_t labelEnd = second < 0 ? line.size() : static_cast<std::size_t>(second - 1);
    const std::string_view label = line.substr(labelStart, labelEnd - labelStart);
    const std::string_view key =
        foldedEntries.substr(static_cast<std::size_t>(line.data() - entries->data()), keyLength);
    const std::size_t slot = checkIndex_.Find(key, keyAt);
    if (const std::uint32_t held = checkIndex_.At(slot); held != 0) {
      checkLabels_[held - 1] = label;  // the later row wins
    } else {
      checkKeys_.push_back(key);
      checkLabels_.push_back(label);
      checkIndex_.Set(slot, static_cast<std::uint32_t>(checkKeys_.size()));
    }
    ++checkRows_;
  });
  checkTexts_.push_back(std::move(text));
  checkTexts_.push_back(std::move(folded));
}

void NameTables::LoadOfficialNameList(const common::Text& path, const Pump& pump) {
  officialNames_.clear();
  officialIndex_.Clear();
  officialCount_ = 0;
  // Folding the whole text folds every line as it stands: lines begin at character
  // boundaries of the text, and a line never ends inside a character.
  officialText_ = std::make_shared<const common::Text>(common::ToLower(ReadPlainText(path)));
  const std::optional<std::string_view> entries = Entries(*officialText_);
  if (!entries) {
    officialText_.reset();
    return;
  }
  const std::size_t lines =
      static_cast<std::size_t>(std::count(entries->begin(), entries->end(), '\n')) + 1;
  const auto nameAt = [this](std::size_t i) { return officialNames_[i]; };
  officialIndex_.Reserve(lines, 0, nameAt);
  officialNames_.reserve(lines);
  std::size_t row = 0;
  ForEachLine(*entries, [&](std::string_view line) {
    const std::size_t slot = officialIndex_.Find(line, nameAt);
    if (officialIndex_.At(slot) == 0) {
      officialNames_.push_back(line);
      officialIndex_.Set(slot, static_cast<std::uint32_t>(officialNames_.size()));
    }
    ++officialCount_;
    PumpEvery(++row, pump);
  });
}

bool NameTables::IsOfficialName(std::string_view name) const {
  if (officialIndex_.Empty()) return false;
  const auto nameAt = [this](std::size_t i) { return officialNames_[i]; };
  const bool lowerCase =
      std::none_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  const common::Text folded = lowerCase ? common::Text() : common::ToLower(name);
  const std::string_view key = lowerCase ? name : std::string_view(folded);
  return officialIndex_.At(officialIndex_.Find(key, nameAt)) != 0;
}

std::optional<common::Text> NameTables::CheckLabel(std::string_view baseName) const {
  if (checkIndex_.Empty()) return std::nullopt;
  const auto keyAt = [this](std::size_t i) { return checkKeys_[i]; };
  const std::uint32_t held = checkIndex_.At(checkIndex_.Find(baseName, keyAt));
  if (held == 0) return std::nullopt;
  return common::Text(checkLabels_[held - 1]);
}

}  // namespace velmora
