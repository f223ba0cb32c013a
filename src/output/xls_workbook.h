// CXlsWorkbook: a workbook in the Excel 97-2003 binary format (BIFF8 records in a compound
// document whose single stream is named "Workbook"), holding text cells only.
//
// Texts are stored once each in the shared string table and referred to by LABELSST cells; a
// text longer than 32767 UTF-16 units (the format's cell limit) is cut there. A sheet has rows
// 0 to 65535 and columns 0 to 255; cells outside are ignored. Empty texts leave their cell
// empty. Cells are kept in memory until Save.
//
// Threads: one object belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace gm {

class CXlsWorkbook {
 public:
  static constexpr int kMaxRows = 65536;
  static constexpr int kMaxColumns = 256;

  // Adds a worksheet (names are cut to 31 characters); returns its index.
  int AddSheet(const std::wstring& name);
  int SheetCount() const { return static_cast<int>(sheets_.size()); }
  // Sets a text cell; false when the sheet, row or column is out of range.
  bool SetText(int sheet, int row, int column, const std::wstring& text);

  // The whole file as bytes.
  std::string Serialize() const;
  // Writes the file, replacing one that is there (through a temporary file, so a failed save
  // leaves the old file). False when it cannot be written.
  bool Save(const std::wstring& path) const;

 private:
  struct Cell {
    uint16_t row, column;
    uint32_t sst;
  };
  struct Sheet {
    std::wstring name;
    std::vector<Cell> cells;
    int rows = 0, columns = 0;
  };
  std::string WorkbookStream() const;

  std::vector<Sheet> sheets_;
  std::vector<std::u16string> strings_;  // the shared string table, in first-use order
  std::unordered_map<std::u16string, uint32_t> string_index_;
  uint32_t total_refs_ = 0;
};

// Wraps one stream named `stream_name` in a compound document (version 3, 512-byte sectors).
// A stream shorter than 4096 bytes is padded with zeros to that size, so that it lives in
// regular sectors.
std::string CompoundDocument(const std::u16string& stream_name, std::string stream);

}  // namespace gm
