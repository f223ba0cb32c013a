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
  const int n = static_cast<int>(p.scripts.size());
  if (n == 0) return std::nullopt;
  int pass = position->pass;
  int i = position->scriptIndex;
  // At most three kinds of pass exist (first, middle, last); a bound keeps settings that select
  // no script in any pass from spinning.
  for (int guard = 0; guard < 4; ++guard) {
    int end;
    if (pass == 0) {
      i = std::max(i, p.skipfirst);
      end = n - p.skiplast;
    } else {
      i = std::max(i, p.onlyfirst);
      end = n - p.onlylast;
    }
    if (i >= end) i = n;
    bool last_pass = pass >= p.maxpass - 1;
    if (last_pass) {
      i = std::max(i, p.skipfirst2);
      end = n - p.skiplast2;
    } else {
      i = std::max(i, p.onlyfirst2);
      end = n - p.onlylast2;
    }
    if (i >= end) i = n;
    if (i < n) {
      std::wstring script = p.scripts[i];
      position->pass = pass;
      position->scriptIndex = i + 1;
      std::wstring current = std::to_wstring(pass + 1), next = std::to_wstring(pass + 2);
      ReplaceAll(&script, L"{PN0}", current);
      ReplaceAll(&script, L"{CRN}", current);
      ReplaceAll(&script, L"{PN1}", next);
      ReplaceAll(&script, L"{NRN}", next);
      return script;
    }
    // Passes between the first and the last follow the same rules: when one of them selects
    // nothing, so do the others, and the next pass that can differ is the last.
    int next = pass + 1;
    if (pass >= 1 && !last_pass && p.maxpass > 0) next = std::max(next, p.maxpass - 1);
    pass = next;
    i = 0;
    position->pass = pass;
    position->scriptIndex = 0;
    if (p.repeat == 0) return std::nullopt;
    if (p.maxpass != 0 && pass >= p.maxpass) return std::nullopt;
  }
  // The rules select no script in any pass: paging ends rather than looping for ever.
  return std::nullopt;
}

bool WasLastScript(const CAutoPage& paging, const PagingPosition& position) {
  return position.scriptIndex == static_cast<int>(paging.scripts.size());
}

}  // namespace gm
