// Records and their fields, and the runner's record list.
//
// Thread rules: Lock() guards the list. The runner's thread stores records (Store, Insert,
// Replace); the controller sorts, clears or edits it (SetSort, Clear, Replace; clearing and
// editing only while it holds the run lock, since the runner hands stored records to its outputs
// after the lock is released); each of these takes the lock itself. Every other read (Size, At, FindDuplicate, KeyColumns, ...) is made while holding
// Lock(), by any thread, since a sort may reorder the list at any time.
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
  // The record's row in the record store; 0 while it has none. A record that replaces another
  // takes over its row.
  int64_t storeId = 0;
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

  // The duplicate key: item indices. Changing them classifies the key columns of the listed
  // records and rebuilds the key index.
  void SetKeyColumns(std::vector<int> columns);  // takes the lock
  const std::vector<int>& KeyColumns() const { return key_columns_; }
  void SetLimit(bool limit, int max_result);  // takes the lock
  int SortIndex() const { return sort_index_; }
  bool SortDescending() const { return sort_descending_; }

  // Classifies the fields of a record not yet in the list that the list's rules compare (key
  // and sort columns; takes the lock). Store, Insert and Replace do it themselves.
  void ClassifyForRules(CRecord* record) const;
  // Position of the first record in list order whose key fields (classified) all compare equal
  // to the record's; -1 when there is none or no key columns are set. Found through an index, so a
  // long list does not make each commit a scan.
  long FindDuplicate(const CRecord& record) const;
  // The duplicate rule and the store in one step under the lock: a record without a duplicate
  // is inserted; with one, rule 0 inserts it too, rule 1 replaces the duplicate unless every
  // field compares equal, and any other rule discards it. The stored record (which stays valid
  // until the list drops it), or null when it was discarded.
  // `dropped`, when given, receives the store ids of the records the length limit removed.
  const CRecord* Store(std::unique_ptr<CRecord> record, int ignore_new_record,
                       std::vector<int64_t>* dropped = nullptr);
  // Adds records read back from the record store, in their stored order, then applies the sort
  // and the length limit in force (takes the lock). Returns the store ids of the records the
  // limit left out.
  std::vector<int64_t> Load(std::vector<std::unique_ptr<CRecord>> records);
  // Stores a record honouring the length limit and the sort in force (takes the lock).
  void Insert(std::unique_ptr<CRecord> record);
  // Replaces the record at pos (takes the lock).
  void Replace(size_t pos, std::unique_ptr<CRecord> record);
  // Changes the sort in force, classifies that column and re-sorts (takes the lock). False when
  // nothing changed.
  bool SetSort(int index, bool descending);
  // Empties the list (takes the lock).
  void Clear();

 private:
  struct Bucket {
    std::unordered_map<double, std::vector<const CRecord*>> by_number;
    std::unordered_map<std::wstring, std::vector<const CRecord*>> by_text;
  };
  void InsertLocked(std::unique_ptr<CRecord> record, std::vector<int64_t>* dropped = nullptr);
  void ClassifyColumn(int index);  // of every listed record
  void ClassifyForRulesLocked(CRecord* record) const;
  void ReplaceLocked(size_t pos, std::unique_ptr<CRecord> record);
  void IndexAdd(const CRecord* r);
  void IndexRemove(const CRecord* r);
  void RebuildIndex();
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
