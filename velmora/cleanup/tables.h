// The two enciphered name tables of the data folder: the official name list (数据列表.sjk) and
// the name check table (数据核对.sjk).
//
// A table file is one RC4 cipher text under the 20-byte pass phrase; its plain text is GBK, cut
// at the first zero byte and split into lines on "\r\n". Line 1 is a marker number that must
// equal -597088775; it rejects a table enciphered under another key or of another layout.
//
// Choices for files the format does not cover: a missing, unreadable or empty file, or one whose
// text has no line, is treated like a marker mismatch (the table stays empty, nothing is
// reported). A check-table line without "@@@" (one field only) or an empty line is skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace velmora {

// The deciphered lines of a table file; no lines when the file cannot be read.
std::vector<common::Text> ReadTableLines(const common::Text& path);

// The marker test of line 1: read as a decimal number, it must lie within 1e-7 of -597088775.
bool MarkerAccepted(const common::Text& firstLine);

// RC4 under the tables' pass phrase. The cipher is symmetric: this also deciphers.
std::string EncipherTable(const std::string& plain);

// The plain text of a table: the marker line, then every entry, each line ended by "\r\n".
std::string TablePlainText(const std::vector<common::Text>& entries);

// The default places of the tables, relative to the current directory.
common::Text NameCheckTablePath();    // 皮肤图片\数据核对.sjk
common::Text OfficialNameListPath();  // 皮肤图片\数据列表.sjk

class NameTables {
 public:
  // Lets the window handle its pending messages during a long load (ui::PumpEvents).
  using Pump = std::function<void()>;

  // Adds the rows of the name check table (key: field 1 in lower case, label: field 2 as
  // stored). The table is not emptied first; a later row with the same key wins.
  void LoadNameCheckTable(const common::Text& path = NameCheckTablePath(), const Pump& pump = {});

  // Replaces the official name list with the entries of the file, in lower case.
  void LoadOfficialNameList(const common::Text& path = OfficialNameListPath(),
                            const Pump& pump = {});

  // True when the official name list holds the name, ASCII letters compared ignoring case.
  bool IsOfficialName(std::string_view name) const;

  // The label of the last check-table row whose key equals baseName byte for byte.
  std::optional<common::Text> CheckLabel(std::string_view baseName) const;

  bool OfficialListEmpty() const { return officialCount_ == 0; }
  std::size_t OfficialNameCount() const { return officialCount_; }
  std::size_t CheckRowCount() const { return checkRows_; }

 private:
  // A hash index over texts held in a vector: open addressing, each slot 1 + the text's index
  // (0: empty). One table of small numbers instead of a node per name keeps loading and
  // lookups fast on tables of 50,000 rows.
  class Index {
   public:
    // The slot of `key`: the one holding it, or the empty one where it goes.
    template <typename TextAt>
    std::size_t Find(std::string_view key, const TextAt& textAt) const;
    // Makes room for `count` texts, placing again the `stored` ones already indexed.
    template <typename TextAt>
    void Reserve(std::size_t count, std::size_t stored, const TextAt& textAt);
    void Clear() { slots_.clear(); }
    std::uint32_t At(std::size_t slot) const { return slots_[slot]; }
    void Set(std::size_t slot, std::uint32_t value) { slots_[slot] = value; }
    bool Empty() const { return slots_.empty(); }

   private:
    std::vector<std::uint32_t> slots_;
  };
  using SharedText = std::shared_ptr<const common::Text>;

  // The entries are views into the table texts, which copies of the tables share: no text of
  // its own per row.
  SharedText officialText_;                      // the official list, in lower case
  std::vector<std::string_view> officialNames_;  // each name once
  Index officialIndex_;
  std::vector<SharedText> checkTexts_;         // per loaded file: as stored, in lower case
  std::vector<std::string_view> checkKeys_;    // lower case, each key once
  std::vector<std::string_view> checkLabels_;  // per key: the label of its last row
  Index checkIndex_;
  std::size_t officialCount_ = 0;  // entries loaded, duplicates counted
  std::size_t checkRows_ = 0;
};

}  // namespace velmora
