// Deciphers arbitrary bytes as a stored document under the configuration key.
#include <cstddef>
#include <cstdint>

#include "doc/xml_node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  gm::CXmlDocument doc;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  doc.DecodeStored(bytes, gm::ConfigurationKey());
  // Also as plain text forms: enciphering the input first makes the decoder see it verbatim.
  std::string plain(bytes.substr(0, size - size % 8));
  gm::GostEncrypt(&plain, gm::ConfigurationKey());
  doc.DecodeStored(plain, gm::ConfigurationKey());
  std::string stored;
  doc.EncodeStored(gm::ConfigurationKey(), &stored);
  return 0;
}
