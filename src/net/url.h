// Addresses: the HTTP client's address parsing, form encoding and the combination of a relative
// address with the address of the page it appears on. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gm {

// The parts of an address as the HTTP client uses them.
struct CHttpAddress {
  std::wstring scheme;  // lower case for "scheme://" forms; "file" for local paths
  std::wstring host;    // host name or dotted address; empty for local files
  std::wstring path;    // path and query as sent in the request line; the file path for "file"
  uint16_t port = 80;   // 80 (http), 443 (https) unless the address names one; 0 for local paths
};

// Splits an address into scheme, host, port and path. Accepts "scheme://host[:port][/path]",
// a drive path ("C:/dir/file") and an absolute local path ("/dir/file"), the latter two as the
// "file" scheme with "%20" read as a space. A host may be followed directly by "?" (the path is
// then "/?..."); a fragment ("#...") is never part of the path. False for anything else,
// including a port that is not 1 to 5 digits of a number from 1 to 65535.
bool ParseHttpAddress(std::wstring_view address, CHttpAddress* out);

// Whether `address` is an absolute http or https address with a host: what may be taken from
// a source that anyone else can write to (a shared run's queue). False for local files and
// every other scheme.
bool IsWebAddress(std::wstring_view address);

// Form encoding: the text in the legacy code page (a character it cannot hold as a decimal
// character reference, "&#128512;", as browsers send it); digits and ASCII letters stay, a space
// becomes "+", every other byte "%XX" (upper-case hexadecimal).
std::wstring UrlEncode(std::wstring_view text);
// The same rule over bytes as they are, without a code-page conversion.
std::wstring UrlEncodeBytes(std::string_view bytes);

// Resolves `relative` against `base` as a browser does: surrounding white space is trimmed, tabs
// and line breaks inside are dropped, backslashes in the path count as slashes, spaces become
// "%20", and characters that are not allowed in addresses (non-ASCII letters, quotes, braces)
// are kept as they are. An absolute `relative` is returned normalised in the same way. False
// when neither gives an absolute address.
bool CombineUrl(std::wstring_view base, std::wstring_view relative, std::wstring* out);

// Whether a page at `page_address` may load `target` (a frame, a linked page or file, a
// script; relative targets resolved against the page first): local files only for a page that
// is itself a local file. A page without an address, or with one that is not a web or file
// address (about:blank, javascript:, data:), counts as not local.
bool PageMayLoad(std::wstring_view page_address, std::wstring_view target);

}  // namespace gm
