#include "tools/devhost/HttpsTransport.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace devhost {

namespace {

using Clock = std::chrono::steady_clock;

// A slow or broken receiver must not hold a whole queue of heartbeats; one a minute is normal.
constexpr std::size_t kMaxQueued = 8;
constexpr std::size_t kMaxResponseBytes = 64 * 1024;

std::size_t CollectResponse(char* data, std::size_t size, std::size_t count, void* target) {
  auto& response = *static_cast<std::string*>(target);
  const std::size_t bytes = size * count;
  if (response.size() < kMaxResponseBytes) {
    response.append(data, std::min(bytes, kMaxResponseBytes - response.size()));
  }
  return bytes;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

void Append(HeaderList& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown != nullptr) {
    (void)list.release();
    list.reset(grown);
  }
}

}  // namespace

HttpsTransport::HttpsTransport(TransportSettings settings, Report report)
    : settings_(std::move(settings)), report_(std::move(report)) {
  thread_ = std::thread([this] { Run(); });
}

HttpsTransport::~HttpsTransport() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool HttpsTransport::Submit(const simhost::RecordedRequest& request,
                            std::function<void(bool, std::string)> callback) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() < kMaxQueued && !stopping_) {
      queue_.push_back(Job{request, std::move(callback)});
      changed_.notify_all();
      return true;
    }
  }
  // Refused: the copy goes now, outside the lock, as the plugin waits for every copy to go.
  callback = nullptr;
  return false;
}

bool HttpsTransport::WaitUntilIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return queue_.empty() && !busy_; });
}

void HttpsTransport::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, with nothing left to do
    Job job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();

    const RequestOutcome outcome = Perform(job.request);
    if (report_) report_(job.request, outcome);
    if (job.callback) job.callback(outcome.success, outcome.response);
    // Released before the request counts as done, so a waiting unload sees it gone at once.
    job = Job{};

    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

RequestOutcome HttpsTransport::Perform(const simhost::RecordedRequest& request) const {
  RequestOutcome outcome;
  const auto started = Clock::now();
  CurlHandle curl(curl_easy_init());
  if (!curl) {
    outcome.error = "libcurl could not make a handle";
    return outcome;
  }
  CURL* c = curl.get();
  char errors[CURL_ERROR_SIZE] = {};

  // Whatever host and port the URL names, the connection goes to the local receiver; the URL, the
  // Host header and the name the certificate is checked against stay as the plugin built them.
  HeaderList connectTo;
  Append(connectTo,
         "::" + settings_.receiverAddress + ":" + std::to_string(settings_.receiverPort));
  HeaderList headers;
  Append(headers, "Content-Type: " + request.contentType);
  for (const std::string& line : request.headers) Append(headers, line);
  // Without this, libcurl holds back a larger body for a second, waiting for "100 Continue".
  Append(headers, "Expect:");

  curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_PROXY, "");  // no proxy from the environment
  curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(c, CURLOPT_CONNECT_TO, connectTo.get());
  curl_easy_setopt(c, CURLOPT_CAINFO, settings_.caFile.c_str());
  curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);  // the demo's authority alone, not the system's
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(settings_.connectTimeout.count()));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(settings_.totalTimeout.count()));
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "vesperline-devhost");
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CollectResponse);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &outcome.response);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errors);

  const CURLcode result = curl_easy_perform(c);
  outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  if (result != CURLE_OK) {
    outcome.error = errors[0] != '\0' ? errors : curl_easy_strerror(result);
    return outcome;
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &outcome.httpStatus);
  outcome.success = outcome.httpStatus >= 200 && outcome.httpStatus < 300;
  return outcome;
}

}  // namespace devhost
