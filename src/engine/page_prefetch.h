// CPagePrefetch: pages in flight. While the runner works on one page, the pages the walk will
// ask for next (the next top-level addresses, the nested links of the rows just analysed, the
// next-page link) are downloaded, decoded and (when small and without frames) parsed by a few
// worker threads. The runner then takes a page as if it had downloaded it itself: same request
// (address, referer, user agent, time-out, redirects), same status texts, same failures. The
// walk stays sequential and takes the pages in its own order, so what a run produces does not
// depend on how many pages are in flight.
//
// At most `slots` pages are in flight, and (but for the page the run waits for) at most that
// many held; each worker keeps one kept-alive connection, so a site never sees more than
// `slots` connections from a run's page loads. The window starts at two pages and widens while
// the run has to wait for its pages, so that a site that answers at once (where pages ahead
// would only compete with the walk for the processor) is not asked for more than the walk can
// use. A site that answers 429 or 503 gets its page asked again after the wait it asks for
// (FetchPolitely), and its window (how many of its pages may be in flight) is halved; it grows
// back by one for every kGrowAfter good answers.
//
// Threads: every public member is called by the runner thread. The workers (one per slot,
// started with the first page asked for and ended by the destructor) run the requests; they
// never touch the runner, the location tree or the page models. mu_ guards the plan (jobs_)
// and every job's state flags; a job's request fields are constant once it is in the plan, and
// its page belongs to its worker until done is set.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "page/dom.h"

namespace gm {

class CCookieJar;
class CHttpClient;

// Sets the process's allocator to keep freed memory for reuse instead of handing it back to the
// system at once, and to serve blocks up to 32 MiB from its heap: pages fetched and parsed by
// the workers and freed by the runner would otherwise be faulted in afresh, page after page.
// Call once at start, before threads are made.
void KeepFreedMemoryForPages();

// A page taken from the prefetch.
struct PrefetchedPage {
  std::wstring text;                       // the page text with the error silencer
  std::unique_ptr<CDomDocument> document;  // parsed, or null when the runner must parse
  std::wstring failure;                    // why the download failed, when it did
  std::vector<std::wstring> notes;         // status lines: a server that asked to wait, ...
};

// One page the run will ask for.
struct PageRequest {
  std::wstring url, referer;
  bool parse = true;  // parse the text too (false for pages whose frames the runner loads)
};

class CPagePrefetch {
 public:
  // Pages with more characters than this are parsed by the runner, where a stop can reach
  // the parse; smaller ones parse in well under a second.
  static constexpr size_t kParseAheadChars = 4u << 20;
  // A busy site's window grows back by one page for every so many good answers.
  static constexpr int kGrowAfter = 20;

  // Up to `slots` pages at once (at least 1), asked with the cookies of `jar` (the program's jar
  // when null) and `user_agent` (the client's default when empty).
  explicit CPagePrefetch(int slots = 1, CCookieJar* jar = nullptr, std::wstring user_agent = {});
  CPagePrefetch(const CPagePrefetch&) = delete;
  CPagePrefetch& operator=(const CPagePrefetch&) = delete;
  // Abandons every page and ends the workers.
  ~CPagePrefetch();

  // The pages the run will ask for next, in the order it will ask for them. Pages already
  // asked that are in the list keep what they have; the others are dropped (a transfer in
  // progress is cancelled). The first pages of the list are fetched, as many as the window
  // allows; each page taken makes room for the next.
  void Plan(const std::vector<PageRequest>& ahead);
  // One page needed now: it goes to the head of the plan (added when it is not there) and
  // starts as soon as fewer than the window of pages are in flight, even when the window is
  // full of pages held for later (none of them is given up for it).
  void Ask(const PageRequest& request);
  // Plan({url, referer, parse}): the single page of the next address.
  void Start(const std::wstring& url, const std::wstring& referer, bool parse) {
    Plan({{url, referer, parse}});
  }
  // More pages for the plan, put before the first page of `before` (at the end when the plan
  // does not hold it); pages already in the plan stay where they are.
  void Insert(const std::vector<PageRequest>& more, const std::wstring& before);
  // True when the plan holds this address.
  bool Holds(const std::wstring& url) const;
  // The text of the page of `url` when it has arrived and is not yet taken (it stays in the
  // plan); nothing while it is on its way, or when it failed.
  std::optional<std::wstring> ArrivedText(const std::wstring& url) const;

  enum class Result { kReady, kFailed, kStopped, kStale };
  // Waits for the page of `url` (asking for it first when it was not started) in slices of
  // 200 ms; between slices `should_stop` is asked with the transfer's progress in percent (a
  // stop abandons every page). kFailed: the transfer failed, the status was not 200, or the
  // plan does not hold the address. kStale: the cookies the page would be asked with changed
  // after it was requested (a detail page set one, say), so the runner must ask for it again.
  // The page leaves the plan in every case. `note` (may be empty) is told each of the page's
  // notes as soon as it is known.
  Result Take(const std::wstring& url, const std::function<bool(int percent)>& should_stop,
              PrefetchedPage* page, const std::function<void(const std::wstring&)>& note = {});
  // Cancels every page (transfers and parses within a fraction of a second) and waits until no
  // worker works on one.
  void Abandon();

 private:
  struct Job;
  using JobList = std::list<std::shared_ptr<Job>>;
  void WorkerMain(CHttpClient* client);
  // Under mu_: the job of this request, or end().
  JobList::iterator Find(const std::wstring& url, const std::wstring* referer);
  JobList::const_iterator Find(const std::wstring& url, const std::wstring* referer) const;
  // Under mu_: takes the job out of the plan, cancelling it when a worker has it.
  void Drop(JobList::iterator it);
  // Under mu_: jobs started and not yet taken or dropped, plus dropped ones still running.
  int Occupied() const;
  // Under mu_: jobs on the wire (started, not done), dropped ones included.
  int InFlight() const;
  // Under mu_: the first job of the plan a worker may start now: while fewer than the window
  // are held or in flight; a job the run waits for also beyond that, while fewer than the
  // window are in flight. Null when there is none.
  Job* Startable();
  // Under mu_: the workers are started once there is something to fetch.
  void StartWorkers();
  // Under mu_: wakes as many idle workers as there are jobs they may start now.
  void WakeWorkers();
  // A site's window: how many of its pages may be in flight, and how many are.
  struct HostWindow {
    int window = 1;
    int good = 0;  // good answers since the window last changed
    int running = 0;
  };
  // Under mu_: the window of the job's site (made at full size).
  HostWindow& HostOf(const Job& job);
  // Worker thread: one job, with the retries a busy site asks for.
  void RunJob(Job* job, CHttpClient* client);
  // Worker thread: the job's site answered 429 or 503.
  void SiteBusy(Job* job, const std::wstring& note);
  // Worker thread: waits for one of the parse slots (false when the job is cancelled first).
  bool TakeParseSlot(const std::atomic<bool>& cancel);

  const int slots_;
  // Pages parsed at once: one core fewer than the machine has, so that the runner, whose walk
  // is what the run waits for, keeps one to itself while pages download side by side.
  const int parse_slots_;
  int window_;  // guarded by mu_: pages in flight or held at most, up to slots_
  const std::wstring user_agent_;
  CCookieJar* const jar_;
  mutable std::mutex mu_;
  // Each waiter is woken only for what it waits for, so that idle workers are not woken for
  // every page.
  std::condition_variable work_cv_;   // workers: a job may be started, or quit
  std::condition_variable done_cv_;   // the runner: a job is done
  std::condition_variable parse_cv_;  // workers: a parse slot is free, a job cancelled, or quit
  JobList jobs_;                      // the plan, in the order the run will ask
  std::map<std::wstring, HostWindow> hosts_;  // by scheme, host and port
  int running_dropped_ = 0;                   // dropped jobs a worker still works on
  int parsing_ = 0;                           // workers parsing a page
  bool quit_ = false;
  std::vector<std::unique_ptr<CHttpClient>> clients_;  // one per worker
  std::vector<std::thread> workers_;                   // declared last: they end first
};

}  // namespace gm
