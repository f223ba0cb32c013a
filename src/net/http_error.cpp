#include "net/http_error.h"

namespace gm {

const char* HttpErrorText(int32_t code) {
  switch (code) {
    case kHttpOk:
      return "completed";
    case kHttpEventFailed:
      return "could not create the wake-up descriptors";
    case kHttpBadAddress:
      return "invalid or unsupported address, or the file cannot be read";
    case kHttpResolveFailed:
      return "the server's name could not be resolved";
    case kHttpSocketError:
      return "socket error";
    case kHttpSocketFailed:
      return "could not create a socket";
    case kHttpConnectFailed:
      return "the connection to the server failed";
    case kHttpSelectFailed:
      return "could not set up the socket";
    case kHttpWaitFailed:
      return "waiting for the network failed";
    case kHttpTimeout:
      return "time-out";
    case kHttpAborted:
      return "aborted";
    case kHttpTlsFailed:
      return "TLS handshake or certificate verification failed";
    case kHttpTruncated:
      return "the response is incomplete: the connection ended early";
    case kHttpBadResponse:
      return "malformed response";
    case kHttpTooLarge:
      return "the body is larger than the size limit";
    case kHttpBadEncoding:
      return "the compressed body could not be decoded";
    case kHttpRedirectRefused:
      return "redirection to a local or unsupported address refused";
    case kHttpTooManyRedirects:
      return "too many redirections";
    case kHttpSpoolFailed:
      return "could not write the temporary file for a large body";
    default:
      return "failed";
  }
}

}  // namespace gm
