#include <algorithm>

#include "engine/paging.h"

namespace gm {
namespace {
void ReplaceAll(std::wstring* s, std::wstring_view from, const std::wstring& to) {
  for (size_t pos = 0; (pos = s->find(from, pos)) != std::wstring::npos; pos += to.size()) {
    s->replace(pos, from.size(), to);
  }
}
}  // namespace

std::optional<std::wstring> NextPagingScript(const CAutoPage& p, PagingPosition* position) {
  const long long n = static_cast<long long>(p.scripts.size());
  if (n == 0) return std::nullopt;
  long long pass = position->pass;
  long long i = position->scriptIndex;
  const long long maxpass = p.maxpass;
  for (;;) {
    const bool from_start = i == 0;
    const bool last_pass = pass >= maxpass - 1;
    long long end;
    if (pass == 0) {
      i = std::max<long long>(i, p.skipfirst);
      end = n - p.skiplast;
    } else {
      i = std::max<long long>(i, p.onlyfirst);
      end = n - p.onlylast;
    }
    if (i >= end) i = n;
    if (last_pass) {
      i = std::max<long long>(i, p.skipfirst2);
      end = n - p.skiplast2;
    } else {
      i = std::max<long long>(i, p.onlyfirst2);
      end = n - p.onlylast2;
    }
    if (i >= end) i = n;
    if (i < n) {
      std::wstring script = p.scripts[static_cast<size_t>(i)];
      position->pass = static_cast<int>(pass);
      position->scriptIndex = static_cast<int>(i + 1);
      std::wstring current = std::to_wstring(pass + 1), next = std::to_wstring(pass + 2);
      ReplaceAll(&script, L"{PN0}", current);
      ReplaceAll(&script, L"{CRN}", current);
      ReplaceAll(&script, L"{PN1}", next);
      ReplaceAll(&script, L"{NRN}", next);
      return script;
    }
    // The pass is over. Passes after the first follow one set of rules while they are not the
    // last and another once they are, so a pass after the first that selects nothing from its
    // start tells the same of every later pass of its kind: the middle passes are skipped, and
    // after a last pass that selects nothing none ever will (the rules would spin for ever).
    long long next = pass + 1;
    if (from_start && pass >= 1) {
      if (!last_pass) {
        next = maxpass - 1;
      } else if (p.repeat != 0 && maxpass == 0) {
        position->pass = static_cast<int>(next);
        position->scriptIndex = 0;
        return std::nullopt;
      }
    }
    pass = next;
    i = 0;
    position->pass = static_cast<int>(pass);
    position->scriptIndex = 0;
    if (p.repeat == 0) return std::nullopt;
    if (maxpass != 0 && pass >= maxpass) return std::nullopt;
  }
}

bool WasLastScript(const CAutoPage& paging, const PagingPosition& position) {
  return position.scriptIndex == static_cast<int>(paging.scripts.size());
}

}  // namespace gm
