#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "doc/file_util.h"
#include "doc/task_file.h"
#include "doc/xml_node.h"

namespace gm {
namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/gm-doc-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::wstring File(const char* name) const { return FromUtf8(path_ + "/" + name); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadAll(const std::wstring& path) {
  std::string s;
  EXPECT_TRUE(ReadFileBytes(path, &s));
  return s;
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  std::ofstream(ToUtf8(path), std::ios::binary) << bytes;
}

std::string Decipher(std::string bytes, const GostKey& key) {
  GostDecrypt(&bytes, key);
  return bytes;
}

std::string Encipher(std::string bytes, const GostKey& key) {
  GostEncrypt(&bytes, key);
  return bytes;
}

GostKey TestKey() {
  GostKey k;
  EXPECT_TRUE(
      GostKeyFromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", &k));
  return k;
}

TEST(GostTest, KnownBlockAndInverse) {
  // Key words are little endian: K0 = 0x03020100.
  GostKey k = TestKey();
  EXPECT_EQ(k[0], 0x03020100u);
  EXPECT_EQ(k[7], 0x1f1e1d1cu);
  unsigned char block[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  GostEncryptBlock(block, k);
  unsigned char again[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  GostEncryptBlock(again, k);
  EXPECT_EQ(0, memcmp(block, again, 8));
  EXPECT_NE(0, memcmp(block, "\0\0\0\0\0\0\0\0", 8));
  GostDecryptBlock(block, k);
  EXPECT_EQ(0, memcmp(block, "\0\0\0\0\0\0\0\0", 8));
  // Decryption is not encryption: the key schedules differ.
  unsigned char x[8] = {1, 2, 3, 4, 5, 6, 7, 8}, y[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  GostEncryptBlock(x, k);
  GostDecryptBlock(y, k);
  EXPECT_NE(0, memcmp(x, y, 8));

  GostKey bad;
  EXPECT_FALSE(GostKeyFromHex("00", &bad));
  EXPECT_FALSE(GostKeyFromHex(std::string(63, '0') + "g", &bad));
}

TEST(GostTest, RoundFunctionMatchesReference) {
  // An independent straight-line computation of one encryption with a single non-zero key
  // word checks the S-box orientation, rotation and round order.
  static const unsigned char S[8][16] = {{4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
                                         {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
                                         {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
                                         {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
                                         {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
                                         {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
                                         {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
                                         {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12}};
  auto f = [&](uint32_t x) {
    uint32_t y = 0;
    for (int i = 0; i < 8; ++i) y |= uint32_t(S[i][(x >> (4 * i)) & 15]) << (4 * i);
    return (y << 11) | (y >> 21);
  };
  GostKey k = {0x11111111, 0x22222222, 0x33333333, 0x44444444,
               0x55555555, 0x66666666, 0x77777777, 0x88888888};
  uint32_t a = 0x01234567, b = 0x89abcdef;
  const int order[32] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7,
                         0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};
  for (int r = 0; r < 32; ++r) {
    uint32_t t = b ^ f(a + k[order[r]]);
    b = a;
    a = t;
  }
  // The last round does not exchange: N1 is the value before the final swap.
  uint32_t n1 = b, n2 = a;
  unsigned char block[8] = {0x67, 0x45, 0x23, 0x01, 0xef, 0xcd, 0xab, 0x89};
  GostEncryptBlock(block, k);
  unsigned char want[8];
  for (int i = 0; i < 4; ++i)
    want[i] = (n1 >> (8 * i)) & 0xFF, want[4 + i] = (n2 >> (8 * i)) & 0xFF;
  EXPECT_EQ(0, memcmp(block, want, 8));
}

// Published known answers for these S-boxes: the worked example of the GOST R 34.11-94 hash
// standard enciphers H0 = 0 under its four step keys (RFC 5831, section 7.3.1). Key and blocks
// are written byte by byte in storage order (words little endian), so the table checks the
// S-boxes, the rounds and the byte order against values computed elsewhere.
TEST(GostTest, PublishedKnownAnswers) {
  struct Vector {
    const char* key;
    unsigned char cipher[8];
  };
  const Vector vectors[] = {
      {"546d203368656c326973652073736e62206167796967747473656865202c3d73",
       {0x1B, 0x0B, 0xBC, 0x32, 0xCE, 0xBC, 0xAB, 0x42}},
      {"2033394d6c320d0965201a166e62001d6779410674740e136865160d3d730c11",
       {0xFD, 0xCF, 0x9B, 0x5D, 0xC8, 0xEB, 0x03, 0x52}},
      {"39b213f5f209a13f1ae9ba3aff1d0c6241f9e1c7f113008516f20d73f311b180",
       {0x28, 0x0E, 0xFF, 0x00, 0x99, 0x58, 0x34, 0x8D}},
      {"ec0a8ba15ec004a8bac50cac0c621deee1c7b8e7007ae2ecf2731bff4e80e2a0",
       {0x2D, 0x56, 0x2A, 0x0D, 0x19, 0x04, 0x86, 0xE7}},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.key);
    GostKey k;
    ASSERT_TRUE(GostKeyFromHex(v.key, &k));
    unsigned char block[8] = {};
    GostEncryptBlock(block, k);
    EXPECT_EQ(0, memcmp(block, v.cipher, 8));
    GostDecryptBlock(block, k);
    EXPECT_EQ(0, memcmp(block, "\0\0\0\0\0\0\0\0", 8));
  }
}

TEST(StorageTest, LengthAndPadding) {
  TempDir dir;
  GostKey k = TestKey();
  // A text node as the only top-level node lets the text form have any length.
  for (auto [text, stored] : std::vector<std::pair<std::wstring, size_t>>{
           {L"abcde", 8}, {L"abcdef", 16}, {L"abcdefghijklm", 16}, {L"\u4e2d", 8}}) {
    CXmlDocument doc;
    doc.AppendTop(new CXmlNode(text, XmlText));
    std::wstring path = dir.File("pad.cfg");
    ASSERT_TRUE(doc.Save(path, k));
    std::string file = ReadAll(path);
    EXPECT_EQ(file.size(), stored) << ToUtf8(text);
    std::string plain = Decipher(file, k);
    std::string want = "\xEF\xBB\xBF" + ToUtf8(text);
    want.append(stored - want.size(), '\0');
    EXPECT_EQ(plain, want);
  }
}

TEST(StorageTest, SaveLoadReproducesTextForm) {
  TempDir dir;
  CXmlDocument doc;
  doc.Parse(
      L"<config><language current=\"chs\"><chs><APP_TITLE>\u7f51\u9875\u91c7\u96c6"
      L"</APP_TITLE></chs></language></config><task name=\"t &lt;1&gt;\"><url>"
      L"http://example.com/?a=1&amp;b=\U0001F600</url></task>");
  std::wstring path = dir.File("gmk.cfg");
  ASSERT_TRUE(doc.Save(path, ConfigurationKey()));
  CXmlDocument back;
  ASSERT_TRUE(back.Load(path, ConfigurationKey()));
  EXPECT_EQ(back.ToText(), doc.ToText());
  EXPECT_EQ(back.Path(), path);
  // Save without a path writes to the loaded path.
  back.Find(L"task")->SetAttribute(L"name", L"changed");
  ASSERT_TRUE(back.Save(ConfigurationKey()));
  CXmlDocument third;
  ASSERT_TRUE(third.Load(path, ConfigurationKey()));
  EXPECT_EQ(third.Find(L"task")->GetAttribute(L"name"), L"changed");
}

TEST(StorageTest, ElectronicCodebookRepeatsBlocks) {
  TempDir dir;
  CXmlDocument doc;
  // BOM + 5 bytes fill the first block; two identical 8-byte runs follow.
  doc.AppendTop(new CXmlNode(L"12345ABCDEFGHABCDEFGH", XmlText));
  ASSERT_TRUE(doc.Save(dir.File("ecb"), TestKey()));
  std::string file = ReadAll(dir.File("ecb"));
  ASSERT_EQ(file.size(), 24u);
  EXPECT_EQ(file.substr(8, 8), file.substr(16, 8));
}

TEST(StorageTest, ThreeTextForms) {
  TempDir dir;
  GostKey k = TestKey();
  auto load = [&](std::string plain) {
    plain.append((8 - plain.size() % 8) % 8, '\0');
    WriteAll(dir.File("f"), Encipher(plain, k));
    CXmlDocument d;
    EXPECT_TRUE(d.Load(dir.File("f"), k));
    return d.ToText();
  };
  // UTF-8 with mark, up to the first zero byte.
  EXPECT_EQ(load("\xEF\xBB\xBF<a>\xE4\xB8\xAD</a>"), L"\r\n<a>\u4e2d</a>");
  // UTF-16LE with mark, written by another tool.
  EXPECT_EQ(load("\xFF\xFE" + ToUtf16LE(L"<a>\u4e2d\U0001F600</a>")),
            L"\r\n<a>\u4e2d\U0001F600</a>");
  // No mark: the ANSI code page (GBK by default).
  EXPECT_EQ(load("<a>\xD6\xD0\xCE\xC4</a>"), L"\r\n<a>\u4e2d\u6587</a>");
}

TEST(StorageTest, FailuresLeaveDocumentAndFileAlone) {
  TempDir dir;
  GostKey k = TestKey();
  CXmlDocument doc;
  doc.Parse(L"<keep></keep>");

  // 12 bytes: not a multiple of 8.
  WriteAll(dir.File("twelve"), std::string(12, 'x'));
  EXPECT_FALSE(doc.Load(dir.File("twelve"), k));
  EXPECT_EQ(doc.ToText(), L"\r\n<keep></keep>");
  // Missing file.
  EXPECT_FALSE(doc.Load(dir.File("missing"), k));
  EXPECT_EQ(doc.ToText(), L"\r\n<keep></keep>");
  // Empty document: nothing written.
  CXmlDocument empty;
  EXPECT_FALSE(empty.Save(dir.File("empty.cfg"), k));
  EXPECT_NE(::access(ToUtf8(dir.File("empty.cfg")).c_str(), F_OK), 0);
  // Empty file: loads as an empty document.
  WriteAll(dir.File("zero"), "");
  EXPECT_TRUE(doc.Load(dir.File("zero"), k));
  EXPECT_EQ(doc.First(), nullptr);
  // A folder that does not exist: failure.
  doc.Parse(L"<a></a>");
  EXPECT_FALSE(doc.Save(dir.File("no/such/folder/x.cfg"), k));
}

TEST(StorageTest, WrongKeyLoadsMeaninglessTree) {
  TempDir dir;
  CXmlDocument doc;
  doc.Parse(L"<task name=\"t\"><url>http://a/</url></task>");
  ASSERT_TRUE(doc.Save(dir.File("t.tsk"), TestKey()));
  CXmlDocument back;
  EXPECT_TRUE(back.Load(dir.File("t.tsk"), ConfigurationKey()));
  EXPECT_EQ(back.Find(L"task"), nullptr);
  EXPECT_EQ(ImportTaskFile(dir.File("t.tsk"), ConfigurationKey()), nullptr);
}

TEST(StorageTest, FailedSaveKeepsThePreviousFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  TempDir dir;
  CXmlDocument doc;
  doc.Parse(L"<old></old>");
  std::wstring path = dir.File("gmk.cfg");
  ASSERT_TRUE(doc.Save(path, TestKey()));
  std::string before = ReadAll(path);
  ::chmod(dir.path().c_str(), 0500);  // no new files in the folder
  doc.Parse(L"<new></new>");
  EXPECT_FALSE(doc.Save(path, TestKey()));
  ::chmod(dir.path().c_str(), 0700);
  EXPECT_EQ(ReadAll(path), before);
}

TEST(StorageTest, SaveOnAFullDiskKeepsThePreviousFile) {
  // A tiny tmpfs makes the write of the new content fail half way.
  TempDir dir;
  std::string mnt = dir.path() + "/small";
  ::mkdir(mnt.c_str(), 0700);
  if (std::system(("mount -t tmpfs -o size=16k tmpfs '" + mnt + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  }
  std::wstring path = FromUtf8(mnt + "/gmk.cfg");
  CXmlDocument doc;
  doc.Parse(L"<old>settings</old>");
  ASSERT_TRUE(doc.Save(path, TestKey()));
  std::string before = ReadAll(path);
  CXmlNode* big = doc.First();
  big->SetText(std::wstring(64 * 1024, L'x'));
  EXPECT_FALSE(doc.Save(path, TestKey()));
  EXPECT_EQ(ReadAll(path), before);
  // No temporary file is left behind.
  EXPECT_EQ(std::system(("test $(ls -A '" + mnt + "' | wc -l) -eq 1").c_str()), 0);
  std::system(("umount '" + mnt + "'").c_str());
}

TEST(TaskFileTest, ExportImportAndProposedName) {
  TempDir dir;
  CXmlDocument config;
  config.Parse(L"<autoupdate><k>0123456789abcdef0123456789abcdef-extra</k></autoupdate>");
  std::optional<GostKey> key = TaskFileKey(config);
  ASSERT_TRUE(key.has_value());
  CXmlDocument tasks;
  // The store id belongs to the configuration: a task file carries it neither out nor in.
  tasks.Parse(L"<task name=\" a/b:c \" storeid=\"0f0f\"><url>http://x/</url></task>");
  EXPECT_EQ(ProposedTaskFileName(*tasks.First()), L"a#b#c");
  std::wstring path = dir.File("a#b#c.tsk");
  ASSERT_TRUE(ExportTaskFile(*tasks.First(), path, *key));
  std::unique_ptr<CXmlNode> back = ImportTaskFile(path, *key);
  ASSERT_NE(back, nullptr);
  EXPECT_FALSE(back->GetAttribute(kTaskStoreIdAttribute).has_value());
  EXPECT_EQ(tasks.First()->GetAttribute(kTaskStoreIdAttribute), L"0f0f");  // the source keeps it
  tasks.First()->RemoveAttribute(kTaskStoreIdAttribute);
  std::wstring a, b;
  CXmlNode::WriteText(back.get(), &a, 0);
  CXmlNode::WriteText(tasks.First(), &b, 0);
  EXPECT_EQ(a, b);
  // A file written by someone else with an id: the import drops it.
  CXmlDocument foreign;
  foreign.AppendTop(std::make_unique<CXmlNode>(*tasks.First()))->SetAttribute(kTaskStoreIdAttribute, L"1");
  ASSERT_TRUE(foreign.Save(path, *key));
  back = ImportTaskFile(path, *key);
  ASSERT_NE(back, nullptr);
  EXPECT_FALSE(back->GetAttribute(kTaskStoreIdAttribute).has_value());

  // Key texts that are missing or shorter than 32 bytes in the ANSI code page give no key;
  // 16 Chinese characters are 32 bytes in GBK.
  struct Case {
    const wchar_t* doc;
    bool has_key;
  } cases[] = {
      {L"<autoupdate></autoupdate>", false},
      {L"<other><k>0123456789abcdef0123456789abcdef</k></other>", false},
      {L"<autoupdate><k>0123456789abcdef0123456789abcde</k></autoupdate>", false},
      {L"<autoupdate><k>\u4e00\u4e01\u4e02\u4e03\u4e04\u4e05\u4e06\u4e07\u4e08\u4e09\u4e0a"
       L"\u4e0b\u4e0c\u4e0d\u4e0e\u4e0f</k></autoupdate>",
       true},
  };
  for (const auto& c : cases) {
    CXmlDocument d;
    d.Parse(c.doc);
    EXPECT_EQ(TaskFileKey(d).has_value(), c.has_key) << ToUtf8(c.doc);
  }
}

TEST(FileUtilTest, SafeFileNameAndPaths) {
  EXPECT_EQ(SafeFileName(L"  a\\b/c:d*e?f\"g<h>i|j  "), L"a#b#c#d#e#f#g#h#i#j");
  EXPECT_EQ(SafeFileName(L""), L"");
  EXPECT_TRUE(IsAbsolutePath(L"/x"));
  EXPECT_TRUE(IsAbsolutePath(L"\\x"));
  EXPECT_TRUE(IsAbsolutePath(L"C:\\data"));
  EXPECT_FALSE(IsAbsolutePath(L"data\\x"));
  EXPECT_EQ(JoinPath(L"/base/", L"sub\\f.txt"), L"/base/sub/f.txt");
  EXPECT_EQ(JoinPath(L"/base", L"f"), L"/base/f");
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace gm
