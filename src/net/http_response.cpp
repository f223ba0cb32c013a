#include "net/http_response.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "doc/text_compare.h"
#include "net/http_error.h"
#include "net/spool_file.h"

namespace gm {

namespace {

constexpr int64_t kMaxHeaderBytes = 1 << 20;   // all header bytes of a response, interim included
constexpr int kMaxInterim = 100;               // interim responses before the final one
constexpr size_t kMaxChunkLine = 4096;         // a chunk-size or trailer line
constexpr int64_t kMaxInitialAlloc = 8 << 20;  // Content-Length is trusted only this far

std::wstring_view Trim(std::wstring_view v) {
  while (!v.empty() && (v.front() == L' ' || v.front() == L'\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == L' ' || v.back() == L'\t')) v.remove_suffix(1);
  return v;
}

constexpr int64_t kLengthMalformed = -2;
constexpr int64_t kLengthHuge = -3;

// One decimal length: kLengthMalformed for anything but digits, kLengthHuge beyond 15 digits.
int64_t ParseLength(std::wstring_view v) {
  v = Trim(v);
  if (v.empty()) return kLengthMalformed;
  int64_t n = 0;
  for (wchar_t c : v) {
    if (c < L'0' || c > L'9') return kLengthMalformed;
    if (n > 99999999999999) return kLengthHuge;
    n = n * 10 + (c - L'0');
  }
  return n;
}

// The body length the header announces: -1 when there is no Content-Length field. Several
// fields, or one holding a list, must all give the same number; a length that is not a plain
// decimal number, or that disagrees with another, makes the response malformed
// (kLengthMalformed).
int64_t AnnouncedLength(std::wstring_view header) {
  int64_t length = -1;
  for (std::wstring_view values : HeaderFields(header, L"Content-Length")) {
    for (;;) {
      size_t comma = values.find(L',');
      int64_t n = ParseLength(values.substr(0, comma));
      if (n == kLengthMalformed || (length >= 0 && n != length)) return kLengthMalformed;
      length = n == kLengthHuge ? INT64_MAX : n;
      if (comma == std::wstring_view::npos) break;
      values.remove_prefix(comma + 1);
    }
  }
  return length;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// Streaming zlib decoder for "gzip" and "deflate" bodies. "deflate" is meant to be the zlib
// format, but servers also send raw deflate data: the first two bytes tell them apart.
struct CHttpResponse::Inflater {
  enum Mode { kGzip, kDeflate };
  explicit Inflater(Mode m) : mode(m) {}
  ~Inflater() {
    if (started) inflateEnd(&z);
  }
  Mode mode;
  z_stream z{};
  bool started = false;
  bool seen = false;  // some compressed input arrived
  bool ended = false;
  std::string prefix;  // deflate: bytes held until the format is known

  bool Start(int window_bits) {
    started = inflateInit2(&z, window_bits) == Z_OK;
    return started;
  }
};

CHttpResponse::CHttpResponse() = default;
CHttpResponse::~CHttpResponse() = default;

void CHttpResponse::Reset() {
  header_.clear();
  header_bytes_ = 0;
  interim_ = 0;
  reading_header_ = true;
  complete_ = false;
  error_ = 0;
  keep_connection_ = true;
  overrun_ = false;
  chunked_ = false;
  chunk_state_ = Chunk::kSize;
  chunk_size_ = 0;
  chunk_pos_ = 0;
  chunk_line_.clear();
  inflater_.reset();
  data_.reset();
  body_size_ = 0;
  spool_.reset();
  in_file_ = false;
  received_ = 0;
  expected_ = -1;
  capacity_ = 0;
}

bool CHttpResponse::Failed(int32_t code) {
  if (error_ == 0) error_ = code;
  return false;
}

void CHttpResponse::Fail(int32_t code) {
  Failed(code);
}

bool CHttpResponse::Feed(const char* p, size_t n) {
  while (n > 0) {
    if (error_ != 0) return false;
    if (complete_) {
      // Bytes past a complete response: whatever they are, they would be read as the next
      // response, so the connection must not serve another request.
      overrun_ = true;
      keep_connection_ = false;
      return true;
    }
    if (reading_header_) {
      if (!FeedHeaderByte(*p)) return false;
      ++p, --n;
      continue;
    }
    size_t used = 0;
    if (!FeedBody(p, n, &used)) return false;
    p += used;
    n -= used;
  }
  return error_ == 0;
}

bool CHttpResponse::FeedHeaderByte(char b) {
  if (++header_bytes_ > kMaxHeaderBytes) return Failed(kHttpBadResponse);
  // Line breaks before a status line (after an interim response, say) are skipped.
  if (header_.empty() && (b == '\r' || b == '\n')) return true;
  header_ +=
      static_cast<wchar_t>(static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(b))));
  if (b != '\n') return true;
  size_t n = header_.size();
  bool end = (n >= 2 && header_[n - 2] == L'\n') ||
             (n >= 4 && header_.compare(n - 4, 4, L"\r\n\r\n") == 0);
  return end ? ProcessHeader() : true;
}

bool CHttpResponse::ProcessHeader() {
  int status = Status();
  if (status >= 100 && status <= 199) {
    // An interim response ("100 Continue", "103 Early Hints"): the final one follows.
    if (++interim_ > kMaxInterim) return Failed(kHttpBadResponse);
    header_.clear();
    return true;
  }
  auto te = Header(L"Transfer-Encoding");
  chunked_ = te && EqualsIgnoringAsciiCase(Trim(*te), L"chunked");
  int64_t announced = -1;
  if (!chunked_) {  // with chunks, the chunks give the length and Content-Length is ignored
    announced = AnnouncedLength(header_);
    if (announced == kLengthMalformed) return Failed(kHttpBadResponse);
    if (announced > INT32_MAX - 8) return Failed(kHttpTooLarge);
  }
  int32_t expected = static_cast<int32_t>(announced);
  auto conn = Header(L"Connection");
  keep_connection_ = !(conn && EqualsIgnoringAsciiCase(Trim(*conn), L"close"));
  if (status == 304 || status == 204) expected = 0;
  if (auto ce = Header(L"Content-Encoding")) {
    std::wstring_view v = Trim(*ce);
    if (EqualsIgnoringAsciiCase(v, L"gzip") || EqualsIgnoringAsciiCase(v, L"x-gzip")) {
      inflater_ = std::make_unique<Inflater>(Inflater::kGzip);
      if (!inflater_->Start(15 + 16)) return Failed(kHttpBadEncoding);
    } else if (EqualsIgnoringAsciiCase(v, L"deflate")) {
      inflater_ = std::make_unique<Inflater>(Inflater::kDeflate);
    }
  }
  expected_ = expected;
  reading_header_ = false;
  if (!inflater_ && expected > max_body_) return Failed(kHttpTooLarge);
  int64_t initial = expected >= 0 ? expected : 65536;
  initial = std::min(initial, kMaxInitialAlloc);
  if (spool_threshold_ > 0) initial = std::min(initial, spool_threshold_);
  if (!EnsureCapacity(initial)) return false;
  if (expected == 0) Finish();
  return true;
}

bool CHttpResponse::FeedBody(const char* p, size_t n, size_t* used) {
  if (chunked_) return FeedChunked(p, n, used);
  int64_t take = static_cast<int64_t>(n);
  int32_t expected = expected_;
  if (expected >= 0) take = std::min<int64_t>(take, expected - received_);
  if (received_ + take > INT32_MAX) return Failed(kHttpTooLarge);
  *used = static_cast<size_t>(take);  // bytes beyond the announced length are not ours
  received_ += static_cast<int32_t>(take);
  if (!Store(p, static_cast<size_t>(take))) return false;
  if (expected >= 0 && received_ >= expected) Finish();
  return true;
}

bool CHttpResponse::FeedChunked(const char* p, size_t n, size_t* used) {
  switch (chunk_state_) {
    case Chunk::kSize:
    case Chunk::kTrailer: {
      *used = 1;
      // Trailer lines count against the header limit, so endless trailers fail.
      if (chunk_state_ == Chunk::kTrailer && ++header_bytes_ > kMaxHeaderBytes) {
        return Failed(kHttpBadResponse);
      }
      if (*p != '\n') {
        chunk_line_ += *p;
        return chunk_line_.size() <= kMaxChunkLine ? true : Failed(kHttpBadResponse);
      }
      if (!chunk_line_.empty() && chunk_line_.back() == '\r') chunk_line_.pop_back();
      if (chunk_state_ == Chunk::kSize) return EndOfChunkSizeLine();
      if (chunk_line_.empty()) Finish();  // the empty line after the last chunk's trailer
      chunk_line_.clear();
      return true;
    }
    case Chunk::kData: {
      int64_t take = std::min<int64_t>(static_cast<int64_t>(n), chunk_size_ - chunk_pos_);
      *used = static_cast<size_t>(take);
      received_ += static_cast<int32_t>(take);
      chunk_pos_ += take;
      if (chunk_pos_ == chunk_size_) chunk_state_ = Chunk::kDataEnd;
      return Store(p, static_cast<size_t>(take));
    }
    case Chunk::kDataEnd:
      // The line break after a chunk's data.
      *used = 1;
      if (*p == '\r' && chunk_line_.empty()) {
        chunk_line_ = "\r";
        return true;
      }
      if (*p != '\n') return Failed(kHttpBadResponse);
      chunk_line_.clear();
      chunk_state_ = Chunk::kSize;
      return true;
  }
  return Failed(kHttpBadResponse);
}

// "1a", "1A ; name=value": hexadecimal digits, then optional blanks and an extension.
bool CHttpResponse::EndOfChunkSizeLine() {
  std::string line;
  line.swap(chunk_line_);
  size_t i = 0;
  int64_t size = 0;
  while (i < line.size() && HexValue(line[i]) >= 0) {
    size = size * 16 + HexValue(line[i++]);
    if (size > INT32_MAX) return Failed(kHttpBadResponse);
  }
  if (i == 0) return Failed(kHttpBadResponse);
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i < line.size() && line[i] != ';') return Failed(kHttpBadResponse);
  if (size == 0) {
    chunk_state_ = Chunk::kTrailer;
    return true;
  }
  int64_t total = static_cast<int64_t>(expected_ < 0 ? 0 : expected_.load()) + size;
  if (total > INT32_MAX) return Failed(kHttpTooLarge);
  expected_ = static_cast<int32_t>(total);
  chunk_size_ = size;
  chunk_pos_ = 0;
  chunk_state_ = Chunk::kData;
  return true;
}

// Body bytes as framed: decoded when the server compressed them, then kept.
bool CHttpResponse::Store(const char* p, size_t n) {
  if (!inflater_) return StoreDecoded(p, n);
  Inflater& inf = *inflater_;
  if (inf.ended || n == 0) return true;  // bytes after the compressed stream are ignored
  inf.seen = true;
  if (!inf.started) {
    // deflate: a zlib header (CM 8, check bits) or raw deflate data.
    size_t want = std::min<size_t>(n, 2 - inf.prefix.size());
    inf.prefix.append(p, want);
    p += want;
    n -= want;
    if (inf.prefix.size() < 2) return true;
    unsigned b0 = static_cast<unsigned char>(inf.prefix[0]);
    unsigned b1 = static_cast<unsigned char>(inf.prefix[1]);
    bool zlib = (b0 & 0x0F) == 8 && (b0 * 256 + b1) % 31 == 0;
    if (!inf.Start(zlib ? 15 : -15)) return Failed(kHttpBadEncoding);
    std::string prefix;
    prefix.swap(inf.prefix);
    if (!Store(prefix.data(), prefix.size())) return false;
    return Store(p, n);
  }
  char out[64 * 1024];
  inf.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
  inf.z.avail_in = static_cast<uInt>(n);
  do {
    inf.z.next_out = reinterpret_cast<Bytef*>(out);
    inf.z.avail_out = sizeof out;
    int r = inflate(&inf.z, Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) return Failed(kHttpBadEncoding);
    if (!StoreDecoded(out, sizeof out - inf.z.avail_out)) return false;
    if (r == Z_STREAM_END) {
      inf.ended = true;
      break;
    }
    if (r == Z_BUF_ERROR) break;
  } while (inf.z.avail_in > 0 || inf.z.avail_out == 0);
  return true;
}

bool CHttpResponse::StoreDecoded(const char* p, size_t n) {
  if (n == 0) return true;
  if (body_size_ + static_cast<int64_t>(n) > max_body_ ||
      body_size_ + static_cast<int64_t>(n) > INT32_MAX - 8) {
    return Failed(kHttpTooLarge);
  }
  if (!spool_ && spool_threshold_ > 0 && body_size_ + static_cast<int64_t>(n) > spool_threshold_) {
    spool_ = CSpoolFile::Create();
    if (!spool_ || !spool_->Append(Body())) return Failed(kHttpSpoolFailed);
    in_file_ = true;
    data_.reset();
    capacity_ = 0;
  }
  if (spool_) {
    if (!spool_->Append(std::string_view(p, n))) return Failed(kHttpSpoolFailed);
    body_size_ += static_cast<int64_t>(n);
    return true;
  }
  if (!EnsureCapacity(body_size_ + static_cast<int64_t>(n))) return false;
  std::memcpy(data_.get() + body_size_, p, n);
  body_size_ += static_cast<int64_t>(n);
  return true;
}

bool CHttpResponse::EnsureCapacity(int64_t bytes) {
  int64_t have = capacity_.load();
  if (data_ && bytes <= have) return true;
  int64_t size = std::max<int64_t>({bytes, have + have / 2, 4096});
  size = std::min<int64_t>(size,
                           std::max<int64_t>(bytes, std::min<int64_t>(max_body_, INT32_MAX - 8)));
  std::unique_ptr<char[]> grown(new (std::nothrow) char[static_cast<size_t>(size) + 4]);
  if (!grown) return Failed(kHttpTooLarge);
  if (data_ && body_size_ > 0) std::memcpy(grown.get(), data_.get(), body_size_);
  std::memset(grown.get() + std::min(body_size_, size), 0, 4);
  data_ = std::move(grown);
  capacity_ = static_cast<int32_t>(size);
  return true;
}

void CHttpResponse::Finish() {
  // A compressed stream that stops before its end is as incomplete as a short body.
  if (inflater_ && inflater_->seen && !inflater_->ended) {
    Failed(kHttpBadEncoding);
    return;
  }
  if (in_file_) {
    spool_->Finish();
  } else {
    if (!data_) EnsureCapacity(0);
    if (data_) std::memset(data_.get() + body_size_, 0, 4);
  }
  complete_ = true;
}

void CHttpResponse::Closed() {
  if (complete_ || error_ != 0) return;
  if (!reading_header_ && !chunked_ && expected_ == -1) {
    Finish();  // a body without length ends with the connection
    return;
  }
  Failed(kHttpTruncated);
}

void CHttpResponse::AdoptBody(std::string bytes) {
  Reset();
  reading_header_ = false;
  if (!EnsureCapacity(static_cast<int64_t>(bytes.size()))) return;
  std::memcpy(data_.get(), bytes.data(), bytes.size());
  body_size_ = static_cast<int64_t>(bytes.size());
  received_ = expected_ = capacity_ = static_cast<int32_t>(bytes.size());
  Finish();
}

std::shared_ptr<CSpoolFile> CHttpResponse::TakeSpool() {
  return std::move(spool_);
}

bool CHttpResponse::BadStart() const {
  static constexpr std::wstring_view kStart = L"HTTP/";
  size_t n = std::min(header_.size(), kStart.size());
  return n > 0 && std::wstring_view(header_).substr(0, n) != kStart.substr(0, n);
}

int CHttpResponse::Status() const {
  if (header_.size() < 5 || header_.compare(0, 4, L"HTTP") != 0) return 0;
  size_t eol = header_.find(L'\n');
  size_t sp = header_.find(L' ', 4);
  if (sp == std::wstring::npos || sp > eol) return 0;
  size_t i = sp + 1;
  while (i < header_.size() && (header_[i] == L' ' || header_[i] == L'\t')) ++i;
  int v = 0;
  while (i < header_.size() && header_[i] >= L'0' && header_[i] <= L'9' && v < 100000) {
    v = v * 10 + (header_[i++] - L'0');
  }
  return v;
}

std::vector<std::wstring_view> HeaderFields(std::wstring_view h, std::wstring_view name) {
  std::vector<std::wstring_view> values;
  size_t pos = 0;
  while (pos < h.size()) {
    size_t eol = h.find(L"\r\n", pos);
    if (eol == std::wstring_view::npos) break;
    std::wstring_view line = h.substr(pos, eol - pos);
    pos = eol + 2;
    size_t colon = line.find(L':');
    if (colon == std::wstring_view::npos) continue;
    if (!EqualsIgnoringAsciiCase(line.substr(0, colon), name)) continue;
    size_t v = colon + 1;
    while (v < line.size() && (line[v] == L' ' || line[v] == L'\t')) ++v;
    values.push_back(line.substr(v));
  }
  return values;
}

std::optional<std::wstring> HeaderField(std::wstring_view h, std::wstring_view name) {
  std::vector<std::wstring_view> values = HeaderFields(h, name);
  if (values.empty()) return std::nullopt;
  return std::wstring(values.front());
}

}  // namespace gm
