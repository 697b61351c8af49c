// Sending the heartbeat on Windows, with WinHTTP: it takes the system's certificate store and
// proxy settings, as the admin's machine uses them.
//
// WinHTTP's own time-outs bound each step of a request, not the whole, so the request runs on a
// thread of its own while the caller waits for it at most kPostTimeLimit. A request still running
// then is cancelled by closing its handle and left behind; the checker ends soon after.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Text.h"
#include "tools/check/post/Post.h"
#include "tools/check/text/Paths.h"

namespace vesperline::check {

namespace {

using Clock = std::chrono::steady_clock;

std::string Utf8(const wchar_t* text) {
  return text == nullptr ? std::string() : WideToUtf8(text, std::wcslen(text));
}

std::wstring Wide(const std::string& utf8) {
  return PathFromUtf8(utf8).wstring();
}

// What a WinHTTP error means, with its number and WinHTTP's own words for it, which live in its
// module (the system's for the rest).
std::string ErrorWords(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"winhttp.dll"), error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string words = length == 0 ? std::string() : WideToUtf8(text, length);
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.')) {
    words.pop_back();
  }
  // The checker's own words first, as the system may give none (Wine) or give them in another
  // language; the system's follow the number.
  const std::string number = "WinHTTP error " + std::to_string(error);
  const std::string_view meaning = WinHttpErrorMeaning(error);
  if (meaning.empty()) return words.empty() ? number : words + " (" + number + ")";
  return std::string(meaning) + " (" + number + (words.empty() ? "" : ": " + words) + ")";
}

// How the request reaches the service. A WinHTTP proxy set for the whole machine (netsh winhttp
// set proxy; under Wine, the http_proxy variable) is taken as set; otherwise WinHTTP follows the
// system's settings as Windows' own programs do (Windows 8.1 and later), where a proxy set in
// the system's settings is named for the report.
struct Route {
  DWORD Access = WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
  std::string Proxy;
  std::string Source;
};

Route ChooseRoute() {
  Route route;
  WINHTTP_PROXY_INFO machine{};
  if (WinHttpGetDefaultProxyConfiguration(&machine)) {
    if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
      route.Proxy = Utf8(machine.lpszProxy);
    }
    if (machine.lpszProxy != nullptr) GlobalFree(machine.lpszProxy);
    if (machine.lpszProxyBypass != nullptr) GlobalFree(machine.lpszProxyBypass);
  }
  if (!route.Proxy.empty()) {
    route.Access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    route.Source =
        "WinHTTP's proxy setting: netsh winhttp show proxy; under Wine, the http_proxy variable";
    return route;
  }
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
  if (WinHttpGetIEProxyConfigForCurrentUser(&user)) {
    route.Proxy = Utf8(user.lpszProxy);
    for (wchar_t* text : {user.lpszAutoConfigUrl, user.lpszProxy, user.lpszProxyBypass}) {
      if (text != nullptr) GlobalFree(text);
    }
  }
  if (!route.Proxy.empty()) route.Source = "the system's proxy setting";
  return route;
}

// How far a request got, as WinHTTP tells it while it works.
enum Progress : int { kNothingYet = 0, kConnected = 1, kRequestSent = 2 };

// What the requesting thread and the waiting one share. The request handle is closed by whichever
// of the two comes to it first: the requester when it is done, the waiter to cancel it.
struct Shared {
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Finished = false;
  HINTERNET Request = nullptr;
  bool RequestClosed = false;
  std::atomic<int> Progress{kNothingYet};
  std::atomic<DWORD> SecureFailure{0};
  // Written by the requester; read by the waiter only once Finished. Error is WinHTTP's, or
  // ERROR_SUCCESS when an answer came.
  PostExchange Exchange;
  DWORD Error = ERROR_SUCCESS;

  void CloseRequest() {
    std::lock_guard<std::mutex> lock(Mutex);
    if (Request != nullptr && !RequestClosed) WinHttpCloseHandle(Request);
    RequestClosed = true;
  }
};

void CALLBACK Notice(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
  auto* shared = reinterpret_cast<Shared*>(context);
  if (shared == nullptr) return;
  if (status == WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER) {
    shared->Progress = kConnected;
  } else if (status == WINHTTP_CALLBACK_STATUS_REQUEST_SENT) {
    shared->Progress = kRequestSent;
  } else if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && information != nullptr &&
             length >= sizeof(DWORD)) {
    shared->SecureFailure = *static_cast<DWORD*>(information);
  }
}

// Why no answer came, from WinHTTP's error, what the secure-failure notice said and how far the
// request got.
PostFailure FailureOf(DWORD error, DWORD secure, int progress, bool proxy) {
  const auto timedOut = [&] {
    if (progress >= kRequestSent) return PostFailure::NoAnswerInTime;
    if (proxy) return PostFailure::Proxy;
    return progress >= kConnected ? PostFailure::NoAnswerInTime : PostFailure::ConnectionTimedOut;
  };
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      // Through a proxy, the proxy resolves the service's name: this is the proxy's own.
      return proxy ? PostFailure::Proxy : PostFailure::NameNotResolved;
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return proxy ? PostFailure::Proxy : PostFailure::ConnectionRefused;
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return timedOut();
    case ERROR_WINHTTP_SECURE_FAILURE:
      if (secure & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA)
        return PostFailure::CertificateUntrusted;
      if (secure & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) {
        return PostFailure::CertificateWrongName;
      }
      if (secure & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) {
        return PostFailure::CertificateExpired;
      }
      if (secure & (WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED |
                    WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED |
                    WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT)) {
        return PostFailure::CertificateUntrusted;
      }
      return PostFailure::SecureChannel;
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
      return PostFailure::CertificateUntrusted;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      return PostFailure::CertificateWrongName;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      return PostFailure::CertificateExpired;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return PostFailure::SecureChannel;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return PostFailure::ConnectionClosed;
    case ERROR_WINHTTP_AUTODETECTION_FAILED:
    case ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT:
    case ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT:
      return PostFailure::Proxy;
    default:
      return PostFailure::Other;
  }
}

// A text header of the answer; empty when it has none.
std::string HeaderText(HINTERNET request, DWORD which) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                      &bytes, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return {};
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  return WideToUtf8(text.data(), bytes / sizeof(wchar_t));
}

// A WinHTTP handle, closed when the object goes.
struct Handle {
  HINTERNET Value;
  ~Handle() {
    if (Value != nullptr) WinHttpCloseHandle(Value);
  }
};

// The request itself, on the requesting thread. The answer goes into shared->Exchange; the error
// that stopped it, returned, is for the caller to judge.
DWORD Request(Shared* shared, const Route& route, const std::string& url, const std::string& body) {
  PostExchange& exchange = shared->Exchange;
  HINTERNET session =
      WinHttpOpen(nullptr, route.Access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr && route.Access == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY) {
    // Before Windows 8.1: WinHTTP's own setting, which takes no notice of the system's.
    session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  }
  const Handle sessionHandle{session};
  if (session == nullptr) return GetLastError();
  const int limit = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kPostTimeLimit).count());
  WinHttpSetTimeouts(session, limit, limit, limit, limit);
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
  WinHttpSetStatusCallback(session, &Notice,
                           WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER |
                               WINHTTP_CALLBACK_FLAG_SEND_REQUEST |
                               WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                           0);

  const std::wstring host = Wide(UrlHost(url));
  const std::wstring path = Wide(UrlPath(url));
  const Handle connection{WinHttpConnect(session, host.c_str(), INTERNET_DEFAULT_HTTPS_PORT, 0)};
  if (connection.Value == nullptr) return GetLastError();
  HINTERNET request =
      WinHttpOpenRequest(connection.Value, L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  if (request == nullptr) return GetLastError();
  {
    std::lock_guard<std::mutex> lock(shared->Mutex);
    shared->Request = request;
  }
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);

  const auto size = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request, L"Content-Type: application/json", static_cast<DWORD>(-1L),
                          const_cast<char*>(body.data()), size, size,
                          reinterpret_cast<DWORD_PTR>(shared)) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    const DWORD error = GetLastError();
    shared->CloseRequest();
    return error;
  }
  DWORD status = 0;
  DWORD statusBytes = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusBytes, WINHTTP_NO_HEADER_INDEX);
  exchange.Status = static_cast<int>(status);
  exchange.Reason = HeaderText(request, WINHTTP_QUERY_STATUS_TEXT);
  if (status >= 300 && status < 400)
    exchange.Location = HeaderText(request, WINHTTP_QUERY_LOCATION);
  char buffer[8192];
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer, sizeof buffer, &read)) {
      // The status and what came of the body still stand; the rest is cut.
      exchange.BodyCut = true;
      break;
    }
    if (read == 0) break;
    if (exchange.Body.size() + read > kReadBodyBytes) {
      exchange.Body.append(buffer, kReadBodyBytes - exchange.Body.size());
      exchange.BodyCut = true;
      break;
    }
    exchange.Body.append(buffer, read);
  }
  exchange.Failure = PostFailure::None;
  shared->CloseRequest();
  return ERROR_SUCCESS;
}

}  // namespace

PostExchange SendPost(const std::string& url, const std::string& body) {
  const auto started = Clock::now();
  const Route route = ChooseRoute();
  const bool proxy = !route.Proxy.empty();
  auto shared = std::make_shared<Shared>();

  std::thread requester([shared, route, url, body] {
    DWORD error = ERROR_OUTOFMEMORY;
    try {
      error = Request(shared.get(), route, url, body);
    } catch (...) {
      shared->CloseRequest();
    }
    std::lock_guard<std::mutex> lock(shared->Mutex);
    shared->Error = error;
    shared->Finished = true;
    shared->Changed.notify_all();
  });

  PostExchange exchange;
  DWORD error = ERROR_SUCCESS;
  bool finished = false;
  {
    std::unique_lock<std::mutex> lock(shared->Mutex);
    finished = shared->Changed.wait_for(lock, kPostTimeLimit, [&] { return shared->Finished; });
    if (finished) {
      exchange = shared->Exchange;
      error = shared->Error;
    }
  }
  if (finished) {
    requester.join();
    if (error != ERROR_SUCCESS) {
      exchange.Failure =
          FailureOf(error, shared->SecureFailure.load(), shared->Progress.load(), proxy);
      exchange.SystemWords = ErrorWords(error);
    }
  } else {
    // Cancelled and left behind: the thread holds its own share of what it uses.
    shared->CloseRequest();
    requester.detach();
    exchange.Failure = FailureOf(ERROR_WINHTTP_TIMEOUT, 0, shared->Progress.load(), proxy);
    exchange.SystemWords = "no answer within " + std::to_string(kPostTimeLimit.count()) + " s";
  }
  exchange.Proxy = route.Proxy;
  exchange.ProxySource = route.Source;
  exchange.Took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  return exchange;
}

}  // namespace vesperline::check
