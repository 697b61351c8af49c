#include "tools/check/post/Post.h"

#include <algorithm>
#include <initializer_list>

#include "common/Text.h"
#include "heartbeat/Json.h"
#include "tools/check/mask/Mask.h"
#include "tools/check/model/Check.h"
#include "tools/check/text/JsonText.h"
#include "tools/check/text/Printable.h"

namespace vesperline::check {

namespace {

std::string Padded(std::string_view text, std::size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

// The reason phrase of the statuses the report speaks of, for an answer that brings none (HTTP/2
// has no reason phrases).
std::string_view StandardReason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 407:
      return "Proxy Authentication Required";
    case 413:
      return "Content Too Large";
    case 415:
      return "Unsupported Media Type";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "";
  }
}

// A text from the answer (its reason phrase, a redirect's target) as the report shows it: no
// longer than a line needs, the token masked.
std::string AnswerText(std::string_view text, std::string_view token, bool showToken,
                       std::size_t limit) {
  std::string shown = ShownBody(text, token, showToken);
  if (shown.size() > limit) {
    shown.resize(CompleteUtf8Length(std::string_view(shown).substr(0, limit)));
    shown += "...";
  }
  return shown;
}

// "401 Unauthorized": the status and its reason phrase, as sent or else the standard one.
std::string StatusWords(const PostExchange& exchange) {
  std::string reason = AnswerText(exchange.Reason, {}, true, 100);
  if (reason.empty()) reason = std::string(StandardReason(exchange.Status));
  std::string words = std::to_string(exchange.Status);
  if (!reason.empty()) words += " " + reason;
  return words;
}

// "the proxy http://10.0.0.1:3128 (from the environment variable https_proxy)"
std::string ProxyWords(const PostExchange& exchange) {
  std::string words = "the proxy " + exchange.Proxy;
  if (!exchange.ProxySource.empty()) words += " (" + exchange.ProxySource + ")";
  return words;
}

std::string ProxySourceWords(const PostExchange& exchange) {
  return exchange.ProxySource.empty() ? std::string("the system's proxy setting")
                                      : exchange.ProxySource;
}

std::string OutcomeName(PostOutcome outcome) {
  switch (outcome) {
    case PostOutcome::Accepted:
      return "accepted";
    case PostOutcome::Refused:
      return "refused";
    case PostOutcome::NotReached:
      return "not reached";
  }
  return "not reached";
}

constexpr char kFirewallStep[] =
    "A firewall on this machine or in its network blocks outgoing HTTPS, or the machine has no "
    "route to the Internet: allow outgoing connections to TCP port 443 for the server, then run "
    "the checker with --post again.";

constexpr char kRootCertificatesStep[] =
    "Bring this machine's root certificates up to date: on Windows with Windows Update; under "
    "Wine or Proton the prefix takes them from the Linux system it runs on (Debian and Ubuntu: "
    "the ca-certificates package, inside the container too). A proxy or antivirus program that "
    "inspects HTTPS needs its own certificate authority trusted as well.";

// The judgement of an exchange that brought no answer from the service.
PostJudgement NotReached(const PostExchange& exchange, const std::string& host) {
  const std::string limit = std::to_string(kPostTimeLimit.count()) + " s";
  const bool proxy = !exchange.Proxy.empty();
  const auto judgement = [](std::string kind, std::string meaning, std::string step) {
    return PostJudgement{PostOutcome::NotReached, std::move(kind), std::move(meaning),
                         std::move(step)};
  };
  switch (exchange.Failure) {
    case PostFailure::NoTransport:
      // Only the Linux checker borrows its means of sending from the system.
      return judgement("no transport",
                       "Nothing was sent: the checker sends HTTPS requests with the system's "
                       "libcurl (libcurl.so.4), which cannot be loaded on this system.",
                       "Install it (Debian and Ubuntu: sudo apt install libcurl4), then run the "
                       "checker with --post again.");
    case PostFailure::Proxy: {
      std::string what;
      if (exchange.ProxyAnswer == 407) {
        what = ", which asks for a login (407 " + std::string(StandardReason(407)) + ")";
      } else if (exchange.ProxyAnswer != 0) {
        what = ", which refused to open a connection to " + host + " (it answered " +
               std::to_string(exchange.ProxyAnswer) + ")";
      } else {
        what = ", which could not be reached, or did not pass the connection on to " + host;
      }
      return judgement("proxy",
                       "The heartbeat was to go through the proxy " + exchange.Proxy + what +
                           "; nothing reached the service.",
                       "Check the proxy setting (" + ProxySourceWords(exchange) +
                           "): the proxy's address and port, whether it needs a login, and "
                           "whether it lets HTTPS through to " +
                           host +
                           ". If this machine needs no proxy, remove the setting; then run the "
                           "checker with --post again.");
    }
    case PostFailure::NameNotResolved:
      return judgement("name not resolved",
                       "The name " + host +
                           " does not resolve on this machine (DNS), so no connection was made.",
                       "Check this machine's DNS settings (and a container's own): nslookup " +
                           host + " must give an address.");
    case PostFailure::ConnectionRefused:
      return judgement("connection refused",
                       "The connection to " + host +
                           " (port 443) was refused or found no route, so nothing was sent.",
                       kFirewallStep);
    case PostFailure::ConnectionTimedOut:
      return judgement("connection timed out",
                       "The connection to " + host + " (port 443) was not answered within " +
                           limit + ", so nothing was sent.",
                       kFirewallStep);
    case PostFailure::NoAnswerInTime:
      return judgement("no answer in time",
                       "The connection was made, but no whole answer came within " + limit +
                           "; the checker does not try again.",
                       "Try again later. If it lasts, the service or something between (a "
                       "proxy, a firewall that inspects traffic) holds the answer back: tell the "
                       "service's operators, with this report (--json).");
    case PostFailure::ConnectionClosed:
      return judgement("connection closed", "The connection was closed before an answer came.",
                       "Try again. If it lasts, something between this machine and the service "
                       "(a firewall that inspects traffic, a proxy) cuts HTTPS connections.");
    case PostFailure::CertificateUntrusted:
      return judgement(
          "certificate not trusted",
          "This machine does not trust the certificate " + host + " showed, so nothing was sent.",
          kRootCertificatesStep);
    case PostFailure::CertificateWrongName:
      return judgement("certificate for another name",
                       "The certificate shown was not for " + host +
                           ": something else answered in the service's place, so nothing was "
                           "sent.",
                       "Look for what intercepts HTTPS on this machine or its network (a proxy, "
                       "an antivirus program, a captive portal), or for a DNS or hosts-file entry "
                       "that sends " +
                           host + " elsewhere, and let the connection through.");
    case PostFailure::CertificateExpired:
      return judgement("certificate out of date",
                       "The certificate " + host +
                           " showed is out of date by this machine's clock, so nothing was sent.",
                       "Check this machine's date and time; if they are right, tell the "
                       "service's operators.");
    case PostFailure::SecureChannel:
      return judgement(
          "secure connection failed",
          "The secure connection to " + host +
              " failed before anything was sent: this machine did not accept the certificate "
              "it was shown" +
              (proxy ? ", or the proxy " + exchange.Proxy + " refused to open the connection"
                     : "") +
              ".",
          std::string(kRootCertificatesStep) +
              " If the certificate may be for another name, look for what intercepts HTTPS (a "
              "proxy, an antivirus program, a captive portal)." +
              (proxy ? " Check the proxy setting as well (" + ProxySourceWords(exchange) + ")."
                     : ""));
    case PostFailure::None:
    case PostFailure::Other:
      break;
  }
  return judgement("failed", "The request failed before an answer came.",
                   "The system's words above say why. Run the checker with --post again; if it "
                   "fails again, send this report (--json) with your question.");
}

}  // namespace

std::string UrlHost(std::string_view url) {
  const std::size_t scheme = url.find("://");
  std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  return std::string(rest.substr(0, rest.find(':')));
}

std::string UrlPath(std::string_view url) {
  const std::size_t scheme = url.find("://");
  const std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
  const std::size_t slash = rest.find('/');
  return slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
}

PostJudgement JudgePost(const PostExchange& exchange, std::string_view url) {
  const std::string host = UrlHost(url);
  const int status = exchange.Status;
  // A proxy that wants a login answers in the service's place; the service was not reached.
  if (exchange.Failure != PostFailure::None || status == 407) {
    PostExchange proxyAnswer = exchange;
    if (status == 407) {
      proxyAnswer.Failure = PostFailure::Proxy;
      proxyAnswer.ProxyAnswer = 407;
    }
    return NotReached(proxyAnswer, host);
  }
  const std::string answer = StatusWords(exchange);
  const auto refused = [](std::string kind, std::string meaning, std::string step) {
    return PostJudgement{PostOutcome::Refused, std::move(kind), std::move(meaning),
                         std::move(step)};
  };
  if (status >= 200 && status < 300) {
    return {PostOutcome::Accepted, "accepted",
            "The service accepted the heartbeat (" + answer +
                "): this machine reaches the service, and the service takes the token.",
            "If the server still does not show up in the list, check that the heartbeat's "
            "\"ip\" and \"port\" are the ones players connect to; the plugin itself reports every "
            "minute while the server runs."};
  }
  if (status == 401 || status == 403) {
    return refused("token refused",
                   "The service refused the heartbeat (" + answer +
                       "), most likely because of the token: mistyped, revoked, or issued for "
                       "another server.",
                   "Copy the token again from the service into config.json (--show-token shows "
                   "the one the plugin reads, to compare), restart the server, and run the "
                   "checker with --post again.");
  }
  if (status == 404) {
    return refused("not the endpoint",
                   "The endpoint answered " + answer + ": " + std::string(url) +
                       " is not the service's heartbeat endpoint, so this package was built for "
                       "another service, or the service has moved its endpoint.",
                   "Install the release package made for your server list: the endpoint is "
                   "built into the package, and no setting changes it.");
  }
  if (status == 429) {
    return refused("too many requests",
                   "The service answered " + answer +
                       ": it takes only so many heartbeats in a while from one server or one "
                       "address.",
                   "Wait a few minutes, then try again. Several servers that send with one "
                   "token, or checks run one after another, use up the allowance too.");
  }
  if (status >= 500 && status < 600) {
    return refused("service trouble",
                   "The service answered " + answer +
                       ": the trouble is on the service's side, not in this server's set-up.",
                   "Try again later; if it lasts, tell the service's operators, with this report "
                   "(--json).");
  }
  if (status >= 300 && status < 400) {
    return refused("redirect",
                   "The endpoint answered " + answer +
                       ", sending the heartbeat elsewhere; the checker follows no redirect, since "
                       "the heartbeat carries the token and goes to the built-in endpoint alone.",
                   "The service has moved its endpoint: install a release package made for the "
                   "new one.");
  }
  return refused("not accepted", "The endpoint answered " + answer + " and did not take it.",
                 "Tell the service's operators, with this report (--json); the answer's body may "
                 "say why.");
}

int PostExitStatus(PostOutcome outcome) {
  switch (outcome) {
    case PostOutcome::Accepted:
      return 0;
    case PostOutcome::Refused:
      return 4;
    case PostOutcome::NotReached:
      return 5;
  }
  return 5;
}

std::string ShownBody(std::string_view body, std::string_view token, bool showToken) {
  std::string shown(body);
  if (!showToken && !token.empty()) {
    // The token as sent, and as a JSON answer may write it back, escaped.
    const std::string masked = MaskToken(token);
    for (const std::string& form : {std::string(token), EscapeJson(token)}) {
      for (std::size_t at = 0; (at = shown.find(form, at)) != std::string::npos;) {
        shown.replace(at, form.size(), masked);
        at += masked.size();
      }
    }
  }
  if (shown.size() > kShownBodyBytes) {
    shown.resize(CompleteUtf8Length(std::string_view(shown).substr(0, kShownBodyBytes)));
  }
  return shown;
}

namespace {

// How much of the answer's body the report shows, when not all of it.
std::string BodyExtent(const PostExchange& exchange, std::size_t shown) {
  if (exchange.BodyCut) {
    return "the first " + std::to_string(shown) + " bytes of more than " +
           std::to_string(kReadBodyBytes) + "; the checker reads no more";
  }
  if (shown < exchange.Body.size()) {
    return "the first " + std::to_string(shown) + " bytes of " +
           std::to_string(exchange.Body.size());
  }
  return {};
}

// The exchange as the report shows it: the token masked (unless showToken) in every text that
// comes from the other end, the body cut to kShownBodyBytes, the rest to a line's length; the
// proxy's user name and password masked, always, in its address and in the transport's words,
// which may quote the setting (the other end never gets them: they go to the proxy alone).
PostExchange ShownExchange(const PostRecord& record, bool showToken) {
  PostExchange shown = record.Exchange;
  shown.Proxy = MaskProxy(record.Exchange.Proxy);
  shown.Reason = AnswerText(shown.Reason, record.Token, showToken, 100);
  shown.Location = AnswerText(shown.Location, record.Token, showToken, 300);
  shown.SystemWords = AnswerText(MaskProxyIn(shown.SystemWords, record.Exchange.Proxy),
                                 record.Token, showToken, 500);
  shown.Body = ShownBody(shown.Body, record.Token, showToken);
  return shown;
}

}  // namespace

std::string PostText(const PostRecord& record, bool showToken) {
  if (!record.NotSent.empty()) {
    return "\nHeartbeat not sent (--post): " + Printable(record.NotSent) + ".\n";
  }
  const PostExchange exchange = ShownExchange(record, showToken);
  const PostJudgement judgement = JudgePost(exchange, record.Url);
  const auto line = [](std::string_view label, const std::string& value) {
    return "  " + Padded(label, 14) + value + "\n";
  };
  std::string out = "\nHeartbeat sent to the service (--post)\n";
  out += line("Endpoint", Printable(record.Url));
  out += line("Route", exchange.Proxy.empty() ? "direct, no proxy"
                                              : "through " + Printable(ProxyWords(exchange)));
  out += line("Sent", Printable(showToken ? record.Document : record.ShownDocument));
  out += line("", Printable(record.StatusReason) + ".");
  const std::string took = ", after " + std::to_string(exchange.Took.count()) + " ms";
  const bool answered = exchange.Failure == PostFailure::None;
  if (answered) {
    out += line("Answer", Printable(StatusWords(exchange)) + took);
    const std::string extent = BodyExtent(record.Exchange, exchange.Body.size());
    // The line break that ends most bodies is no part of what they say: the text shows the body
    // without it, the JSON as it came.
    std::string_view body = exchange.Body;
    while (body.ends_with('\n') || body.ends_with('\r')) body.remove_suffix(1);
    if (body.empty()) body = exchange.Body;
    out += line("Body", body.empty() ? "(empty)" : Printable(body));
    if (!extent.empty()) out += line("", "(" + extent + ")");
    if (!exchange.Location.empty()) out += line("Redirect to", Printable(exchange.Location));
  } else {
    out += line("Answer", "none" + took);
  }
  if (!exchange.SystemWords.empty()) {
    out += line(answered ? "System" : "Why", Printable(exchange.SystemWords));
  }
  out += "\nResult: " + OutcomeName(judgement.Outcome) + ". " + Printable(judgement.Meaning) + "\n";
  out += "Next step: " + Printable(judgement.NextStep) + "\n";
  return out;
}

std::string PostJson(const PostRecord& record, bool showToken) {
  std::string out = "{\"sent\":";
  out += record.NotSent.empty() ? "true" : "false";
  out += ",\"not_sent\":";
  out += JsonTextOrNull(record.NotSent);
  out += ",\"endpoint\":";
  out += JsonString(record.Url);
  if (!record.NotSent.empty()) return out + "}";
  const PostExchange exchange = ShownExchange(record, showToken);
  const PostJudgement judgement = JudgePost(exchange, record.Url);
  const bool answered = exchange.Failure == PostFailure::None;
  out += ",\"proxy\":";
  out += JsonTextOrNull(exchange.Proxy);
  out += ",\"proxy_source\":";
  out += JsonTextOrNull(exchange.Proxy.empty() ? "" : exchange.ProxySource);
  out += ",\"status\":";
  out += JsonString(record.Status);
  out += ",\"status_reason\":";
  out += JsonString(record.StatusReason);
  // The body exactly as sent, its token masked unless showToken.
  out += ",\"document\":";
  out += showToken ? record.Document : record.ShownDocument;
  out += ",\"took_ms\":";
  out += std::to_string(exchange.Took.count());
  out += ",\"http_status\":";
  out += answered ? std::to_string(exchange.Status) : "null";
  out += ",\"reason\":";
  out += answered ? JsonString(exchange.Reason) : "null";
  out += ",\"location\":";
  out += JsonTextOrNull(exchange.Location);
  out += ",\"body\":";
  out += answered ? JsonString(exchange.Body) : "null";
  out += ",\"body_bytes\":";
  out += std::to_string(record.Exchange.Body.size());
  out += ",\"body_cut\":";
  out += exchange.BodyCut ? "true" : "false";
  out += ",\"system_words\":";
  out += JsonTextOrNull(exchange.SystemWords);
  out += ",\"outcome\":";
  out += JsonString(OutcomeName(judgement.Outcome));
  out += ",\"kind\":";
  out += JsonString(judgement.Kind);
  out += ",\"meaning\":";
  out += JsonString(judgement.Meaning);
  out += ",\"next_step\":";
  out += JsonString(judgement.NextStep);
  out += ",\"exit_status\":";
  out += std::to_string(PostExitStatus(judgement.Outcome));
  return out + "}";
}

std::string_view WinHttpErrorMeaning(unsigned long error) {
  switch (error) {
    case 12001:
      return "WinHTTP has no handles left";
    case 12002:
      return "the request timed out";
    case 12004:
      return "WinHTTP failed inside itself";
    case 12005:
      return "the URL is not valid";
    case 12006:
      return "the URL's scheme is neither http nor https";
    case 12007:
      return "the name could not be resolved to an address";
    case 12015:
      return "the login to the service or the proxy failed";
    case 12017:
      return "the request was cancelled";
    case 12029:
      return "no connection could be made";
    case 12030:
      return "the connection was reset or closed before the answer came";
    case 12032:
      return "the request would have to be sent again";
    case 12037:
      return "the certificate is out of date, or this machine's clock is wrong";
    case 12038:
      return "the certificate is for another name";
    case 12044:
      return "the other end asks for a client certificate";
    case 12045:
      return "this machine does not trust the certificate's authority";
    case 12057:
      return "whether the certificate was revoked could not be checked";
    case 12152:
      return "the answer is no HTTP this machine can read";
    case 12156:
      return "the redirect failed";
    case 12157:
      return "the secure channel could not be set up";
    case 12166:
      return "the proxy's configuration script has an error";
    case 12167:
      return "the proxy's configuration script could not be downloaded";
    case 12169:
      return "the certificate is not valid";
    case 12170:
      return "the certificate was revoked";
    case 12175:
      return "the secure connection failed: the certificate was not accepted";
    case 12178:
      return "the service that finds the proxy failed";
    case 12179:
      return "the certificate is not one for a server";
    case 12180:
      return "no proxy configuration could be found automatically";
    case 12181:
    case 12182:
      return "the answer's headers are too many or too large";
    case 12188:
      return "the secure connection to the proxy failed";
    case 12190:
      return "the two ends agree on no version of HTTP";
    default:
      return {};
  }
}

std::optional<ProxySetting> ProxyFromEnvironment(
    std::string_view host, const std::function<std::optional<std::string>(const char*)>& variable) {
  const auto first = [&](std::initializer_list<const char*> names) -> std::optional<ProxySetting> {
    for (const char* name : names) {
      std::optional<std::string> value = variable(name);
      if (value && !value->empty()) return ProxySetting{std::move(*value), name};
    }
    return std::nullopt;
  };
  std::optional<ProxySetting> proxy =
      first({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"});
  if (!proxy) return std::nullopt;
  const std::optional<ProxySetting> exempt = first({"no_proxy", "NO_PROXY"});
  if (!exempt) return proxy;
  // Names separated by commas or blanks; a name matches itself and every name below it.
  const std::string name = LowerAscii(host);
  const std::string& list = exempt->Proxy;
  for (std::size_t start = 0; start < list.size();) {
    std::size_t end = list.find_first_of(", \t", start);
    if (end == std::string::npos) end = list.size();
    std::string entry = LowerAscii(std::string_view(list).substr(start, end - start));
    start = end + 1;
    if (entry == "*") return std::nullopt;
    if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
    if (entry.empty()) continue;
    if (name == entry || (name.size() > entry.size() && name.ends_with(entry) &&
                          name[name.size() - entry.size() - 1] == '.')) {
      return std::nullopt;
    }
  }
  return proxy;
}

PostRecord PreparePost(const CheckReport& report, std::string url) {
  PostRecord record;
  record.Url = std::move(url);
  if (!report.NotRead.empty()) {
    record.NotSent =
        "the checker did not read the server's files, so it cannot tell what the plugin would "
        "send; run it with sudo";
    return record;
  }
  if (!report.WouldReport) {
    record.NotSent =
        "the plugin would stay idle and send no heartbeat, so neither does the checker; fix "
        "what the verdict lists first";
    return record;
  }
  const CommandLineOrigin& origin = report.Origin;
  std::string why;
  switch (origin.Source) {
    case CommandLineSource::RunningServer:
      why = "this install's server is running";
      if (origin.Id) why += " (process " + std::to_string(*origin.Id) + ")";
      break;
    case CommandLineSource::Option:
    case CommandLineSource::File:
      why = "the command line was given, not read from a running server";
      break;
    case CommandLineSource::NotRunning:
      why = "no server of this install is running";
      break;
    case CommandLineSource::Refused:
    case CommandLineSource::Unreadable:
    case CommandLineSource::NotThisInstall:
      why = "the checker read no running server of this install";
      break;
  }
  const bool running = origin.Source == CommandLineSource::RunningServer;
  record.Status = running ? "online" : "offline";
  record.StatusReason =
      why + (running ? ", so the heartbeat says \"online\", as the plugin's own do"
                     : ", so the heartbeat says \"offline\": a check never lists a server that "
                       "may be down");
  CheckReport sent = report;
  sent.DocumentStatus = record.Status;
  record.Document = WouldSendDocument(sent, true).value_or("");
  record.ShownDocument = WouldSendDocument(sent, false).value_or("");
  record.Token = report.Facts.Token;
  return record;
}

}  // namespace vesperline::check
