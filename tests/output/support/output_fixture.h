// Shared pieces of the output tests: a temporary folder, records made from texts, a run made
// from a task in text form, and a way to ask Python's readers about a file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "doc/xml_node.h"
#include "engine/record_output.h"

namespace gm::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::wstring WFile(const std::string& name) const;

 private:
  std::string path_;
};

// A tmpfs of a few kilobytes mounted in a temporary folder (root only), for full-disk cases;
// unmounted on destruction.
class SmallDisk {
 public:
  SmallDisk();
  ~SmallDisk();
  bool Mounted() const { return mounted_; }
  const std::string& path() const { return path_; }

 private:
  TempDir dir_;
  std::string path_;
  bool mounted_ = false;
};

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// A record with one field per text.
CRecord MakeRecord(const std::vector<std::wstring>& texts);

// A task element parsed from text, and a run over it with the given columns ("name" or
// "name:TYPE"). Status reports are collected in `reports`.
struct RunFixture {
  explicit RunFixture(const std::wstring& task_text, const std::vector<std::wstring>& columns);
  CXmlDocument doc;
  OutputRun run;
  std::vector<std::wstring> reports;
};

// Runs /usr/bin/python3 with a script and arguments; returns its standard output, or the
// text "EXIT <status>" appended when it fails.
std::string Python(const std::string& script, const std::vector<std::string>& args);

}  // namespace gm::test
