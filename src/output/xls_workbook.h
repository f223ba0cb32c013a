// CXlsWorkbook: a workbook in the Excel 97-2003 binary format (BIFF8 records in a compound
// document whose single stream is named "Workbook"), holding text cells only.
//
// Texts go to the shared string table in cell order (one entry per cell, kept in one flat
// buffer, so that large sheets are built quickly) and are referred to by LABELSST cells; a
// text longer than 32767 UTF-16 units (the format's cell limit) is cut there. A sheet has rows
// 0 to 65535 and columns 0 to 255; cells outside are ignored. Empty texts leave their cell
// empty. Cells are kept in memory until Save.
//
// Threads: one object belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <string>
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
  // The shared string table: string i is pool_[starts_[i], starts_[i + 1]) (the last one ends
  // at the end of the pool).
  std::u16string pool_;
  std::vector<size_t> starts_;
};

// Wraps one stream named `stream_name` in a compound document (version 3, 512-byte sectors).
// A stream shorter than 4096 bytes is padded with zeros to that size, so that it lives in
// regular sectors.
std::string CompoundDocument(const std::u16string& stream_name, std::string stream);

}  // namespace gm
