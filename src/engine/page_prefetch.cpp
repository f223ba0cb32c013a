#include "engine/page_prefetch.h"

#include <chrono>

#include "engine/page_loader.h"
#include "net/http_client.h"
#include "net/page_text.h"
#include "page/html_builder.h"

namespace gm {

struct CPagePrefetch::Job {
  std::wstring url, referer, userAgent;
  bool parse = false;
  std::string cookies;  // the Cookie header the request was sent with
  // Set by the worker; read by the runner once done is true (under mu_).
  bool started = false;
  bool done = false;
  Result result = Result::kFailed;
  PrefetchedPage page;
};

namespace {
// How soon the worker notices an abandoned transfer.
constexpr int kCancelSliceMs = 50;
// The page download's time-out, as DownloadPage has it.
constexpr uint32_t kPageTimeoutMs = 60000;
}  // namespace

CPagePrefetch::CPagePrefetch(CCookieJar* jar) : client_(std::make_unique<CHttpClient>()) {
  if (jar) client_->SetCookieJar(jar);
}

CPagePrefetch::~CPagePrefetch() {
  Abandon();
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void CPagePrefetch::Start(const std::wstring& url, const std::wstring& referer,
                          const std::wstring& user_agent, bool parse) {
  Abandon();
  auto job = std::make_unique<Job>();
  job->url = url;
  job->referer = referer;
  job->userAgent = user_agent;
  job->parse = parse;
  {
    std::lock_guard<std::mutex> lock(mu_);
    job_ = std::move(job);
  }
  if (!worker_.joinable()) worker_ = std::thread([this] { WorkerMain(); });
  cv_.notify_all();
}

bool CPagePrefetch::Holds(const std::wstring& url) const {
  std::lock_guard<std::mutex> lock(mu_);
  return job_ && job_->url == url;
}

CPagePrefetch::Result CPagePrefetch::Take(const std::function<bool(int percent)>& should_stop,
                                          PrefetchedPage* page) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!job_) return Result::kFailed;
  while (!cv_.wait_for(lock, std::chrono::seconds(1), [this] { return job_->done; })) {
    lock.unlock();
    bool stop = should_stop(client_->Progress());
    if (stop) {
      Abandon();
      return Result::kStopped;
    }
    lock.lock();
  }
  std::unique_ptr<Job> job = std::move(job_);
  lock.unlock();
  if (job->result == Result::kReady && client_->CookiesFor(job->url) != job->cookies) {
    return Result::kStale;
  }
  *page = std::move(job->page);
  return job->result;
}

void CPagePrefetch::Abandon() {
  std::unique_lock<std::mutex> lock(mu_);
  if (!job_) return;
  if (job_->started) {
    cancel_ = true;
    cv_.wait(lock, [this] { return job_->done; });
    cancel_ = false;
  }
  job_.reset();
}

void CPagePrefetch::WorkerMain() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return quit_ || (job_ && !job_->started); });
    if (quit_) return;
    Job* job = job_.get();
    job->started = true;
    lock.unlock();
    RunJob(job, client_.get(), cancel_);
    lock.lock();
    job->done = true;
    cv_.notify_all();
  }
}

void CPagePrefetch::RunJob(Job* job, CHttpClient* http, const std::atomic<bool>& cancel) {
  CHttpClient& client = *http;
  if (!job->userAgent.empty()) client.SetUserAgent(job->userAgent);
  client.SetTimeout(kPageTimeoutMs);
  job->cookies = client.CookiesFor(job->url);
  client.Get(job->url, job->referer);
  HttpWait wait = WaitForTransaction(
      &client, [&cancel] { return cancel.load(); }, true, kMaxRedirects, kCancelSliceMs);
  if (wait == HttpWait::kStopped) {
    job->result = Result::kStopped;
    return;
  }
  if (wait != HttpWait::kReady || client.GetStatus() != 200) {
    job->page.failure = DownloadFailure(client);
    job->result = Result::kFailed;
    return;
  }
  job->page.text = WithErrorSilencer(DecodeBody(client));
  if (job->parse && job->page.text.size() <= kParseAheadChars && !cancel) {
    job->page.document = ParseHtml(job->page.text, [&cancel] { return cancel.load(); });
  }
  job->result = Result::kReady;
}

}  // namespace gm
