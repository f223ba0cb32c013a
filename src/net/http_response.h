// CHttpResponse: the receiving half of one HTTP transaction. It reads the response from the
// bytes the connection delivers, in one pass: the status line and header fields (interim 1xx
// responses are skipped), then the body as the header frames it (a length, chunks, or up to the
// server's close), decoded when the server compressed it (gzip, deflate). The body is kept in
// memory followed by 4 zero bytes, or, above a threshold, in a temporary file.
//
// Every response ends in one of three ways: complete, still waiting for bytes, or failed with an
// error code (a body cut short, malformed framing, a body above the size limit, a compressed
// body that does not decode). Limits bound what any server can make it hold.
//
// Threads: one thread feeds it (the client's worker); others may read received(), expected()
// and capacity() at any time. Everything else is read only once the response is complete or
// failed and no thread feeds it any more.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gm {

class CSpoolFile;

// In a response header text: the value of the first "Name: value" line (ended by CR LF) whose
// name equals `name`, case ignored, without leading blanks; nullopt when no line matches.
std::optional<std::wstring> HeaderField(std::wstring_view header_text, std::wstring_view name);
// The values of every such line, in order (views into header_text).
std::vector<std::wstring_view> HeaderFields(std::wstring_view header_text, std::wstring_view name);

class CHttpResponse {
 public:
  // Pages: a body above this many bytes fails unless the limit is raised.
  static constexpr int64_t kDefaultMaxBody = 32ll << 20;

  CHttpResponse();
  ~CHttpResponse();
  CHttpResponse(const CHttpResponse&) = delete;
  CHttpResponse& operator=(const CHttpResponse&) = delete;

  // The largest body (after decoding) a response may have; from the next Reset on.
  void SetMaxBody(int64_t bytes) { max_body_ = bytes; }
  int64_t MaxBody() const { return max_body_; }
  // Bodies above this many bytes go to a temporary file; 0 keeps every body in memory.
  void SetSpoolThreshold(int64_t bytes) { spool_threshold_ = bytes; }

  // Forgets the last response; the next bytes fed begin a new one.
  void Reset();
  // Feeds received bytes. False once the response has failed (error() tells why); bytes after
  // a complete response are ignored.
  bool Feed(const char* p, size_t n);
  // The connection ended: a body that runs to the close is complete; anything else unfinished
  // fails as truncated.
  void Closed();
  // A local file's content as the whole, complete body.
  void AdoptBody(std::string bytes);
  // Fails the response with `code` (the caller's own reasons, such as a time-out).
  void Fail(int32_t code);

  bool complete() const { return complete_; }
  int32_t error() const { return error_; }
  bool reading_header() const { return reading_header_; }
  // No byte of a response has arrived yet.
  bool nothing_received() const { return header_bytes_ == 0 && header_.empty(); }
  // False when the server asked to close, or when bytes arrived past the complete response
  // (they would be taken for the next response on this connection).
  bool keep_connection() const { return keep_connection_; }
  bool overrun() const { return overrun_; }
  // The bytes received so far cannot begin a status line ("HTTP/"): on a reused connection,
  // the sign of a stray answer to an earlier request.
  bool BadStart() const;

  // The final response's header, from its status line to the empty line; bytes 0x80-0xFF
  // appear as U+FF80-U+FFFF.
  const std::wstring& header() const { return header_; }
  // The number after the status line's first space; 0 when the header does not begin "HTTP".
  int Status() const;
  // HeaderField of the final response's header.
  std::optional<std::wstring> Header(std::wstring_view name) const {
    return HeaderField(header_, name);
  }

  // The body held in memory (empty when it went to a temporary file); Data() is followed by
  // 4 zero bytes.
  std::string_view Body() const { return {Data(), in_file_ ? 0 : static_cast<size_t>(body_size_)}; }
  const char* Data() const { return data_ ? data_.get() : kEmptyData; }
  int64_t BodySize() const { return body_size_; }
  bool Spooled() const { return in_file_; }
  // The temporary file with the body, handed over; null when the body is in memory.
  std::shared_ptr<CSpoolFile> TakeSpool();

  // Body bytes as framed on the wire, the length the header announced (-1: none), and the
  // memory buffer's size: for progress, readable from any thread.
  int32_t received() const { return received_.load(); }
  int32_t expected() const { return expected_.load(); }
  int32_t capacity() const { return capacity_.load(); }

 private:
  static constexpr char kEmptyData[4] = {0, 0, 0, 0};
  enum class Chunk { kSize, kData, kDataEnd, kTrailer };
  struct Inflater;

  bool FeedHeaderByte(char b);
  bool ProcessHeader();
  bool FeedBody(const char* p, size_t n, size_t* used);
  bool FeedChunked(const char* p, size_t n, size_t* used);
  bool EndOfChunkSizeLine();
  bool Store(const char* p, size_t n);
  bool StoreDecoded(const char* p, size_t n);
  bool EnsureCapacity(int64_t bytes);
  void Finish();
  bool Failed(int32_t code);

  int64_t max_body_ = kDefaultMaxBody;
  int64_t spool_threshold_ = 0;

  std::wstring header_;
  int64_t header_bytes_ = 0;  // every header byte of this response, interim ones included
  int interim_ = 0;           // interim responses skipped
  bool reading_header_ = true;
  bool complete_ = false;
  int32_t error_ = 0;
  bool keep_connection_ = true;
  bool overrun_ = false;

  bool chunked_ = false;
  Chunk chunk_state_ = Chunk::kSize;
  int64_t chunk_size_ = 0;
  int64_t chunk_pos_ = 0;
  std::string chunk_line_;

  std::unique_ptr<Inflater> inflater_;
  std::unique_ptr<char[]> data_;
  int64_t body_size_ = 0;
  std::shared_ptr<CSpoolFile> spool_;
  bool in_file_ = false;  // the body went to spool_ (which TakeSpool may have handed over)
  std::atomic<int32_t> received_{0};
  std::atomic<int32_t> expected_{-1};
  std::atomic<int32_t> capacity_{0};
};

}  // namespace gm
