// One run of a task shared by many workers (processes, on one machine or many): the run's
// top-level addresses are handed out one at a time, each worker works the addresses it is given
// (with their nested pages, paging and clicks) and reports each one done once its records are
// committed. An address whose worker died is handed out again after a lease, so the records of
// an address may be met twice; the run keys decide which records are written.
//
// The engine knows only this interface; the implementation on Redis is in src/queue.
//
// Threads: an object belongs to the runner thread of its worker.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace gm {

// A top-level address handed to this worker.
struct SharedAddress {
  long long index = 0;   // its place in the address sequence (the start address is 0)
  std::wstring address;  // the address to open
  std::string ticket;    // what the shared run knows this hand-out by (stable across hand-outs)
};

// What the shared run says about a record's run key. A key says itself how it is judged: one
// that starts with "r:" (the task's rule replaces an earlier record with the same key) belongs
// to the address latest in the sequence that gave it, any other one to the first address that
// claimed it.
enum class SharedKeyVerdict {
  kNew,        // first met: the record is written
  kDuplicate,  // another address's record had the key: the record is dropped
  // An "r:" key that an address earlier in the sequence had: the record is written, replacing
  // that one's.
  kReplace,
  // An earlier hand-out of the same address met it (its worker died before the address was
  // done): it may or may not have reached the outputs, which write it unless they hold it.
  kMetBefore,
};

class CSharedRun {
 public:
  virtual ~CSharedRun() = default;
  // Puts the run's addresses in, once for the whole run: the first worker to get here calls
  // `addresses` and puts its answer in; the others wait until it has. False when the shared run
  // cannot be used (the reason was reported).
  virtual bool Fill(const std::function<std::vector<std::wstring>()>& addresses) = 0;
  // The next address for this worker; with `wait`, waits while other workers still hold
  // addresses that may come back, and nothing means the run is complete, was stopped or failed.
  // Without, only an address that can be had at once (to download it ahead).
  virtual std::optional<SharedAddress> Take(bool wait) = 0;
  // The verdict on each of the run keys of the records that `page` gave (in order).
  virtual std::vector<SharedKeyVerdict> ClaimKeys(const SharedAddress& page,
                                                  const std::vector<std::string>& keys) = 0;
  // Every record of `page` is committed and written (`written` of them were new): the address is
  // done and is not handed out again.
  virtual bool Done(const SharedAddress& page, int written) = 0;
  // The worker is still at `page` (a long page with many nested pages): the lease of every
  // address it holds (`page` and the one taken ahead) starts again. Called often; the
  // implementation decides how often it tells the others.
  virtual void StillWorking(const SharedAddress& page) = 0;
  // The worker stops without finishing `page`: the others may take it at once.
  virtual void GiveBack(const SharedAddress& page) = 0;
};

}  // namespace gm
