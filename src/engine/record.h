// Records and their fields, and the runner's record list.
//
// Thread rules: a CRecordList is changed only by its runner's thread, always while holding
// Lock(); other threads (the desktop's result view, exports) read it only while holding Lock().
// The runner's thread may read without the lock, since nobody else writes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/page_cache.h"

namespace gm {

class CItemDef;

enum ValueKind : int { kUnclassified = 0, kNumber = 1, kDate = 2, kText = 3 };

struct CFieldValue {
  // kind and number hold once `classified` is set. Fields are classified where a rule needs
  // their kind (see EnsureClassified), not when they are made: dates cost a locale parse.
  ValueKind kind = kUnclassified;
  double number = 0;  // kNumber: the value; kDate: days since 1899-12-30 with time as fraction
  bool classified = false;
  std::wstring text;
  std::vector<CLinkedFile> linkedFiles;  // downloaded files, in download order
  const CItemDef* item = nullptr;        // not owned

  // Adds a downloaded file; returns its index.
  int AddLinkedFile(CLinkedFile file);
};

struct CRecord {
  std::vector<CFieldValue> fields;  // field i belongs to item i of the runner's item list
  bool Empty() const;               // every field's text is empty
  // The field at i; an empty field for records made before the item list grew.
  const CFieldValue& Field(int i) const;
  // Kept by CRecordList: strictly increasing along the list, so positions can be found by
  // bisection.
  double listOrder = 0;
};

// Sets kind and number from the text: numbers, then dates (ISO forms and the user's locale),
// else text.
void Classify(CFieldValue* field);
// Classify, unless the field already is. Whoever reads kind or number calls it first: the
// runner's thread for a record not yet in a list, otherwise under the list's Lock(). The list
// keeps its sort column and key columns classified.
void EnsureClassified(CFieldValue* field);
// Parses a local date and/or time; on success *days is the day number since 1899-12-30 with
// the time of day as fraction.
bool ParseLocalDate(const std::wstring& text, double* days);
// -1, 0 or +1; kind-aware (numbers and dates by value, otherwise by UTF-16 code units).
int CompareFields(const CFieldValue& a, const CFieldValue& b);

class CRecordList {
 public:
  CRecordList() = default;
  CRecordList(const CRecordList&) = delete;
  CRecordList& operator=(const CRecordList&) = delete;

  std::mutex& Lock() const { return lock_; }

  size_t Size() const { return records_.size(); }
  const CRecord& At(size_t i) const { return *records_[i]; }
  CRecord* MutableAt(size_t i) { return records_[i].get(); }

  // The duplicate key: item indices. Changing them classifies the key columns (under the lock)
  // and rebuilds the key index.
  void SetKeyColumns(std::vector<int> columns);
  const std::vector<int>& KeyColumns() const { return key_columns_; }
  void SetLimit(bool limit, int max_result);
  int SortIndex() const { return sort_index_; }
  bool SortDescending() const { return sort_descending_; }

  // Classifies the fields of a record that the list's rules compare (key and sort columns);
  // for a record not yet in the list (takes the lock).
  void ClassifyForRules(CRecord* record) const;
  // Position of the first record in list order whose key fields all compare equal to the
  // record's (classified with ClassifyForRules); -1 when there is none or no key columns are
  // set. Found through an index, so a long list does not make each commit a scan.
  long FindDuplicate(const CRecord& record) const;
  // Stores a record honouring the length limit and the sort in force (takes the lock).
  void Insert(std::unique_ptr<CRecord> record);
  // Replaces the record at pos (takes the lock).
  void Replace(size_t pos, std::unique_ptr<CRecord> record);
  // Changes the sort in force and re-sorts (takes the lock; classifies the new sort column).
  // False when nothing changed.
  bool SetSort(int index, bool descending);
  // Empties the list (takes the lock).
  void Clear();

 private:
  struct Bucket {
    std::unordered_map<double, std::vector<const CRecord*>> by_number;
    std::unordered_map<std::wstring, std::vector<const CRecord*>> by_text;
  };
  void IndexAdd(const CRecord* r);
  void IndexRemove(const CRecord* r);
  void RebuildIndex();
  void ClassifyColumn(int index);  // of every listed record; caller holds the lock
  void ClassifyForRulesLocked(CRecord* record) const;
  bool KeysEqual(const CRecord& a, const CRecord& b) const;

  mutable std::mutex lock_;
  std::vector<std::unique_ptr<CRecord>> records_;
  std::vector<int> key_columns_;
  bool limit_ = false;
  int max_result_ = 0;
  int sort_index_ = -1;
  bool sort_descending_ = false;
  Bucket index_;  // over the first key column
};

}  // namespace gm
