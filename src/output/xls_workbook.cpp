#include "output/xls_workbook.h"

#include <algorithm>

#include "doc/file_util.h"

namespace gm {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kFatSector = 0xFFFFFFFD;
constexpr uint32_t kDifatSector = 0xFFFFFFFC;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr size_t kSector = 512;
constexpr size_t kMaxRecordData = 8224;
constexpr size_t kMaxCellUnits = 32767;

void Put16(std::string* s, uint16_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>(v >> 8));
}

void Put32(std::string* s, uint32_t v) {
  Put16(s, static_cast<uint16_t>(v & 0xFFFF));
  Put16(s, static_cast<uint16_t>(v >> 16));
}

void Set32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Record(std::string* out, uint16_t type, const std::string& data) {
  Put16(out, type);
  Put16(out, static_cast<uint16_t>(data.size()));
  *out += data;
}

// Appends the text's UTF-16 code units.
void AppendUtf16Units(const std::wstring& text, std::u16string* out_ptr) {
  std::u16string& out = *out_ptr;
  for (wchar_t wc : text) {
    uint32_t c = static_cast<uint32_t>(wc);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c > 0x10FFFF ? 0xFFFD : c));
    }
  }
}

std::u16string ToUtf16Units(const std::wstring& text) {
  std::u16string out;
  out.reserve(text.size());
  AppendUtf16Units(text, &out);
  return out;
}

bool Compressible(std::u16string_view s) {
  return std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x100; });
}

// A short unicode string (8-bit length), as sheet and font names are stored.
std::string ShortString(const std::u16string& s) {
  std::string out;
  out.push_back(static_cast<char>(s.size()));
  out.push_back(1);
  for (char16_t c : s) Put16(&out, c);
  return out;
}

std::string Bof(uint16_t kind) {
  std::string d;
  Put16(&d, 0x0600);
  Put16(&d, kind);
  Put16(&d, 0x0DBB);
  Put16(&d, 0x07CC);
  Put32(&d, 0);
  Put32(&d, 0x06);
  return d;
}

// The shared string table as an SST record followed by CONTINUE records. A string's characters
// may run over into the next record, which then starts with the string's option byte again.
void WriteSst(std::string* out, const std::u16string& pool, const std::vector<size_t>& starts) {
  std::vector<std::string> records(1);
  Put32(&records[0], static_cast<uint32_t>(starts.size()));
  Put32(&records[0], static_cast<uint32_t>(starts.size()));
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t end = k + 1 < starts.size() ? starts[k + 1] : pool.size();
    std::u16string_view s(pool.data() + starts[k], end - starts[k]);
    bool narrow = Compressible(s);
    size_t unit = narrow ? 1 : 2;
    if (records.back().size() + 3 + unit > kMaxRecordData) records.emplace_back();
    Put16(&records.back(), static_cast<uint16_t>(s.size()));
    records.back().push_back(narrow ? 0 : 1);
    size_t i = 0;
    while (i < s.size()) {
      size_t room = (kMaxRecordData - records.back().size()) / unit;
      if (room == 0) {
        records.emplace_back();
        records.back().push_back(narrow ? 0 : 1);
        continue;
      }
      size_t n = std::min(room, s.size() - i);
      // Readers decode each piece on its own: a surrogate pair is never split.
      if (n < s.size() - i && s[i + n - 1] >= 0xD800 && s[i + n - 1] <= 0xDBFF) --n;
      if (n == 0) {
        records.emplace_back();
        records.back().push_back(narrow ? 0 : 1);
        continue;
      }
      for (size_t k = i; k < i + n; ++k) {
        if (narrow)
          records.back().push_back(static_cast<char>(s[k]));
        else
          Put16(&records.back(), s[k]);
      }
      i += n;
    }
  }
  Record(out, 0x00FC, records[0]);
  for (size_t r = 1; r < records.size(); ++r) Record(out, 0x003C, records[r]);
}

void WriteGlobalsFormats(std::string* out) {
  std::string d;
  Put16(&d, 1200);  // code page: UTF-16
  Record(out, 0x0042, d);
  d.clear();  // WINDOW1
  for (uint16_t v : {0, 0, 0x4000, 0x2000, 0x38, 0, 0, 1, 0x258}) Put16(&d, v);
  Record(out, 0x003D, d);
  for (int i = 0; i < 5; ++i) {  // FONT: Arial 10 pt (index 4 is never used by readers)
    d.clear();
    for (uint16_t v : {200, 0, 0x7FFF, 400, 0}) Put16(&d, v);
    d.append(4, '\0');
    d.push_back(5);
    d.push_back(0);
    d += "Arial";
    Record(out, 0x0031, d);
  }
  for (int i = 0; i < 16; ++i) {  // XF: 15 style records, then the one cell format (15)
    d.clear();
    Put16(&d, 0);
    Put16(&d, 0);
    Put16(&d, i < 15 ? 0xFFF5 : 0x0001);
    d.push_back(0x20);
    d.append(3, '\0');
    Put32(&d, 0);
    Put32(&d, 0);
    Put16(&d, 0x20C0);
    Record(out, 0x00E0, d);
  }
  d.clear();  // STYLE: the built-in Normal style on XF 0
  Put16(&d, 0x8000);
  d.push_back(0);
  d.push_back(static_cast<char>(0xFF));
  Record(out, 0x0293, d);
}

}  // namespace

int CXlsWorkbook::AddSheet(const std::wstring& name) {
  sheets_.push_back({name.substr(0, 31), {}, 0, 0});
  return static_cast<int>(sheets_.size()) - 1;
}

bool CXlsWorkbook::SetText(int sheet, int row, int column, const std::wstring& text) {
  if (sheet < 0 || sheet >= SheetCount() || row < 0 || row >= kMaxRows || column < 0 ||
      column >= kMaxColumns)
    return false;
  if (text.empty()) return true;
  size_t start = pool_.size();
  AppendUtf16Units(text, &pool_);
  if (pool_.size() - start > kMaxCellUnits) {
    pool_.resize(start + kMaxCellUnits);
    // Never leave half a surrogate pair at the cut.
    if (pool_.back() >= 0xD800 && pool_.back() <= 0xDBFF) pool_.pop_back();
  }
  Sheet& s = sheets_[sheet];
  s.cells.push_back({static_cast<uint16_t>(row), static_cast<uint16_t>(column),
                     static_cast<uint32_t>(starts_.size())});
  starts_.push_back(start);
  s.rows = std::max(s.rows, row + 1);
  s.columns = std::max(s.columns, column + 1);
  return true;
}

std::string CXlsWorkbook::WorkbookStream() const {
  std::string out;
  Record(&out, 0x0809, Bof(0x0005));
  WriteGlobalsFormats(&out);
  std::vector<size_t> sheet_offsets;  // where each BOUNDSHEET's stream position goes
  for (const Sheet& s : sheets_) {
    std::string d;
    Put32(&d, 0);
    Put16(&d, 0);
    d += ShortString(ToUtf16Units(s.name));
    sheet_offsets.push_back(out.size() + 4);
    Record(&out, 0x0085, d);
  }
  WriteSst(&out, pool_, starts_);
  Record(&out, 0x000A, {});
  for (size_t i = 0; i < sheets_.size(); ++i) {
    const Sheet& s = sheets_[i];
    Set32(&out, sheet_offsets[i], static_cast<uint32_t>(out.size()));
    Record(&out, 0x0809, Bof(0x0010));
    std::string d;
    Put32(&d, 0);
    Put32(&d, static_cast<uint32_t>(s.rows));
    Put16(&d, 0);
    Put16(&d, static_cast<uint16_t>(s.columns));
    Put16(&d, 0);
    Record(&out, 0x0200, d);
    d.clear();  // WINDOW2; the first sheet is the selected one
    for (uint16_t v : {i == 0 ? 0x06B6 : 0x00B6, 0, 0, 0x40, 0, 0, 0, 0, 0}) Put16(&d, v);
    Record(&out, 0x023E, d);
    std::string cell;
    for (const Cell& c : s.cells) {
      cell.clear();
      Put16(&cell, c.row);
      Put16(&cell, c.column);
      Put16(&cell, 15);
      Put32(&cell, c.sst);
      Record(&out, 0x00FD, cell);
    }
    Record(&out, 0x000A, {});
  }
  return out;
}

std::string CXlsWorkbook::Serialize() const {
  return CompoundDocument(u"Workbook", WorkbookStream());
}

bool CXlsWorkbook::Save(const std::wstring& path) const {
  return WriteFileAtomically(NormalizeSeparators(path), Serialize());
}

namespace {

std::string DirectoryEntry(const std::u16string& name, uint8_t type, uint32_t child, uint32_t start,
                           uint32_t size) {
  std::string e;
  for (size_t i = 0; i < 32; ++i) Put16(&e, i < name.size() ? name[i] : 0);
  Put16(&e, name.empty() ? 0 : static_cast<uint16_t>((name.size() + 1) * 2));
  e.push_back(static_cast<char>(type));
  e.push_back(1);  // black
  Put32(&e, kNoStream);
  Put32(&e, kNoStream);
  Put32(&e, child);
  e.append(16 + 4 + 16, '\0');  // class id, state bits, creation and change times
  Put32(&e, start);
  Put32(&e, size);
  Put32(&e, 0);
  return e;
}

}  // namespace

std::string CompoundDocument(const std::u16string& stream_name, std::string stream) {
  if (stream.size() < 4096) stream.resize(4096, '\0');
  const uint32_t data_sectors = static_cast<uint32_t>((stream.size() + kSector - 1) / kSector);
  // Sector layout: stream, one directory sector, FAT sectors, DIFAT sectors.
  uint32_t fat = 1, difat = 0;
  for (;;) {
    uint32_t total = data_sectors + 1 + fat + difat;
    uint32_t need_fat = (total + 127) / 128;
    uint32_t need_difat = need_fat > 109 ? (need_fat - 109 + 126) / 127 : 0;
    if (need_fat == fat && need_difat == difat) break;
    fat = need_fat;
    difat = need_difat;
  }
  const uint32_t dir_sector = data_sectors;
  const uint32_t fat_start = dir_sector + 1;
  const uint32_t difat_start = fat_start + fat;

  std::string out;
  out.reserve(kSector * (1 + data_sectors + 1 + fat + difat));
  out += std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  out.append(16, '\0');
  for (uint16_t v : {0x003E, 0x0003, 0xFFFE, 9, 6}) Put16(&out, v);
  out.append(6, '\0');
  Put32(&out, 0);  // directory sectors (always 0 in version 3)
  Put32(&out, fat);
  Put32(&out, dir_sector);
  Put32(&out, 0);
  Put32(&out, 4096);
  Put32(&out, kEndOfChain);  // no mini FAT
  Put32(&out, 0);
  Put32(&out, difat ? difat_start : kEndOfChain);
  Put32(&out, difat);
  for (uint32_t i = 0; i < 109; ++i) Put32(&out, i < fat ? fat_start + i : kFreeSector);

  out += stream;
  out.resize(kSector * (1 + data_sectors), '\0');

  std::string dir = DirectoryEntry(u"Root Entry", 5, 1, kEndOfChain, 0);
  dir += DirectoryEntry(stream_name, 2, kNoStream, 0, static_cast<uint32_t>(stream.size()));
  dir += DirectoryEntry(u"", 0, kNoStream, 0, 0);
  dir += DirectoryEntry(u"", 0, kNoStream, 0, 0);
  out += dir;

  std::string table;
  table.reserve(fat * kSector);
  for (uint32_t s = 0; s < data_sectors; ++s)
    Put32(&table, s + 1 < data_sectors ? s + 1 : kEndOfChain);
  Put32(&table, kEndOfChain);  // the directory
  for (uint32_t i = 0; i < fat; ++i) Put32(&table, kFatSector);
  for (uint32_t i = 0; i < difat; ++i) Put32(&table, kDifatSector);
  while (table.size() < fat * kSector) Put32(&table, kFreeSector);
  out += table;

  for (uint32_t d = 0; d < difat; ++d) {
    std::string sec;
    for (uint32_t k = 0; k < 127; ++k) {
      uint32_t index = 109 + d * 127 + k;
      Put32(&sec, index < fat ? fat_start + index : kFreeSector);
    }
    Put32(&sec, d + 1 < difat ? difat_start + d + 1 : kEndOfChain);
    out += sec;
  }
  return out;
}

}  // namespace gm
