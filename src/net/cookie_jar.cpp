#include "net/cookie_jar.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <sstream>

#include "doc/app_paths.h"
#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "net/url.h"

namespace gm {

namespace {

const char kHttpOnlyPrefix[] = "#HttpOnly_";

std::string Lower(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

bool IsIpAddress(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;
  return !host.empty() && std::all_of(host.begin(), host.end(),
                                      [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

bool DomainMatches(const CCookie& c, std::string_view host) {
  if (host == c.domain) return true;
  if (c.host_only || host.size() <= c.domain.size()) return false;
  return host.ends_with(c.domain) && host[host.size() - c.domain.size() - 1] == '.' &&
         !IsIpAddress(host);
}

bool PathMatches(std::string_view cookie_path, std::string_view request_path) {
  if (!request_path.starts_with(cookie_path)) return false;
  if (request_path.size() == cookie_path.size()) return true;
  return cookie_path.ends_with('/') || request_path[cookie_path.size()] == '/';
}

bool StatFile(const std::wstring& path, int64_t* mtime_ns, int64_t* size) {
  struct stat st {};
  if (stat(ToUtf8(path).c_str(), &st) != 0) return false;
  *mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  *size = static_cast<int64_t>(st.st_size);
  return true;
}

}  // namespace

int64_t ParseHttpDate(std::string_view s) {
  static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                  "jul", "aug", "sep", "oct", "nov", "dec"};
  int day = -1, month = -1, year = -1, hh = -1, mm = -1, ss = -1;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && !std::isalnum(static_cast<unsigned char>(s[i]))) ++i;
    size_t j = i;
    while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == ':')) ++j;
    std::string tok = Lower(s.substr(i, j - i));
    i = j;
    if (tok.empty()) continue;
    int a, b, c;
    if (hh < 0 && std::sscanf(tok.c_str(), "%d:%d:%d", &a, &b, &c) == 3) {
      hh = a, mm = b, ss = c;
    } else if (std::isdigit(static_cast<unsigned char>(tok[0]))) {
      int v = std::atoi(tok.c_str());
      if (day < 0 && tok.size() <= 2) {
        day = v;
      } else if (year < 0) {
        year = v;
      }
    } else if (month < 0 && tok.size() >= 3) {
      for (int m = 0; m < 12; ++m) {
        if (tok.compare(0, 3, kMonths[m]) == 0) month = m;
      }
    }
  }
  if (year >= 0 && year < 70) year += 2000;
  if (year >= 70 && year < 100) year += 1900;
  if (day < 1 || day > 31 || month < 0 || year < 1601 || hh < 0 || hh > 23 || mm > 59 || ss > 59) {
    return -1;
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month;
  tm.tm_mday = day;
  tm.tm_hour = hh;
  tm.tm_min = mm;
  tm.tm_sec = ss;
  return static_cast<int64_t>(timegm(&tm));
}

int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

CCookieJar::CCookieJar(std::wstring path) : path_(std::move(path)) {}

CCookieJar& CCookieJar::Default() {
  static CCookieJar* jar = new CCookieJar(DataFolder() + L"/cookies.txt");
  return *jar;
}

void CCookieJar::ReloadIfChangedLocked() {
  if (path_.empty()) return;
  int64_t mtime = -1, size = -1;
  if (!StatFile(path_, &mtime, &size)) {
    if (loaded_mtime_ns_ != -1) cookies_.clear();
    loaded_mtime_ns_ = loaded_size_ = -1;
    return;
  }
  if (mtime == loaded_mtime_ns_ && size == loaded_size_) return;
  std::string bytes;
  if (!ReadFileBytes(path_, &bytes)) return;
  loaded_mtime_ns_ = mtime;
  loaded_size_ = size;
  cookies_.clear();
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool http_only = false;
    if (line.starts_with(kHttpOnlyPrefix)) {
      http_only = true;
      line.erase(0, sizeof(kHttpOnlyPrefix) - 1);
    } else if (line.empty() || line[0] == '#') {
      continue;
    }
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (f.size() < 6) continue;
    if (f.size() == 6) f.emplace_back();
    CCookie c;
    c.domain = Lower(f[0]);
    c.host_only = Lower(f[1]) != "true";
    if (c.domain.starts_with('.')) {
      c.domain.erase(0, 1);
      c.host_only = false;
    }
    c.path = f[2].empty() ? "/" : f[2];
    c.secure = Lower(f[3]) == "true";
    c.expires = std::atoll(f[4].c_str());
    c.name = f[5];
    c.value = f[6];
    c.http_only = http_only;
    c.last_used = ++use_clock_;  // the file lists older cookies first
    if (!c.domain.empty()) cookies_.push_back(std::move(c));
  }
}

void CCookieJar::SaveLocked() {
  if (path_.empty()) return;
  std::string out = "# Netscape HTTP Cookie File\n";
  for (const auto& c : cookies_) {
    if (c.http_only) out += kHttpOnlyPrefix;
    out += (c.host_only ? "" : ".") + c.domain + '\t' + (c.host_only ? "FALSE" : "TRUE") + '\t' +
           c.path + '\t' + (c.secure ? "TRUE" : "FALSE") + '\t' + std::to_string(c.expires) + '\t' +
           c.name + '\t' + c.value + '\n';
  }
  size_t slash = path_.rfind(L'/');
  if (slash != std::wstring::npos) MakeFolders(path_.substr(0, slash));
  if (WriteFileAtomically(path_, out)) StatFile(path_, &loaded_mtime_ns_, &loaded_size_);
}

void CCookieJar::StoreLocked(CCookie cookie, int64_t now) {
  ReloadIfChangedLocked();
  auto same = [&](const CCookie& c) {
    return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
  };
  std::erase_if(cookies_, same);
  if (cookie.expires == 0 || cookie.expires > now) {
    cookie.last_used = ++use_clock_;
    cookies_.push_back(std::move(cookie));
    EvictLocked(now);
  }
  SaveLocked();
}

void CCookieJar::EvictLocked(int64_t now) {
  std::erase_if(cookies_, [now](const CCookie& c) { return c.expires != 0 && c.expires <= now; });
  // The least recently used cookie among those `in_group` selects, removed while more than
  // `limit` of them remain.
  auto trim = [this](size_t limit, auto in_group) {
    size_t count = static_cast<size_t>(std::count_if(cookies_.begin(), cookies_.end(), in_group));
    while (count > limit) {
      auto oldest = cookies_.end();
      for (auto it = cookies_.begin(); it != cookies_.end(); ++it) {
        if (in_group(*it) && (oldest == cookies_.end() || it->last_used < oldest->last_used)) {
          oldest = it;
        }
      }
      cookies_.erase(oldest);
      --count;
    }
  };
  const std::string domain = cookies_.empty() ? std::string() : cookies_.back().domain;
  trim(kMaxPerDomain, [&domain](const CCookie& c) { return c.domain == domain; });
  trim(kMaxCookies, [](const CCookie&) { return true; });
}

void CCookieJar::Add(const CCookie& cookie) {
  std::lock_guard<std::mutex> lock(mu_);
  StoreLocked(cookie, UnixNow());
}

bool CCookieJar::SetFromHeader(std::wstring_view url, std::string_view set_cookie, int64_t now) {
  CHttpAddress a;
  if (!ParseHttpAddress(url, &a) || a.host.empty()) return false;
  std::string host = Lower(ToUtf8(a.host));
  std::string request_path = ToUtf8(a.path.substr(0, a.path.find(L'?')));

  size_t semi = set_cookie.find(';');
  std::string_view pair = Trim(set_cookie.substr(0, semi));
  size_t eq = pair.find('=');
  if (eq == std::string_view::npos) return false;
  CCookie c;
  c.name = std::string(Trim(pair.substr(0, eq)));
  c.value = std::string(Trim(pair.substr(eq + 1)));
  if (c.name.empty()) return false;
  c.domain = host;
  size_t last_slash = request_path.rfind('/');
  c.path = (last_slash == std::string::npos || last_slash == 0)
               ? "/"
               : request_path.substr(0, last_slash);
  bool have_max_age = false;
  while (semi != std::string_view::npos) {
    size_t next = set_cookie.find(';', semi + 1);
    std::string_view attr = Trim(set_cookie.substr(
        semi + 1, next == std::string_view::npos ? std::string_view::npos : next - semi - 1));
    semi = next;
    size_t aeq = attr.find('=');
    std::string key = Lower(Trim(attr.substr(0, aeq)));
    std::string_view val = aeq == std::string_view::npos ? "" : Trim(attr.substr(aeq + 1));
    if (key == "domain" && !val.empty()) {
      std::string d = Lower(val);
      if (d.starts_with('.')) d.erase(0, 1);
      if (d.empty()) continue;
      CCookie probe;
      probe.domain = d;
      probe.host_only = false;
      if (!DomainMatches(probe, host)) return false;
      if (d != host && d.find('.') == std::string::npos) return false;  // a bare top-level name
      c.domain = d;
      c.host_only = false;
    } else if (key == "path" && val.starts_with('/')) {
      c.path = std::string(val);
    } else if (key == "secure") {
      c.secure = true;
    } else if (key == "httponly") {
      c.http_only = true;
    } else if (key == "max-age" && !val.empty()) {
      have_max_age = true;
      int64_t seconds = std::atoll(std::string(val).c_str());
      c.expires = seconds <= 0 ? 1 : now + seconds;
    } else if (key == "expires" && !have_max_age) {
      int64_t t = ParseHttpDate(val);
      if (t >= 0) c.expires = t <= 0 ? 1 : t;
    }
  }
  if (c.secure && a.scheme != L"https") return false;
  std::lock_guard<std::mutex> lock(mu_);
  StoreLocked(std::move(c), now);
  return true;
}

std::string CCookieJar::CookieHeader(std::wstring_view url, int64_t now) {
  CHttpAddress a;
  if (!ParseHttpAddress(url, &a) || a.host.empty()) return {};
  std::string host = Lower(ToUtf8(a.host));
  std::string path = ToUtf8(a.path.substr(0, a.path.find(L'?')));
  bool secure = a.scheme == L"https";
  std::lock_guard<std::mutex> lock(mu_);
  ReloadIfChangedLocked();
  std::vector<CCookie*> hits;
  for (auto& c : cookies_) {
    if (c.expires != 0 && c.expires <= now) continue;
    if (c.secure && !secure) continue;
    if (!DomainMatches(c, host) || !PathMatches(c.path, path)) continue;
    hits.push_back(&c);
  }
  std::stable_sort(hits.begin(), hits.end(), [](const CCookie* x, const CCookie* y) {
    return x->path.size() > y->path.size();
  });
  std::string out;
  for (CCookie* c : hits) {
    c->last_used = ++use_clock_;
    if (!out.empty()) out += "; ";
    out += c->name + "=" + c->value;
  }
  return out;
}

std::vector<CCookie> CCookieJar::All() {
  std::lock_guard<std::mutex> lock(mu_);
  ReloadIfChangedLocked();
  return cookies_;
}

void CCookieJar::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  cookies_.clear();
  SaveLocked();
}

}  // namespace gm
