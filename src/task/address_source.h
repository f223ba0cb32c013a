// The address sequence of one run of a task: the start address, then the addresses of an
// address template (parameters counted like an odometer, the last one fastest) or of an address
// list, or the scripts run on a query page. One object per run, on the runner's thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "doc/xml_node.h"

namespace gm {

// The value at position k of a parameter value text: a range "[start-end-step]" or a list
// "a;b;c". nullopt when the parameter has no value at k. A range with step 0 has one value.
std::optional<std::wstring> ParameterValue(const std::wstring& value_text, long long k);
// Reads a number range "[start-end-step]"; false when the text is not one.
bool ParseRange(const std::wstring& text, long long* start, long long* end, long long* step);

// Turns a parameter value that describes a database query ("{DBTYPE=...;SQL=...;}") into the
// value list of its result rows; any other value comes back unchanged.
using QueryValueResolver = std::function<std::wstring(const std::wstring& value)>;

class CAddressSource {
 public:
  // Reads the task's "address" settings; the effective type is 0 for a template without
  // parameters and for a script list without scripts. With a resolver, each parameter value
  // of the form "{...}" is resolved once, here, for this run; the task is not changed.
  explicit CAddressSource(const CXmlNode& task, const QueryValueResolver& resolver = {});

  int Type() const { return type_; }
  const std::wstring& StartAddress() const { return start_; }
  const std::wstring& CurrentAddress() const { return current_; }
  const std::wstring& PreviousAddress() const { return previous_; }

  // The next address after the current one (types 1 and 2); nullopt when there are no more,
  // or when should_stop answers true. Addresses equal to the current one (without regard to
  // letter case) are skipped; should_stop is asked between long runs of them.
  std::optional<std::wstring> NextAddress(const std::function<bool()>& should_stop = {});
  // The next script (type 3); nullopt when all have been used.
  std::optional<std::wstring> NextScript();
  bool HasMoreScripts() const { return next_script_ < scripts_.size(); }
  // How many top-level addresses the sequence holds at most, counted from the settings without
  // walking it: the start address, then each combination of the template's parameter values,
  // each list line up to the first empty one, or each script. Addresses that NextAddress skips
  // as repeats are counted, so a run may end a little before this number.
  long long Planned() const;

 private:
  std::optional<std::wstring> NextCombination(const std::function<bool()>& should_stop);
  std::optional<std::wstring> NextListLine();
  void Advance(const std::wstring& address);

  int type_ = 0;
  std::wstring start_, current_, previous_;
  std::wstring pattern_;
  std::vector<std::wstring> names_, values_, current_values_;
  std::vector<long long> counters_;
  std::wstring list_;
  size_t list_pos_ = 0;
  std::vector<std::wstring> scripts_;
  size_t next_script_ = 0;
  bool exhausted_ = false;
};

}  // namespace gm
