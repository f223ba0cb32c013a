// Error codes of an HTTP transaction and their one-line descriptions. Any thread.
#pragma once

#include <cstdint>

namespace gm {

enum HttpError : int32_t {
  kHttpOk = 0,
  kHttpSocketLibrary = -1,  // the socket library could not be started (unused here)
  kHttpEventFailed = -3,    // the wake-up descriptors could not be created
  kHttpBadAddress = -4,     // invalid or unsupported address, or the local file cannot be read
  kHttpResolveFailed = -5,  // the server's name could not be resolved
  kHttpSocketError = -6,    // socket error while waiting or reading
  kHttpSocketFailed = -7,   // the socket could not be created
  kHttpConnectFailed = -8,  // the connection to the server failed
  kHttpSelectFailed = -9,   // the socket could not be made non-blocking
  kHttpWaitFailed = -10,    // the wait for events failed
  kHttpTimeout = -11,       // no network event within the time-out, or the transfer too slow
  kHttpAborted = -12,       // Stop() ended the transfer
  kHttpTlsFailed = -13,     // TLS handshake failed or the certificate or host name did not verify
  kHttpTruncated = -14,     // the connection ended before the response was complete
  kHttpBadResponse = -15,   // malformed response: chunk sizes, endless header or interim replies
  kHttpTooLarge = -16,      // the body is larger than the limit
  kHttpBadEncoding = -17,   // a compressed body that does not decode
  kHttpRedirectRefused = -18,   // a redirection to an address that may not be followed
  kHttpTooManyRedirects = -19,  // more redirections than the limit
  kHttpSpoolFailed = -20,       // the temporary file for a large body could not be written
};

// "time-out", "the body is incomplete", ...; "failed" for unknown codes.
const char* HttpErrorText(int32_t code);

}  // namespace gm
