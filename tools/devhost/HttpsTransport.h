// The development host's request service: performs the plugin's requests as real HTTPS POSTs with
// libcurl, always against the local heartbeat receiver, whatever host the URL names.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "simhost/SimHost.h"

namespace devhost {

struct TransportSettings {
  // Where every request is sent: the receiver on the loopback interface. The URL's host name is
  // kept for the Host header and for checking the certificate.
  std::string receiverAddress = "127.0.0.1";
  int receiverPort = 8443;
  // The certificate authority the receiver's certificate must come from; nothing else is trusted.
  std::string caFile;
  std::chrono::milliseconds connectTimeout{3000};
  std::chrono::milliseconds totalTimeout{10000};
};

// What one request came to.
struct RequestOutcome {
  bool success = false;  // an answer with a 2xx status
  long httpStatus = 0;   // 0 when no answer arrived
  std::string response;  // the answer's body (cut at 64 KiB)
  std::string error;     // why no answer arrived, or the status line's meaning
  std::chrono::milliseconds took{0};
};

// Requests are performed one after another on the transport's own thread, in the order they were
// submitted; each callback is called with the outcome and released right after.
class HttpsTransport {
 public:
  using Report = std::function<void(const simhost::RecordedRequest&, const RequestOutcome&)>;

  // report is called on the transport's thread after each request, before its callback.
  HttpsTransport(TransportSettings settings, Report report);
  // Finishes the requests already submitted, then stops the thread.
  ~HttpsTransport();
  HttpsTransport(const HttpsTransport&) = delete;
  HttpsTransport& operator=(const HttpsTransport&) = delete;

  // Queues the request and returns at once: true when it was queued, false (with the callback
  // released at once) when too many requests are waiting already.
  bool Submit(const simhost::RecordedRequest& request,
              std::function<void(bool, std::string)> callback);

  // Waits until every submitted request has completed and its callback is released, at most
  // timeout; true when that happened.
  bool WaitUntilIdle(std::chrono::milliseconds timeout);

 private:
  struct Job {
    simhost::RecordedRequest request;
    std::function<void(bool, std::string)> callback;
  };

  void Run();
  RequestOutcome Perform(const simhost::RecordedRequest& request) const;

  const TransportSettings settings_;
  const Report report_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace devhost
