// CPagePrefetch: while the runner extracts the records of one page, the next page of the same
// run is downloaded, decoded and (when it is small and needs no frames) parsed on a worker
// thread. The runner then takes the page as if it had downloaded it itself: same request
// (address, referer, user agent, time-out, redirects), same status texts, same failures.
//
// The jobs share one HTTP client, so that consecutive pages of a site go over one kept-alive
// connection; a cancelled transfer closes it, so no later request reads what is left of it.
//
// Threads: every member is called by the runner thread. One worker thread, started with the
// first job and ended by the destructor, runs the jobs; it never touches the runner, the
// location tree or the page models. A job, and the client, belong to the worker from Start
// until the job is done; mu_ guards the job slot and its state flags. The client's progress
// may be read at any time (its counters are atomic).
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "page/dom.h"

namespace gm {

class CCookieJar;
class CHttpClient;

// A page taken from the prefetch.
struct PrefetchedPage {
  std::wstring text;                       // the page text with the error silencer
  std::unique_ptr<CDomDocument> document;  // parsed, or null when the runner must parse
  std::wstring failure;                    // why the download failed, when it did
};

class CPagePrefetch {
 public:
  // Pages with more characters than this are parsed by the runner, where a stop can reach
  // the parse; smaller ones parse in well under a second.
  static constexpr size_t kParseAheadChars = 4u << 20;

  // The pages are asked with the cookies of `jar` (the program's jar when null).
  explicit CPagePrefetch(CCookieJar* jar = nullptr);
  CPagePrefetch(const CPagePrefetch&) = delete;
  CPagePrefetch& operator=(const CPagePrefetch&) = delete;
  // Abandons the job in progress and ends the worker.
  ~CPagePrefetch();

  // Starts fetching `url` as DownloadPage would (60 s time-out; an empty user agent sends the
  // client's default). With `parse`, the text is parsed too. A job already there is abandoned.
  void Start(const std::wstring& url, const std::wstring& referer, const std::wstring& user_agent,
             bool parse);
  // True when a job for exactly this address was started and not yet taken or abandoned.
  bool Holds(const std::wstring& url) const;

  enum class Result { kReady, kFailed, kStopped, kStale };
  // Waits for the job in slices of 1 second; between slices `should_stop` is asked with the
  // transfer's progress in percent (a stop abandons the job). kFailed: the transfer failed or
  // the status was not 200. kStale: the cookies the page would be asked with changed after it
  // was requested (a detail page set one, say), so the runner must ask for it again. The job
  // is gone afterwards in every case.
  Result Take(const std::function<bool(int percent)>& should_stop, PrefetchedPage* page);
  // Cancels the job in progress (the transfer or the parse within a fraction of a second) and
  // waits for the worker to let go of it.
  void Abandon();

 private:
  struct Job;
  void WorkerMain();
  static void RunJob(Job* job, CHttpClient* client, const std::atomic<bool>& cancel);

  mutable std::mutex mu_;
  std::condition_variable cv_;  // job posted, job done, or quit
  std::unique_ptr<Job> job_;
  bool quit_ = false;
  std::atomic<bool> cancel_{false};
  const std::unique_ptr<CHttpClient> client_;
  std::thread worker_;  // declared last: it ends before the client goes
};

}  // namespace gm
