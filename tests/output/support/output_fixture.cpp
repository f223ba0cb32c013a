#include "output_fixture.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "doc/text_codec.h"

namespace gm::test {

TempDir::TempDir() {
  char tmpl[] = "/tmp/gm_output_XXXXXX";
  path_ = mkdtemp(tmpl);
}

TempDir::~TempDir() {
  std::system(("rm -rf '" + path_ + "'").c_str());
}

std::wstring TempDir::WFile(const std::string& name) const {
  return FromUtf8(File(name));
}

SmallDisk::SmallDisk() : path_(dir_.File("small")) {
  ::mkdir(path_.c_str(), 0700);
  mounted_ =
      std::system(("mount -t tmpfs -o size=8k tmpfs '" + path_ + "' 2>/dev/null").c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) std::system(("umount '" + path_ + "'").c_str());
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

CRecord MakeRecord(const std::vector<std::wstring>& texts) {
  CRecord r;
  for (const std::wstring& t : texts) {
    CFieldValue f;
    f.text = t;
    r.fields.push_back(std::move(f));
  }
  return r;
}

RunFixture::RunFixture(const std::wstring& task_text, const std::vector<std::wstring>& columns) {
  doc.Parse(task_text);
  run.task = doc.Find(L"task");
  for (const std::wstring& c : columns) {
    size_t colon = c.find(L':');
    if (colon == std::wstring::npos)
      run.columns.push_back({c, L"INNERTEXT"});
    else
      run.columns.push_back({c.substr(0, colon), c.substr(colon + 1)});
  }
  run.report = [this](const std::wstring& text) { reports.push_back(text); };
}

std::string Python(const std::string& script, const std::vector<std::string>& args) {
  std::string cmd = "/usr/bin/python3 -c '" + script + "'";
  for (const std::string& a : args) cmd += " '" + a + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "EXIT popen";
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (status != 0) out += "EXIT " + std::to_string(WEXITSTATUS(status));
  return out;
}

}  // namespace gm::test
