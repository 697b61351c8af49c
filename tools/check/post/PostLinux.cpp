// Sending the heartbeat on Linux, with the system's libcurl. The checker does not link it: it is
// loaded only when --post runs, so that the checker starts on a system without it, and a missing
// library is told as what it is. The headers serve for the types and constants alone.
//
// The proxy is chosen here from the environment, as libcurl itself would choose it, and then
// given to libcurl explicitly, so that the report can say which proxy a failure concerns.
#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "tools/check/post/Post.h"

namespace vesperline::check {

namespace {

using Clock = std::chrono::steady_clock;

// The part of libcurl the checker uses.
struct Curl {
  CURL* (*EasyInit)() = nullptr;
  CURLcode (*EasySetopt)(CURL*, CURLoption, ...) = nullptr;
  CURLcode (*EasyPerform)(CURL*) = nullptr;
  CURLcode (*EasyGetinfo)(CURL*, CURLINFO, ...) = nullptr;
  void (*EasyCleanup)(CURL*) = nullptr;
  curl_slist* (*SlistAppend)(curl_slist*, const char*) = nullptr;
  void (*SlistFreeAll)(curl_slist*) = nullptr;
};

template <typename Function>
bool Resolve(void* library, const char* name, Function& function) {
  // Through void (*)(), which every function pointer converts to and from.
  function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(dlsym(library, name)));
  return function != nullptr;
}

// libcurl, loaded once; the library stays loaded until the process ends, as libcurl's own global
// state expects. Nothing, with dlerror's words in error, when it cannot be loaded.
const Curl* LoadCurl(std::string& error) {
  static Curl curl;
  static bool loaded = false;
  if (loaded) return &curl;
  void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* words = dlerror();
    error = words != nullptr ? words : "libcurl.so.4 cannot be loaded";
    return nullptr;
  }
  if (!Resolve(library, "curl_easy_init", curl.EasyInit) ||
      !Resolve(library, "curl_easy_setopt", curl.EasySetopt) ||
      !Resolve(library, "curl_easy_perform", curl.EasyPerform) ||
      !Resolve(library, "curl_easy_getinfo", curl.EasyGetinfo) ||
      !Resolve(library, "curl_easy_cleanup", curl.EasyCleanup) ||
      !Resolve(library, "curl_slist_append", curl.SlistAppend) ||
      !Resolve(library, "curl_slist_free_all", curl.SlistFreeAll)) {
    error = "libcurl.so.4 lacks a function the checker needs";
    return nullptr;
  }
  loaded = true;
  return &curl;
}

// What libcurl hands over while the answer comes in.
struct Answer {
  std::string StatusLine;  // the last status line, without its line end
  std::string Body;
  bool BodyCut = false;
};

std::size_t TakeHeader(char* data, std::size_t size, std::size_t count, void* target) {
  auto& answer = *static_cast<Answer*>(target);
  const std::string_view line(data, size * count);
  // Every answer starts with its status line: a proxy's to the tunnel request, then the service's.
  if (line.starts_with("HTTP/")) {
    answer.StatusLine = line.substr(0, std::min<std::size_t>(line.find_first_of("\r\n"), 300));
  }
  return size * count;
}

std::size_t TakeBody(char* data, std::size_t size, std::size_t count, void* target) {
  auto& answer = *static_cast<Answer*>(target);
  const std::size_t bytes = size * count;
  if (answer.Body.size() + bytes > kReadBodyBytes) {
    // Enough to show: the transfer stops here, which libcurl reports as a write error.
    answer.Body.append(data, kReadBodyBytes - answer.Body.size());
    answer.BodyCut = true;
    return 0;
  }
  answer.Body.append(data, bytes);
  return bytes;
}

// The reason phrase of a status line "HTTP/1.1 401 Unauthorized".
std::string ReasonOf(std::string_view statusLine) {
  const std::size_t code = statusLine.find(' ');
  if (code == std::string_view::npos) return {};
  const std::size_t reason = statusLine.find(' ', code + 1);
  return reason == std::string_view::npos ? std::string()
                                          : std::string(statusLine.substr(reason + 1));
}

struct CurlHandle {
  const Curl& curl;
  CURL* handle;
  curl_slist* headers = nullptr;
  ~CurlHandle() {
    if (headers != nullptr) curl.SlistFreeAll(headers);
    if (handle != nullptr) curl.EasyCleanup(handle);
  }
};

// Why no answer came, from libcurl's code and how far the exchange got.
PostFailure FailureOf(CURLcode code, const std::string& words, bool proxy, long proxyAnswer,
                      double connected, double secured) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
      return PostFailure::Proxy;
    case CURLE_COULDNT_RESOLVE_HOST:
      return PostFailure::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return proxy ? PostFailure::Proxy : PostFailure::ConnectionRefused;
    case CURLE_OPERATION_TIMEDOUT:
      if (secured > 0) return PostFailure::NoAnswerInTime;
      if (proxy) return PostFailure::Proxy;
      if (connected > 0) return PostFailure::NoAnswerInTime;
      return words.starts_with("Resolving timed out") ? PostFailure::NameNotResolved
                                                      : PostFailure::ConnectionTimedOut;
    case CURLE_PEER_FAILED_VERIFICATION:
      // OpenSSL's words, which libcurl passes on: "no alternative certificate subject name
      // matches target host name", "certificate subject name ... does not match target host
      // name", "certificate has expired".
      if (words.find("host name") != std::string::npos) return PostFailure::CertificateWrongName;
      if (words.find("expired") != std::string::npos ||
          words.find("not yet valid") != std::string::npos) {
        return PostFailure::CertificateExpired;
      }
      return PostFailure::CertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
      return PostFailure::SecureChannel;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      // A proxy that refuses the tunnel answers it with an error status and closes.
      return proxyAnswer >= 300 ? PostFailure::Proxy : PostFailure::ConnectionClosed;
    case CURLE_PROXY:
      return PostFailure::Proxy;
    default:
      return PostFailure::Other;
  }
}

}  // namespace

PostExchange SendPost(const std::string& url, const std::string& body) {
  PostExchange exchange;
  const auto started = Clock::now();
  const auto finish = [&]() -> PostExchange {
    exchange.Took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    return exchange;
  };

  const std::optional<ProxySetting> proxy =
      ProxyFromEnvironment(UrlHost(url), [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (value == nullptr) return std::nullopt;
        return std::string(value);
      });
  if (proxy) {
    exchange.Proxy = proxy->Proxy;
    exchange.ProxySource = "from the environment variable " + proxy->Variable;
  }

  std::string loadError;
  const Curl* curl = LoadCurl(loadError);
  if (curl == nullptr) {
    exchange.Failure = PostFailure::NoTransport;
    exchange.SystemWords = loadError;
    return finish();
  }
  CurlHandle request{*curl, curl->EasyInit()};
  if (request.handle == nullptr) {
    exchange.SystemWords = "libcurl could not make a request";
    return finish();
  }
  CURL* c = request.handle;
  // Only the content type; libcurl's own "Expect" (which holds a larger body back for a second)
  // and "Accept" lines are taken away, so that the request carries no header of the checker's own.
  for (const char* header : {"Content-Type: application/json", "Expect:", "Accept:"}) {
    curl_slist* grown = curl->SlistAppend(request.headers, header);
    if (grown == nullptr) {
      exchange.SystemWords = "libcurl could not make a request";
      return finish();
    }
    request.headers = grown;
  }
  Answer answer;
  char errors[CURL_ERROR_SIZE] = {};
  const long limit = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kPostTimeLimit).count());
  curl->EasySetopt(c, CURLOPT_URL, url.c_str());
  curl->EasySetopt(c, CURLOPT_PROXY, proxy ? proxy->Proxy.c_str() : "");
  // The environment's no_proxy has been applied above already.
  curl->EasySetopt(c, CURLOPT_NOPROXY, "");
  curl->EasySetopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl->EasySetopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl->EasySetopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  // The system's root certificates, where libcurl was built to find them, unless SSL_CERT_FILE
  // or SSL_CERT_DIR name others, as they do for the programs that use OpenSSL's own defaults (an
  // admin behind a proxy that inspects HTTPS may have its authority's file named so). Either way
  // the certificate is checked.
  for (const auto& [variable, option] :
       {std::pair{"SSL_CERT_FILE", CURLOPT_CAINFO}, std::pair{"SSL_CERT_DIR", CURLOPT_CAPATH}}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') curl->EasySetopt(c, option, value);
  }
  curl->EasySetopt(c, CURLOPT_TIMEOUT_MS, limit);
  curl->EasySetopt(c, CURLOPT_NOSIGNAL, 1L);
  curl->EasySetopt(c, CURLOPT_HTTPHEADER, request.headers);
  curl->EasySetopt(c, CURLOPT_POST, 1L);
  curl->EasySetopt(c, CURLOPT_POSTFIELDS, body.data());
  curl->EasySetopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl->EasySetopt(c, CURLOPT_HEADERFUNCTION, &TakeHeader);
  curl->EasySetopt(c, CURLOPT_HEADERDATA, &answer);
  curl->EasySetopt(c, CURLOPT_WRITEFUNCTION, &TakeBody);
  curl->EasySetopt(c, CURLOPT_WRITEDATA, &answer);
  curl->EasySetopt(c, CURLOPT_ERRORBUFFER, errors);

  const CURLcode code = curl->EasyPerform(c);
  long status = 0;
  long proxyAnswer = 0;
  double connected = 0;
  double secured = 0;
  curl->EasyGetinfo(c, CURLINFO_RESPONSE_CODE, &status);
  curl->EasyGetinfo(c, CURLINFO_HTTP_CONNECTCODE, &proxyAnswer);
  curl->EasyGetinfo(c, CURLINFO_CONNECT_TIME, &connected);
  curl->EasyGetinfo(c, CURLINFO_APPCONNECT_TIME, &secured);

  if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && answer.BodyCut)) {
    exchange.Failure = PostFailure::None;
    exchange.Status = static_cast<int>(status);
    exchange.Reason = ReasonOf(answer.StatusLine);
    exchange.Body = std::move(answer.Body);
    exchange.BodyCut = answer.BodyCut;
    if (status >= 300 && status < 400) {
      char* location = nullptr;
      curl->EasyGetinfo(c, CURLINFO_REDIRECT_URL, &location);
      if (location != nullptr) exchange.Location = location;
    }
    return finish();
  }
  exchange.SystemWords = errors[0] != '\0' ? std::string(errors)
                                           : std::string("libcurl error ") + std::to_string(code);
  exchange.Failure =
      FailureOf(code, exchange.SystemWords, proxy.has_value(), proxyAnswer, connected, secured);
  if (exchange.Failure == PostFailure::Proxy && proxyAnswer >= 300) {
    exchange.ProxyAnswer = static_cast<int>(proxyAnswer);
  }
  return finish();
}

}  // namespace vesperline::check
