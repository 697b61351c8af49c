// The checker's --post: one heartbeat sent to the service on the admin's request, so that the two
// causes of an unlisted server the report cannot see show: the service refuses the token, or this
// machine never reaches the service. The plugin fires its heartbeats and forgets them; the checker
// waits for the answer and says what it means.
//
// Sending is the system's part, in one file per system with the same function: PostLinux.cpp uses
// the system's libcurl, loaded when --post runs, so that the checker needs nothing else to start;
// PostWindows.cpp uses WinHTTP, with the system's proxy settings and certificate store. What the
// answer means, the report's words for it and the exit status are here, the same on every system.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vesperline::check {

// The longest the one attempt may take in all, from looking up the name to the answer's last
// byte. There is no second attempt.
inline constexpr std::chrono::seconds kPostTimeLimit{15};
// The most of the answer's body the checker reads, and the most the report shows of it.
inline constexpr std::size_t kReadBodyBytes = 64 * 1024;
inline constexpr std::size_t kShownBodyBytes = 4 * 1024;

// Why no answer came from the service; None when one came.
enum class PostFailure {
  None,
  NoTransport,           // the system's means of sending is missing (libcurl on Linux)
  NameNotResolved,       // the service's name does not resolve (DNS)
  ConnectionRefused,     // nothing accepted the connection, or there is no route
  ConnectionTimedOut,    // the connection was not answered at all
  NoAnswerInTime,        // connected, but no whole answer within kPostTimeLimit
  ConnectionClosed,      // the connection was closed or reset before an answer came
  CertificateUntrusted,  // this machine does not trust the certificate's authority
  CertificateWrongName,  // the certificate is for another name
  CertificateExpired,    // the certificate is out of date, or this machine's clock is wrong
  SecureChannel,         // the secure connection failed, and the system does not say why
  Proxy,                 // the proxy in the way did not pass the connection on
  Other,
};

// What the system's transport made of the one request.
struct PostExchange {
  PostFailure Failure = PostFailure::Other;
  // The transport's own words for a failure (libcurl's message, Windows' error text).
  std::string SystemWords;
  // The proxy the request was sent through, as the setting names it; empty for a direct
  // connection. ProxySource says where that setting came from.
  std::string Proxy;
  std::string ProxySource;
  // The proxy's answer to the request to open a tunnel, when it refused it; 0 otherwise.
  int ProxyAnswer = 0;
  // The answer: its HTTP status (0 when none came), its reason phrase as sent, a redirect's target,
  // and its body, of which at most kReadBodyBytes are kept (BodyCut when there was more).
  int Status = 0;
  std::string Reason;
  std::string Location;
  std::string Body;
  bool BodyCut = false;
  std::chrono::milliseconds Took{0};
};

// The system's part: sends body to url as one POST of application/json, with no header of its own
// beyond what HTTP needs, following no redirect, checking the certificate, once, for at most
// kPostTimeLimit in all. It never throws for a failure of the network; the exchange says what
// happened.
PostExchange SendPost(const std::string& url, const std::string& body);

// The three outcomes the exit status tells apart.
enum class PostOutcome {
  Accepted,   // the service took the heartbeat (2xx)
  Refused,    // the service, or what answers at the endpoint, answered and did not take it
  NotReached  // no answer came from the service
};

// What an exchange means for the admin.
struct PostJudgement {
  PostOutcome Outcome = PostOutcome::NotReached;
  std::string Kind;      // a short fixed name for the case, for scripts ("token refused", ...)
  std::string Meaning;   // one sentence
  std::string NextStep;  // what to do about it
};

// The meaning of an exchange with the endpoint at url.
PostJudgement JudgePost(const PostExchange& exchange, std::string_view url);

// The exit status of an outcome: 0 accepted, 4 refused, 5 not reached.
int PostExitStatus(PostOutcome outcome);

// What the checker did about --post, for the report.
struct PostRecord {
  // Why nothing was sent; empty when the heartbeat was sent.
  std::string NotSent;
  std::string Url;
  // The status the heartbeat carries ("online" or "offline") and why.
  std::string Status;
  std::string StatusReason;
  // The body sent, token and all, and the same as the report shows it.
  std::string Document;
  std::string ShownDocument;
  // The token, to be masked wherever the answer echoes it.
  std::string Token;
  PostExchange Exchange;
};

struct CheckReport;

// The post a report asks for, not sent yet: the heartbeat the report shows, its status "online"
// when the checker read the command line from this install's running server and "offline"
// otherwise, to the endpoint url; or, when the plugin would stay idle, why nothing is sent.
PostRecord PreparePost(const CheckReport& report, std::string url);

// The answer's body as the report shows it: the token masked wherever it stands (unless
// showToken), then cut to at most kShownBodyBytes without splitting a character. Control
// characters are escaped by each form of the report as it writes the text.
std::string ShownBody(std::string_view body, std::string_view token, bool showToken);

// The post's part of the report: a section of the text report, and the "post" member's value in
// the JSON report.
std::string PostText(const PostRecord& record, bool showToken);
std::string PostJson(const PostRecord& record, bool showToken);

// The proxy libcurl takes for an https URL to host from the environment, which variable gave it,
// and nothing when it takes none: https_proxy, HTTPS_PROXY, all_proxy, ALL_PROXY in that order,
// unless no_proxy (or NO_PROXY) names the host, one of its parent domains, or "*". variable gives
// an environment variable's value, or nothing when it is not set.
struct ProxySetting {
  std::string Proxy;
  std::string Variable;
};
std::optional<ProxySetting> ProxyFromEnvironment(
    std::string_view host, const std::function<std::optional<std::string>(const char*)>& variable);

// What a WinHTTP error means, in words for the admin ("the secure channel could not be set up"
// for 12157), for the errors a request of the checker's can meet; empty for any other number.
std::string_view WinHttpErrorMeaning(unsigned long error);

// The host name of an https URL, and its path.
std::string UrlHost(std::string_view url);
std::string UrlPath(std::string_view url);

}  // namespace vesperline::check
