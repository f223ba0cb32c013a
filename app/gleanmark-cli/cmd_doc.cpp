// doc decode / doc encode: the enciphered document format by hand.
#include <cstdio>

#include "cli.h"
#include "doc/file_util.h"
#include "doc/text_codec.h"

namespace gm::cli {

int CmdDoc(const Args& in) {
  Args args = in;
  bool missing = false;
  std::string key_spec = TakeOption(&args, "--key", &missing).value_or("config");
  std::optional<std::string> config_path = TakeOption(&args, "--config", &missing);
  if (missing) return Fail("option without a value");
  if (args.empty()) return Fail("doc needs 'decode FILE' or 'encode TEXTFILE OUT'");
  const std::string verb = args[0];
  if (verb == "decode" && args.size() != 2) return Fail("usage: doc decode FILE [--key ...]");
  if (verb == "encode" && args.size() != 3)
    return Fail("usage: doc encode TEXTFILE OUT [--key ...]");
  if (verb != "decode" && verb != "encode") return Fail("unknown doc verb '" + verb + "'");

  GostKey key;
  std::string error;
  if (!ResolveKey(key_spec, config_path, &key, &error)) return Fail(error);

  std::string bytes;
  if (!ReadFileBytes(FromUtf8(args[1]), &bytes)) return Fail("cannot read " + args[1]);

  CXmlDocument doc;
  if (verb == "decode") {
    if (bytes.size() % 8 != 0) {
      return Fail(args[1] + ": length " + std::to_string(bytes.size()) +
                  " is not a multiple of 8, not an enciphered document");
    }
    doc.DecodeStored(bytes, key);
    std::string out = ToUtf8(doc.ToText());
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  doc.Parse(FromUtf8(bytes));
  bool has_element = false;
  for (CXmlNode* n = doc.First(); n; n = n->Next()) has_element |= n->Type() == XmlElement;
  if (!has_element) return Fail(args[1] + " holds no document (no element)");
  if (!doc.Save(FromUtf8(args[2]), key)) return Fail("cannot write " + args[2]);
  return 0;
}

}  // namespace gm::cli
