#include "engine/page_prefetch.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <unordered_set>

#include "engine/page_loader.h"
#include "net/http_client.h"
#include "net/page_text.h"
#include "net/url.h"
#include "page/html_builder.h"

namespace gm {

struct CPagePrefetch::Job {
  explicit Job(PageRequest r) : request(std::move(r)) {
    CHttpAddress a;
    if (ParseHttpAddress(request.url, &a)) {
      site = a.scheme + L"://" + a.host + L":" + std::to_wstring(a.port);
    }
  }
  const PageRequest request;
  std::wstring site;  // scheme, host and port
  std::atomic<bool> cancel{false};
  std::atomic<CHttpClient*> client{nullptr};  // the worker's client while it runs the job
  // Under mu_.
  bool started = false;
  bool done = false;
  bool dropped = false;
  bool busy = false;  // the site answered 429 or 503
  bool urgent = false;  // the run waits for it (Ask)
  // Set by the worker; read by the runner once done is true.
  std::string cookies;  // the Cookie header the request was sent with
  Result result = Result::kFailed;
  PrefetchedPage page;
};

namespace {
// How soon a worker notices a cancelled transfer.
constexpr int kCancelSliceMs = 50;
// How often a runner waiting for a page asks its stop check.
constexpr auto kTakeSlice = std::chrono::milliseconds(200);
// The pages in flight at first, and how long the run may wait for a page before more go.
constexpr int kFirstWindow = 2;
constexpr auto kWidenAfter = std::chrono::milliseconds(10);
// The page download's time-out, as DownloadPage has it.
constexpr uint32_t kPageTimeoutMs = 60000;
}  // namespace

void KeepFreedMemoryForPages() {
  mallopt(M_TOP_PAD, 16 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

CPagePrefetch::CPagePrefetch(int slots, CCookieJar* jar, std::wstring user_agent)
    : slots_(slots < 1 ? 1 : slots),
      parse_slots_(std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1)),
      window_(std::min(slots_, kFirstWindow)),
      user_agent_(std::move(user_agent)),
      jar_(jar) {
  for (int i = 0; i < slots_; ++i) {
    clients_.push_back(std::make_unique<CHttpClient>());
    if (jar_) clients_.back()->SetCookieJar(jar_);
  }
}

CPagePrefetch::~CPagePrefetch() {
  Abandon();
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  work_cv_.notify_all();
  parse_cv_.notify_all();
  for (std::thread& w : workers_) w.join();
}

CPagePrefetch::JobList::iterator CPagePrefetch::Find(const std::wstring& url,
                                                     const std::wstring* referer) {
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
    const PageRequest& q = (*it)->request;
    if (q.url == url && (!referer || q.referer == *referer)) return it;
  }
  return jobs_.end();
}

CPagePrefetch::JobList::const_iterator CPagePrefetch::Find(const std::wstring& url,
                                                           const std::wstring* referer) const {
  return const_cast<CPagePrefetch*>(this)->Find(url, referer);
}

int CPagePrefetch::Occupied() const {
  int n = running_dropped_;
  for (const auto& job : jobs_) n += job->started ? 1 : 0;
  return n;
}

int CPagePrefetch::InFlight() const {
  int n = running_dropped_;
  for (const auto& job : jobs_) n += job->started && !job->done ? 1 : 0;
  return n;
}

CPagePrefetch::Job* CPagePrefetch::Startable() {
  const bool room = Occupied() < window_;
  const bool wire = InFlight() < window_;
  for (const auto& job : jobs_) {
    if (job->started || !(room || (job->urgent && wire))) continue;
    const HostWindow& site = HostOf(*job);
    if (site.running < site.window) return job.get();
  }
  return nullptr;
}

void CPagePrefetch::Drop(JobList::iterator it) {
  Job& job = **it;
  if (job.started && !job.done) {
    job.cancel = true;
    job.dropped = true;
    ++running_dropped_;
  }
  jobs_.erase(it);
}

CPagePrefetch::HostWindow& CPagePrefetch::HostOf(const Job& job) {
  auto it = hosts_.find(job.site);
  if (it == hosts_.end()) it = hosts_.emplace(job.site, HostWindow{slots_, 0, 0}).first;
  return it->second;
}

void CPagePrefetch::Plan(const std::vector<PageRequest>& ahead) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    // The jobs there are, by request; a request planned twice is planned once.
    auto key = [](const PageRequest& q) { return q.url + L'\n' + q.referer; };
    std::unordered_map<std::wstring, JobList::iterator> there;
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it) there.emplace(key((*it)->request), it);
    std::unordered_set<std::wstring> planned;
    JobList next;
    for (const PageRequest& q : ahead) {
      std::wstring k = key(q);
      if (!planned.insert(k).second) continue;
      auto found = there.find(k);
      if (found != there.end()) {
        next.splice(next.end(), jobs_, found->second);
      } else {
        next.push_back(std::make_shared<Job>(q));
      }
    }
    while (!jobs_.empty()) Drop(jobs_.begin());
    jobs_ = std::move(next);
    StartWorkers();
    WakeWorkers();
  }
  parse_cv_.notify_all();  // a cancelled job may wait for a parse
}

void CPagePrefetch::WakeWorkers() {
  int startable = 0;
  for (const auto& job : jobs_) startable += job->started ? 0 : 1;
  const int room = std::max(window_ - Occupied(), Startable() ? 1 : 0);
  for (int n = std::min(startable, room); n > 0; --n) work_cv_.notify_one();
}

void CPagePrefetch::StartWorkers() {
  while (static_cast<int>(workers_.size()) < slots_ && !jobs_.empty()) {
    CHttpClient* client = clients_[workers_.size()].get();
    workers_.emplace_back([this, client] { WorkerMain(client); });
  }
}

void CPagePrefetch::Ask(const PageRequest& request) {
  std::unique_lock<std::mutex> lock(mu_);
  auto it = Find(request.url, &request.referer);
  std::shared_ptr<Job> job;
  if (it != jobs_.end()) {
    job = *it;
    jobs_.splice(jobs_.begin(), jobs_, it);
  } else {
    job = std::make_shared<Job>(request);
    jobs_.push_front(job);
  }
  // The run waits for it: it may go beyond the pages held (never beyond the window of requests
  // on the wire), so that no page already asked is given up for it.
  job->urgent = true;
  StartWorkers();
  WakeWorkers();
  lock.unlock();
  parse_cv_.notify_all();
}

void CPagePrefetch::Insert(const std::vector<PageRequest>& more, const std::wstring& before) {
  std::lock_guard<std::mutex> lock(mu_);
  auto at = Find(before, nullptr);
  for (const PageRequest& q : more) {
    if (Find(q.url, &q.referer) == jobs_.end()) jobs_.insert(at, std::make_shared<Job>(q));
  }
  StartWorkers();
  WakeWorkers();
}

std::optional<std::wstring> CPagePrefetch::ArrivedText(const std::wstring& url) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = Find(url, nullptr);
  if (it == jobs_.end() || !(*it)->done || (*it)->result != Result::kReady) return std::nullopt;
  return (*it)->page.text;
}

bool CPagePrefetch::Holds(const std::wstring& url) const {
  std::lock_guard<std::mutex> lock(mu_);
  return Find(url, nullptr) != jobs_.end();
}

CPagePrefetch::Result CPagePrefetch::Take(const std::wstring& url,
                                          const std::function<bool(int percent)>& should_stop,
                                          PrefetchedPage* page,
                                          const std::function<void(const std::wstring&)>& note) {
  std::shared_ptr<Job> job;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = Find(url, nullptr);
    if (it == jobs_.end()) return Result::kFailed;
    job = *it;
  }
  Ask(job->request);
  size_t noted = 0;
  // Under the lock: the notes not yet told, handed out to tell once it is let go.
  auto new_notes = [&] {
    std::vector<std::wstring> fresh(job->page.notes.begin() + noted, job->page.notes.end());
    noted = job->page.notes.size();
    return fresh;
  };
  std::unique_lock<std::mutex> lock(mu_);
  // While the run waits for its page, the site is slower than the walk: more pages go in
  // flight, the window doubling (up to the slots) for every kWidenAfter of waiting.
  while (window_ < slots_ && !job->done) {
    if (done_cv_.wait_for(lock, kWidenAfter, [&job] { return job->done; })) break;
    window_ = std::min(slots_, window_ * 2);
    WakeWorkers();
  }
  while (!done_cv_.wait_for(lock, kTakeSlice, [&job] { return job->done; })) {
    std::vector<std::wstring> fresh = new_notes();
    lock.unlock();
    for (const std::wstring& n : fresh) {
      if (note) note(n);
    }
    CHttpClient* client = job->client.load();
    if (should_stop(client ? client->Progress() : 0)) {
      Abandon();
      return Result::kStopped;
    }
    lock.lock();
  }
  std::vector<std::wstring> fresh = new_notes();
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
    if (*it == job) {
      jobs_.erase(it);
      break;
    }
  }
  WakeWorkers();  // a slot is free
  lock.unlock();
  for (const std::wstring& n : fresh) {
    if (note) note(n);
  }
  if (job->result == Result::kReady && clients_[0]->CookiesFor(url) != job->cookies) {
    return Result::kStale;
  }
  *page = std::move(job->page);
  return job->result;
}

void CPagePrefetch::Abandon() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!jobs_.empty()) Drop(jobs_.begin());
  parse_cv_.notify_all();
  done_cv_.wait(lock, [this] { return running_dropped_ == 0; });
}

void CPagePrefetch::WorkerMain(CHttpClient* client) {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    std::shared_ptr<Job> job;
    work_cv_.wait(lock, [this, &job] {
      if (quit_) return true;
      Job* next = Startable();
      if (!next) return false;
      for (const auto& j : jobs_) {
        if (j.get() == next) job = j;
      }
      return true;
    });
    if (quit_) return;
    job->started = true;
    HostOf(*job).running++;
    lock.unlock();
    if (!user_agent_.empty()) client->SetUserAgent(user_agent_);
    job->client = client;
    RunJob(job.get(), client);
    lock.lock();
    job->done = true;
    if (job->dropped) --running_dropped_;
    HostWindow& site = HostOf(*job);
    site.running--;
    if (!job->busy && job->result == Result::kReady && ++site.good >= kGrowAfter) {
      site.good = 0;
      if (site.window < slots_) site.window++;
    }
    done_cv_.notify_all();
    WakeWorkers();  // a dropped job's slot, or a site's window, is free again
  }
}

bool CPagePrefetch::TakeParseSlot(const std::atomic<bool>& cancel) {
  std::unique_lock<std::mutex> lock(mu_);
  parse_cv_.wait(lock, [&] { return cancel || parsing_ < parse_slots_; });
  if (cancel) return false;
  parsing_++;
  return true;
}

void CPagePrefetch::SiteBusy(Job* job, const std::wstring& note) {
  std::lock_guard<std::mutex> lock(mu_);
  job->busy = true;
  job->page.notes.push_back(note);
  HostWindow& site = HostOf(*job);
  site.window = std::max(1, site.window / 2);
  site.good = 0;
}

void CPagePrefetch::RunJob(Job* job, CHttpClient* http) {
  CHttpClient& client = *http;
  const PageRequest& q = job->request;
  const std::atomic<bool>& cancel = job->cancel;
  client.SetTimeout(kPageTimeoutMs);
  HttpWait wait = HttpWait::kStopped;
  auto fetch = [&] {
    job->cookies = client.CookiesFor(q.url);
    client.Get(q.url, q.referer);
    wait = WaitForTransaction(
        &client, [&cancel] { return cancel.load(); }, true, kMaxRedirects, kCancelSliceMs);
    return wait == HttpWait::kReady;
  };
  auto sleep = [&cancel](int ms) {
    for (int slept = 0; slept < ms && !cancel; slept += kCancelSliceMs) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kCancelSliceMs));
    }
    return !cancel;
  };
  FetchPolitely(
      client, fetch, [this, job](const std::wstring& note, int) { SiteBusy(job, note); }, sleep);
  if (wait == HttpWait::kStopped || cancel) {
    job->result = Result::kStopped;
    return;
  }
  if (wait != HttpWait::kReady || client.GetStatus() != 200) {
    job->page.failure = DownloadFailure(client);
    job->result = Result::kFailed;
    return;
  }
  job->page.text = WithErrorSilencer(DecodeBody(client));
  if (q.parse && job->page.text.size() <= kParseAheadChars && TakeParseSlot(cancel)) {
    job->page.document = ParseHtml(job->page.text, [&cancel] { return cancel.load(); });
    {
      std::lock_guard<std::mutex> lock(mu_);
      parsing_--;
    }
    parse_cv_.notify_one();
  }
  job->result = Result::kReady;
}

}  // namespace gm
